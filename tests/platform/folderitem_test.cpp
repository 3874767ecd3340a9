#include "platform/folderitem.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "support/posix_support.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testsupport::kNobody;
using testsupport::ModeOf;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

// "@" at the start of a text stands for the test's temporary folder.
std::string Expand(const std::string& text, const TempDir& dir) {
  return !text.empty() && text[0] == '@' ? dir.str() + text.substr(1) : text;
}

}  // namespace

// Child

enum class Parent { Folder, FolderWithSlash, Missing, File };

struct ChildCase {
  const char* what;
  Parent parent;
  const char* name;
  bool childExists;
  bool expectItem;
};

class FolderItemChild : public testing::TestWithParam<ChildCase> {};

TEST_P(FolderItemChild, GivesAnItemOnlyInsideAnExistingFolder) {
  const ChildCase& c = GetParam();
  TempDir dir;
  fs::path folder = dir.path() / "ORVANDE";
  std::string parentPath = folder.string();
  switch (c.parent) {
    case Parent::Folder:
      fs::create_directory(folder);
      break;
    case Parent::FolderWithSlash:
      fs::create_directory(folder);
      parentPath += "/";
      break;
    case Parent::Missing:
      break;
    case Parent::File:
      WriteFile(folder, "not a folder");
      break;
  }
  if (c.childExists) WriteFile(folder / c.name, "{}");

  auto child = FolderItem(parentPath).Child(c.name);
  if (!c.expectItem) {
    EXPECT_EQ(child, nullptr);
    return;
  }
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->NativePath(), (folder / c.name).string());
  EXPECT_EQ(child->Exists(), c.childExists);
  EXPECT_FALSE(child->IsFolder());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FolderItemChild,
    testing::Values(ChildCase{"MissingChildOfFolder", Parent::Folder, "ORVANDE.json", false, true},
                    ChildCase{"ExistingChildOfFolder", Parent::Folder, "ORVANDE.json", true, true},
                    ChildCase{"ParentWithTrailingSlash", Parent::FolderWithSlash, "ORVANDE.json", false,
                              true},
                    ChildCase{"MissingParent", Parent::Missing, "ORVANDE.json", false, false},
                    ChildCase{"ParentIsAFile", Parent::File, "ORVANDE.json", false, false},
                    ChildCase{"EmptyName", Parent::Folder, "", false, false},
                    ChildCase{"DotDot", Parent::Folder, "..", false, false},
                    ChildCase{"NameWithSlash", Parent::Folder, "../ORVANDE.json", false, false}),
    [](const auto& info) { return std::string(info.param.what); });

// SpecialFolder::ApplicationData

struct AppDataCase {
  const char* what;
  std::optional<std::string> xdg;
  std::optional<std::string> home;
  const char* expected;  // "" for nil
  bool existsBefore;     // the expected folder is there, mode 0755
};

class ApplicationData : public testing::TestWithParam<AppDataCase> {};

