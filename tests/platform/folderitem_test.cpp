#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/folderitem.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

unsigned ModeOf(const fs::path& p) {
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return ~0u;
  return st.st_mode & 07777;
}

// Sets or unsets an environment variable for one test and puts it back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

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
    case Parent::Folder: fs::create_directory(folder); break;
    case Parent::FolderWithSlash: fs::create_directory(folder); parentPath += "/"; break;
    case Parent::Missing: break;
    case Parent::File: WriteFile(folder, "not a folder"); break;
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
                    ChildCase{"ParentWithTrailingSlash", Parent::FolderWithSlash, "ORVANDE.json",
                              false, true},
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

TEST_P(ApplicationData, FollowsXdgThenHome) {
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
  EXPECT_TRUE(folder->IsFolder());
  EXPECT_EQ(ModeOf(expected), c.existsBefore ? 0755u : 0700u);
  EXPECT_FALSE(fs::exists(dir.path() / "rel"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApplicationData,
    testing::Values(
        AppDataCase{"XdgAbsoluteMissing", "@/xdg", "@/home", "@/xdg", false},
        AppDataCase{"XdgAbsoluteExisting", "@/xdg", "@/home", "@/xdg", true},
        AppDataCase{"XdgRelativeFallsBackToHome", "rel", "@/home", "@/home/.config", false},
        AppDataCase{"XdgEmpty", "", "@/home", "@/home/.config", false},
        AppDataCase{"XdgUnset", std::nullopt, "@/home", "@/home/.config", false},
        AppDataCase{"HomeWithTrailingSlash", std::nullopt, "@/home/", "@/home/.config", false},
        AppDataCase{"HomeConfigExisting", std::nullopt, "@/home", "@/home/.config", true},
        AppDataCase{"NeitherSet", std::nullopt, std::nullopt, "", false},
        AppDataCase{"HomeEmpty", std::nullopt, "", "", false},
        AppDataCase{"XdgRelativeNoHome", "rel", std::nullopt, "", false}),
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
    case Kind::File: WriteFile(item, "{}"); break;
    case Kind::EmptyFolder: fs::create_directory(item); break;
    case Kind::FolderWithItems:
      fs::create_directory(item);
      WriteFile(item / "notes.txt", "keep me");
      break;
    case Kind::Missing: break;
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

INSTANTIATE_TEST_SUITE_P(
    Cases, FolderItemDelete,
    testing::Values(DeleteCase{"File", Kind::File, 0, false},
                    DeleteCase{"EmptyFolder", Kind::EmptyFolder, 0, false},
                    DeleteCase{"FolderWithItems", Kind::FolderWithItems, ENOTEMPTY, true},
                    DeleteCase{"Missing", Kind::Missing, ENOENT, false},
                    DeleteCase{"LinkToFolder", Kind::LinkToFolder, 0, false}),
    [](const auto& info) { return std::string(info.param.what); });