TEST_P(ApplicationData, FollowsXdgThenHomeAndMakesNothing) {
  const AppDataCase& c = GetParam();
  TempDir dir;
  fs::create_directory(dir.path() / "home");
  std::string expected = Expand(c.expected, dir);
  if (c.existsBefore) {
    fs::create_directory(expected);
    fs::permissions(expected, static_cast<fs::perms>(0755));
  }
  // Relative values are taken from a folder where nothing may be made.
  fs::path here = fs::current_path();
  fs::current_path(dir.path());
  ScopedUmask mask(0);
  ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg ? std::optional(Expand(*c.xdg, dir)) : std::nullopt);
  ScopedEnv home("HOME", c.home ? std::optional(Expand(*c.home, dir)) : std::nullopt);

  auto folder = SpecialFolder::ApplicationData();
  fs::current_path(here);

  if (expected.empty()) {
    EXPECT_EQ(folder, nullptr);
    EXPECT_FALSE(fs::exists(dir.path() / "rel"));
    return;
  }
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->NativePath(), expected);
  EXPECT_EQ(folder->LastErrorCode(), 0);
  // Only named: what was missing is missing still, and what was there
  // keeps its mode.
  EXPECT_EQ(folder->IsFolder(), c.existsBefore);
  if (c.existsBefore) {
    EXPECT_EQ(ModeOf(expected), 0755u);
  }
  std::vector<std::string> entries;
  for (const auto& e : fs::recursive_directory_iterator(dir.path())) entries.push_back(e.path().string());
  std::sort(entries.begin(), entries.end());
  std::vector<std::string> before = {dir.str() + "/home"};
  if (c.existsBefore && expected != dir.str() + "/home") before.push_back(expected);
  std::sort(before.begin(), before.end());
  EXPECT_EQ(entries, before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApplicationData,
    testing::Values(AppDataCase{"XdgAbsoluteMissing", "@/xdg", "@/home", "@/xdg", false},
                    AppDataCase{"XdgAbsoluteExisting", "@/xdg", "@/home", "@/xdg", true},
                    AppDataCase{"XdgRelativeFallsBackToHome", "rel", "@/home", "@/home/.config", false},
                    AppDataCase{"XdgEmpty", "", "@/home", "@/home/.config", false},
                    AppDataCase{"XdgUnset", std::nullopt, "@/home", "@/home/.config", false},
                    AppDataCase{"HomeWithTrailingSlash", std::nullopt, "@/home/", "@/home/.config", false},
                    AppDataCase{"HomeConfigExisting", std::nullopt, "@/home", "@/home/.config", true},
                    AppDataCase{"XdgMissingNested", "@/a/b/xdg", "@/home", "@/a/b/xdg", false},
                    AppDataCase{"HomeMissing", std::nullopt, "@/gone/home", "@/gone/home/.config", false}),
    [](const auto& info) { return std::string(info.param.what); });

// CreateAsFolderWithParents: what a save makes of a missing application-data
// folder.

TEST(FolderItemCreateAsFolderWithParents, MissingOnesAreMadePrivateAndExistingOnesKeepTheirMode) {
  TempDir dir;
  ScopedUmask mask(0);
  fs::create_directory(dir.path() / "kept");
  fs::permissions(dir.path() / "kept", static_cast<fs::perms>(0755));
  FolderItem folder(dir.str() + "/kept/made/also//xdg/");
  folder.CreateAsFolderWithParents();
  EXPECT_TRUE(folder.IsFolder());
  EXPECT_EQ(folder.LastErrorCode(), 0);
  EXPECT_EQ(ModeOf(dir.path() / "kept"), 0755u);
  EXPECT_EQ(ModeOf(dir.path() / "kept/made"), 0700u);
  EXPECT_EQ(ModeOf(dir.path() / "kept/made/also"), 0700u);
  EXPECT_EQ(ModeOf(dir.path() / "kept/made/also/xdg"), 0700u);
  // Again, with everything there: nothing changes, and no error.
  folder.CreateAsFolderWithParents();
  EXPECT_EQ(folder.LastErrorCode(), 0);
  EXPECT_NO_THROW(folder.RequireFolder());
}

// A folder that cannot be made keeps the error on the item, and
// RequireFolder then reports it by the item's path.
TEST(FolderItemCreateAsFolderWithParents, AFileInTheWayIsKeptAsTheErrorAndReportedByName) {
  TempDir dir;
  WriteFile(dir.path() / "file", "not a folder");
  struct Case {
    std::string path;
    const char* verb;
  };
  for (const Case& c : {Case{dir.str() + "/file", "use"}, Case{dir.str() + "/file/xdg", "make"}}) {
    SCOPED_TRACE(c.path);
    FolderItem folder(c.path);
    folder.CreateAsFolderWithParents();
    EXPECT_EQ(folder.LastErrorCode(), ENOTDIR);
    EXPECT_FALSE(folder.IsFolder());
    try {
      folder.RequireFolder();
      ADD_FAILURE() << "no exception";
    } catch (const IOException& e) {
      EXPECT_EQ(e.Message, std::string("cannot ") + c.verb + " folder " + c.path + ": Not a directory");
      EXPECT_EQ(e.ErrorNumber, ENOTDIR);
    }
  }
  EXPECT_EQ(ReadFile(dir.path() / "file"), "not a folder");
}

// With neither variable giving a path, the home folder is the password
// database's, as desktop programs take it. The lookup runs in a child: as
// user nobody when this is root (whose real home must not be written in),
// else as this user only where its .config is there already, so that the
// test makes nothing in a real home.
struct PasswdCase {
  const char* what;
  std::optional<std::string> xdg;
  std::optional<std::string> home;
};

class ApplicationDataPasswd : public testing::TestWithParam<PasswdCase> {};

TEST_P(ApplicationDataPasswd, FallsBackToThePasswordDatabasesHome) {
  const PasswdCase& c = GetParam();
  TempDir dir;
  fs::permissions(dir.path(), static_cast<fs::perms>(0755));
  testsupport::WriteFile(dir.path() / "result", "");
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown((dir.path() / "result").c_str(), kNobody, kNobody), 0);
  }
  // In a child as user nobody: nothing leaves it but its exit code.
  const auto inChild = [&] {
    struct passwd* entry = ::getpwuid(::getuid());
    if (!entry || !entry->pw_dir || entry->pw_dir[0] != '/') return 77;
    const std::string expected = std::string(entry->pw_dir) + (entry->pw_dir[1] ? "/" : "") + ".config";
    struct stat st;
    const bool existed = ::stat(expected.c_str(), &st) == 0;
    // Could this make a folder in a real home?
    if (!existed && ::access(entry->pw_dir, W_OK) == 0) return 78;
    // Relative values are taken from a folder where nothing may be made.
    if (::chdir(dir.str().c_str()) != 0) return 11;
    ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
    ScopedEnv home("HOME", c.home);
    auto folder = SpecialFolder::ApplicationData();
    std::string out = folder ? folder->NativePath() + "|" + (folder->IsFolder() ? "folder" : "none") : "nil";
    out += "|" + expected + "|" + (existed ? "folder" : "none");
    WriteFile(dir.path() / "result", out);
    return 0;
  };
  const int code = testsupport::RunInChild(inChild, true).code;
  if (code == 77) GTEST_SKIP() << "this user has no home folder in the password database";
  if (code == 78) {
    GTEST_SKIP() << "the password database's home has no .config and could be written in: not touched";
  }
  ASSERT_EQ(code, 0);
  const std::string out = ReadFile(dir.path() / "result");
  auto bar = out.find('|');
  ASSERT_NE(bar, std::string::npos) << out;
  auto bar2 = out.find('|', bar + 1);
  auto bar3 = out.find('|', bar2 + 1);
  const std::string expected = out.substr(bar2 + 1, bar3 - bar2 - 1);
  EXPECT_EQ(out.substr(0, bar), expected) << out;
  // As it was: a folder there stays one, and none is made where none can be.
  EXPECT_EQ(out.substr(bar + 1, bar2 - bar - 1), out.substr(bar3 + 1)) << out;
  EXPECT_FALSE(fs::exists(dir.path() / "rel"));
}

INSTANTIATE_TEST_SUITE_P(Cases, ApplicationDataPasswd,
                         testing::Values(PasswdCase{"NeitherSet", std::nullopt, std::nullopt},
                                         PasswdCase{"HomeEmpty", std::nullopt, ""},
                                         PasswdCase{"XdgRelativeNoHome", "rel", std::nullopt}),
                         [](const auto& info) { return std::string(info.param.what); });

// CreateAsFolder

TEST(FolderItemCreateAsFolder, MakesTheFolderAndReportsEachOutcome) {
  TempDir dir;
  ScopedUmask mask(027);
  FolderItem folder((dir.path() / "ORVANDE").string());

  folder.CreateAsFolder();
  EXPECT_EQ(folder.LastErrorCode(), 0);
  EXPECT_TRUE(folder.IsFolder());
  EXPECT_EQ(ModeOf(folder.NativePath()), 0750u);

  folder.CreateAsFolder();
  EXPECT_EQ(folder.LastErrorCode(), EEXIST);

  folder.Delete();
  EXPECT_EQ(folder.LastErrorCode(), 0) << "a success clears the last error";

  FolderItem orphan((dir.path() / "missing" / "ORVANDE").string());
  orphan.CreateAsFolder();
  EXPECT_EQ(orphan.LastErrorCode(), ENOENT);
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));
}

// Delete

enum class Kind { File, EmptyFolder, FolderWithItems, Missing, LinkToFolder };

struct DeleteCase {
  const char* what;
  Kind kind;
  int expectedError;
  bool staysAfter;
};

class FolderItemDelete : public testing::TestWithParam<DeleteCase> {};

TEST_P(FolderItemDelete, RemovesOneItemAndNeverWhatItHolds) {
  const DeleteCase& c = GetParam();
  TempDir dir;
  fs::path item = dir.path() / "ORVANDE";
  fs::path other = dir.path() / "elsewhere";
  switch (c.kind) {
    case Kind::File:
      WriteFile(item, "{}");
      break;
    case Kind::EmptyFolder:
      fs::create_directory(item);
      break;
    case Kind::FolderWithItems:
      fs::create_directory(item);
      WriteFile(item / "notes.txt", "keep me");
      break;
    case Kind::Missing:
      break;
    case Kind::LinkToFolder:
      fs::create_directory(other);
      WriteFile(other / "notes.txt", "keep me");
      fs::create_directory_symlink(other, item);
      break;
  }

  FolderItem folderItem(item.string());
  folderItem.Delete();
  EXPECT_EQ(folderItem.LastErrorCode(), c.expectedError);
  EXPECT_EQ(fs::exists(fs::symlink_status(item)), c.staysAfter);
  if (c.kind == Kind::FolderWithItems) {
    EXPECT_EQ(testsupport::ReadFile(item / "notes.txt"), "keep me");
  }
  if (c.kind == Kind::LinkToFolder) {
    EXPECT_EQ(testsupport::ReadFile(other / "notes.txt"), "keep me");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FolderItemDelete,
                         testing::Values(DeleteCase{"File", Kind::File, 0, false},
                                         DeleteCase{"EmptyFolder", Kind::EmptyFolder, 0, false},
                                         DeleteCase{"FolderWithItems", Kind::FolderWithItems, ENOTEMPTY,
                                                    true},
                                         DeleteCase{"Missing", Kind::Missing, ENOENT, false},
                                         DeleteCase{"LinkToFolder", Kind::LinkToFolder, 0, false}),
                         [](const auto& info) { return std::string(info.param.what); });

// RequireFolder

enum class Place { Folder, LinkToFolder, File, Missing, MissingAfterFailedMaking, UnderAFile };

struct RequireCase {
  const char* what;
  Place place;
  const char* verb;  // "" when it passes
  int error;
};

class FolderItemRequireFolder : public testing::TestWithParam<RequireCase> {};

TEST_P(FolderItemRequireFolder, PassesOnlyForAFolderAndNamesThePathOtherwise) {
  const RequireCase& c = GetParam();
  TempDir dir;
  fs::path path = dir.path() / "ORVANDE";
  switch (c.place) {
    case Place::Folder:
      fs::create_directory(path);
      break;
    case Place::LinkToFolder:
      fs::create_directory(dir.path() / "real");
      fs::create_directory_symlink(dir.path() / "real", path);
      break;
    case Place::File:
      WriteFile(path, "not a folder");
      break;
    case Place::Missing:
      break;
    case Place::MissingAfterFailedMaking:
      path = dir.path() / "missing" / "ORVANDE";
      break;
    case Place::UnderAFile:
      WriteFile(dir.path() / "file", "");
      path = dir.path() / "file" / "ORVANDE";
      break;
  }
  FolderItem item(path.string());
  if (c.place == Place::MissingAfterFailedMaking || c.place == Place::UnderAFile) item.CreateAsFolder();
  if (std::string(c.verb).empty()) {
    EXPECT_NO_THROW(item.RequireFolder());
    return;
  }
  try {
    item.RequireFolder();
    FAIL() << "no exception";
  } catch (const IOException& e) {
    EXPECT_EQ(e.ErrorNumber, c.error);
    EXPECT_EQ(item.LastErrorCode(), c.error);
    EXPECT_EQ(e.Message, std::string("cannot ") + c.verb + " folder " + path.string() + ": " +
                             std::generic_category().message(c.error));
  }
  EXPECT_FALSE(fs::is_directory(path)) << "RequireFolder makes nothing";
}

INSTANTIATE_TEST_SUITE_P(Cases, FolderItemRequireFolder,
                         testing::Values(RequireCase{"Folder", Place::Folder, "", 0},
                                         RequireCase{"LinkToFolder", Place::LinkToFolder, "", 0},
                                         RequireCase{"File", Place::File, "use", ENOTDIR},
                                         RequireCase{"MissingNothingTried", Place::Missing, "make", ENOENT},
                                         RequireCase{"MissingAfterFailedMaking",
                                                     Place::MissingAfterFailedMaking, "make", ENOENT},
                                         RequireCase{"UnderAFile", Place::UnderAFile, "make", ENOTDIR}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(FolderItemRequireFolder, ReportsTheApplicationDataFolderThatCouldNotBeMade) {
  TempDir dir;
  fs::create_directory(dir.path() / "locked");
  fs::permissions(dir.path(), static_cast<fs::perms>(0755));
  fs::permissions(dir.path() / "locked", static_cast<fs::perms>(0555));
  const std::string xdgPath = dir.str() + "/locked/xdg";
  // Root passes every permission check: the making runs as user nobody.
  // In a child as user nobody: nothing leaves it but its exit code.
  const auto inChild = [&] {
    ScopedEnv xdg("XDG_CONFIG_HOME", xdgPath);
    auto folder = SpecialFolder::ApplicationData();
    if (!folder) return 11;
    folder->CreateAsFolderWithParents();
    if (folder->LastErrorCode() != EACCES) return 14;
    try {
      folder->RequireFolder();
    } catch (const IOException& e) {
      return e.Message == "cannot make folder " + xdgPath + ": Permission denied" && e.ErrorNumber == EACCES
                 ? 0
                 : 12;
    }
    return 13;
  };
  const int code = testsupport::RunInChild(inChild, true).code;
  EXPECT_EQ(code, 0);
  EXPECT_FALSE(fs::exists(xdgPath));
}

// IsAlias

TEST(FolderItemIsAlias, IsTrueForLinksOnlyDanglingOnesIncluded) {
  TempDir dir;
  WriteFile(dir.path() / "file", "x");
  fs::create_symlink(dir.path() / "file", dir.path() / "link");
  fs::create_symlink(dir.path() / "nowhere", dir.path() / "dangling");
  EXPECT_FALSE(FolderItem((dir.path() / "file").string()).IsAlias());
  EXPECT_TRUE(FolderItem((dir.path() / "link").string()).IsAlias());
  EXPECT_TRUE(FolderItem((dir.path() / "dangling").string()).IsAlias());
  EXPECT_FALSE(FolderItem((dir.path() / "dangling").string()).Exists());
  EXPECT_FALSE(FolderItem((dir.path() / "missing").string()).IsAlias());
}

// SetAside

namespace {

// The entries of a folder that start with the prefix, sorted.
std::vector<std::string> EntriesStartingWith(const fs::path& folder, const std::string& prefix) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) {
    std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// "<stem>.unreadable-YYYYMMDD-HHMMSS", perhaps with "-N" after it.
bool IsAsideName(const std::string& name, const std::string& stem) {
  const std::string head = stem + ".unreadable-";
  if (name.rfind(head, 0) != 0) return false;
  std::string rest = name.substr(head.size());
  if (rest.size() < 15 || rest[8] != '-') return false;
  for (std::size_t i = 0; i < 15; ++i) {
    if (i != 8 && !std::isdigit(static_cast<unsigned char>(rest[i]))) return false;
  }
  return rest.size() == 15 || (rest[15] == '-' && rest.size() > 16);
}

}  // namespace

enum class AsideKind { File, LinkToFile, DanglingLink, Folder, Fifo };

struct AsideCase {
  const char* what;
  AsideKind kind;
};

class FolderItemSetAside : public testing::TestWithParam<AsideCase> {};

TEST_P(FolderItemSetAside, MovesTheItemItselfBesideItAndReplacesNothing) {
  const AsideCase& c = GetParam();
  TempDir dir;
  fs::path folder = dir.path() / "ORVANDE";
  fs::create_directory(folder);
  fs::path path = folder / "ORVANDE.json";
  fs::path outside = dir.path() / "dotfiles.json";
  const std::string text = "{\"port\":\"1\" \"x\"}";
  // The link's target is written once, before the first round only.
  if (c.kind == AsideKind::LinkToFile) WriteFile(outside, text);
  auto plant = [&] {
    switch (c.kind) {
      case AsideKind::File:
        WriteFile(path, text);
        break;
      case AsideKind::LinkToFile:
      case AsideKind::DanglingLink:
        fs::create_symlink(outside, path);
        break;
      case AsideKind::Folder:
        fs::create_directory(path);
        WriteFile(path / "inside", text);
        break;
      case AsideKind::Fifo:
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        break;
    }
  };
  ASSERT_NO_FATAL_FAILURE(plant());

  FolderItem item(path.string());
  std::vector<std::string> moved;
  for (int i = 0; i < 3; ++i) {
    auto aside = item.SetAside("unreadable");
    ASSERT_NE(aside, nullptr);
    EXPECT_EQ(item.LastErrorCode(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    EXPECT_EQ(fs::path(aside->NativePath()).parent_path(), folder);
    moved.push_back(fs::path(aside->NativePath()).filename().string());
    EXPECT_TRUE(IsAsideName(moved.back(), "ORVANDE.json")) << moved.back();
    // Put the same kind of thing back for the next round: the earlier
    // copies must stay as they are, whatever names they took.
    if (i < 2) {
      ASSERT_NO_FATAL_FAILURE(plant());
    }
  }
  std::sort(moved.begin(), moved.end());
  EXPECT_EQ(EntriesStartingWith(folder, "ORVANDE.json"), moved);
  EXPECT_EQ(std::set<std::string>(moved.begin(), moved.end()).size(), 3u) << "a copy was replaced";
  for (const auto& name : moved) {
    fs::path p = folder / name;
    switch (c.kind) {
      case AsideKind::File:
        EXPECT_EQ(ReadFile(p), text);
        break;
      case AsideKind::LinkToFile:
      case AsideKind::DanglingLink:
        EXPECT_TRUE(fs::is_symlink(p));
        EXPECT_EQ(fs::read_symlink(p), outside);
        break;
      case AsideKind::Folder:
        EXPECT_EQ(ReadFile(p / "inside"), text);
        break;
      case AsideKind::Fifo:
        EXPECT_TRUE(fs::is_fifo(fs::symlink_status(p)));
        break;
    }
  }
  if (c.kind == AsideKind::LinkToFile) {
    EXPECT_EQ(ReadFile(outside), text) << "what the link points to is never touched";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FolderItemSetAside,
                         testing::Values(AsideCase{"File", AsideKind::File},
                                         AsideCase{"LinkToFile", AsideKind::LinkToFile},
                                         AsideCase{"DanglingLink", AsideKind::DanglingLink},
                                         AsideCase{"Folder", AsideKind::Folder},
                                         AsideCase{"Fifo", AsideKind::Fifo}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(FolderItemSetAside, NothingThereGivesNilAndMovesNothing) {
  TempDir dir;
  WriteFile(dir.path() / "ORVANDE.json.unreadable-20261210-143205", "an earlier copy");
  FolderItem item((dir.path() / "ORVANDE.json").string());
  EXPECT_EQ(item.SetAside("unreadable"), nullptr);
  EXPECT_EQ(item.LastErrorCode(), 0);
  EXPECT_EQ(EntriesStartingWith(dir.path(), ""),
            std::vector<std::string>{"ORVANDE.json.unreadable-20261210-143205"});
}

TEST(FolderItemSetAside, AFolderThatCannotBeWrittenRaisesAndLeavesTheFile) {
  TempDir dir;
  fs::path folder = dir.path() / "ORVANDE";
  fs::create_directory(folder);
  WriteFile(folder / "ORVANDE.json", "x");
  fs::permissions(dir.path(), static_cast<fs::perms>(0755));
  fs::permissions(folder, static_cast<fs::perms>(0555));
  const std::string path = (folder / "ORVANDE.json").string();
  // In a child as user nobody: nothing leaves it but its exit code.
  const auto inChild = [&] {
    FolderItem item(path);
    try {
      item.SetAside("unreadable");
    } catch (const IOException& e) {
      return e.ErrorNumber == EACCES && item.LastErrorCode() == EACCES &&
                     e.Message == "cannot set aside " + path + ": Permission denied"
                 ? 0
                 : 12;
    }
    return 13;
  };
  const int code = testsupport::RunInChild(inChild, true).code;
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFile(folder / "ORVANDE.json"), "x");
  EXPECT_EQ(EntriesStartingWith(folder, ""), std::vector<std::string>{"ORVANDE.json"});
}
