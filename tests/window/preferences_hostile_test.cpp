// The settings file where a hostile environment or a careless user puts
// something odd, through the real window, offscreen: what the opening reads
// never hangs or runs away, what it could not read is kept at the next Start,
// a folder that cannot be used fails the Start by name, and leftovers of a
// killed save never block a save or a Reset.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/runtime.h"
#include "support/hostile_settings.h"
#include "support/posix_support.h"
#include "support/settings_text.h"
#include "support/window_fixture.h"
#include "window/design_data.h"

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

using hostile::Bad;
using hostile::HostileCase;
using hostile::kGood;
using hostile::kMissingComma;
using hostile::kMissingCommaError;
using testsupport::ModeOf;
using testsupport::ScopedEnv;

// The entries of a folder, sorted.
std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The names in the folder that a failed read set aside.
std::vector<std::string> AsideCopies(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& name : Entries(folder)) {
    if (name.rfind("ORVANDE.json.unreadable-", 0) == 0) names.push_back(name);
  }
  return names;
}

void Age(const fs::path& p, int seconds) {
  auto when = fs::last_write_time(p) - std::chrono::seconds(seconds);
  fs::last_write_time(p, when);
}

class HostileSettingsTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    // The server the Start buttons start: a script that notes its arguments
    // and ends, so no test has a server to stop.
    testsupport::WriteFile(server_.path() / "velmoor",
                           "#!/bin/sh\necho \"$@\" >> '" + (server_.path() / "started").string() + "'\n",
                           true);
    // A hang fails the test instead of holding it.
    ::alarm(60);
  }

  void TearDown() override {
    ::alarm(0);
    WindowFixture::TearDown();
  }

  // The window after its real opening, with what the opening wrote to stderr.
  MainWindow& OpenCapturing(std::string& errors) {
    testing::internal::CaptureStderr();
    MainWindow& w = Open();
    errors = testing::internal::GetCapturedStderr();
    Use(w.velmoor()).SetText(server_.str());
    return w;
  }

  // A click on Start, with what it wrote to stderr. The button's own action,
  // so that no other test's window, not yet deleted, can take the click.
  std::string ClickStart() {
    testing::internal::CaptureStderr();
    Use(window_).PushButton1()->RaiseAction();
    return testing::internal::GetCapturedStderr();
  }

  void ClickReset() { MainWindowProbe::PushButton2(Use(window_))->RaiseAction(); }

  bool ServerStarted() {
    return testsupport::PumpUntil([&] { return fs::exists(server_.path() / "started"); }, 5s);
  }

  // The settings the window saves when nothing was loaded or typed.
  std::string DefaultsSaved() const {
    return testsupport::SettingsText("127.0.0.1", "38008", server_.str(), "/Games", "No");
  }

  testsupport::TempDir server_;
  testsupport::TempDir outside_;  // a place beside the settings folder
};

// --- What the opening reads ---------------------------------------------------

class HostileSettings : public HostileSettingsTest, public ::testing::WithParamInterface<HostileCase> {
 protected:
  // What was planted, now under its aside name.
  void ExpectKept(Bad kind, const fs::path& aside, const std::optional<std::string>& bytes) {
    switch (kind) {
      case Bad::Fifo:
        EXPECT_TRUE(fs::is_fifo(fs::symlink_status(aside)));
        break;
      case Bad::LinkToFifo:
        EXPECT_TRUE(fs::is_symlink(aside));
        EXPECT_EQ(fs::read_symlink(aside), outside_.path() / "fifo");
        EXPECT_TRUE(fs::is_fifo(outside_.path() / "fifo"));
        break;
      case Bad::LinkToDevZero:
        EXPECT_TRUE(fs::is_symlink(aside));
        EXPECT_EQ(fs::read_symlink(aside), "/dev/zero");
        EXPECT_TRUE(fs::is_character_file("/dev/zero"));
        break;
      case Bad::Folder:
        EXPECT_EQ(testsupport::ReadFile(aside / "inside"), "mine");
        break;
      case Bad::LinkToUnparsableFile:
        EXPECT_TRUE(fs::is_symlink(aside));
        EXPECT_EQ(fs::read_symlink(aside), outside_.path() / "dotfiles.json");
        EXPECT_TRUE(testsupport::ReadFile(outside_.path() / "dotfiles.json") == *bytes)
            << "the link's target was changed";
        break;
      default:
        EXPECT_FALSE(fs::is_symlink(aside));
        EXPECT_TRUE(testsupport::ReadFile(aside) == *bytes) << "the kept copy differs";
    }
  }
};

TEST_P(HostileSettings, OneLineAtOnceThenKeptAsideAtStart) {
  const HostileCase& c = GetParam();
  std::optional<std::string> bytes;
  ASSERT_NO_THROW(bytes = hostile::Plant(c.kind, SettingsFile(), outside_.path()));
  const std::string path = SettingsFile().string();
  const std::string report = hostile::ReportFor(c, path);

  // The read alone, timed: it neither waits nor reads what it refuses.
  {
    MainWindow& probe = Open(false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(MainWindowProbe::LoadPreferences(probe), RuntimeException);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  }

  std::string errors;
  MainWindow& w = OpenCapturing(errors);
  EXPECT_EQ(errors, "orvande: unhandled " + report + " (settings file " + path +
                        "; it is kept and set aside at the next Start)\n");
  // The opening ended at the read: nothing assigned, Label1 still the query.
  EXPECT_EQ(w.Port()->Text(), "38008");
  EXPECT_EQ(w.Label1()->Text(), design::kAddressQuery);
  EXPECT_TRUE(fs::exists(fs::symlink_status(SettingsFile()))) << "the opening moved it";

  EXPECT_EQ(ClickStart(), "");
  EXPECT_EQ(w.PushButton1()->Caption(), "Stop");
  EXPECT_TRUE(ServerStarted());
  ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(SettingsFile())));
  EXPECT_EQ(testsupport::ReadFile(SettingsFile()), DefaultsSaved());
  const auto copies = AsideCopies(SettingsFolder());
  ASSERT_EQ(copies.size(), 1u) << testing::PrintToString(Entries(SettingsFolder()));
  EXPECT_EQ(Entries(SettingsFolder()), (std::vector<std::string>{"ORVANDE.json", copies[0]}));
  ExpectKept(c.kind, SettingsFolder() / copies[0], bytes);

  // Once the file is the window's own, later saves replace it in place.
  MainWindowProbe::SavePreferences(w);
  EXPECT_EQ(AsideCopies(SettingsFolder()), copies);
}

INSTANTIATE_TEST_SUITE_P(Paths, HostileSettings, ::testing::ValuesIn(hostile::Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The exception's own text stays as it was; the path travels beside it.
TEST_F(HostileSettingsTest, TheMessageStaysAndTheContextNamesTheFile) {
  WriteSettings(kMissingComma);
  MainWindow& w = Open(false);
  try {
    MainWindowProbe::LoadPreferences(w);
    FAIL() << "the load should raise";
  } catch (const JSONException& e) {
    EXPECT_EQ(e.ErrorNumber, 6);
    EXPECT_EQ(e.Message, "Missing , or } at position 40");
    EXPECT_STREQ(e.what(), "Missing , or } at position 40");
    EXPECT_EQ(e.Context,
              "settings file " + SettingsFile().string() + "; it is kept and set aside at the next Start");
    EXPECT_EQ(DescribeException(e), kMissingCommaError + " (" + e.Context + ")");
  }

  // The file gone meanwhile: no settings, nothing raised, and the next save
  // has nothing to set aside.
  fs::remove(SettingsFile());
  EXPECT_NO_THROW(MainWindowProbe::LoadPreferences(w));
  MainWindowProbe::SavePreferences(w);
  EXPECT_EQ(Entries(SettingsFolder()), std::vector<std::string>{"ORVANDE.json"});
}

// A file that read well is replaced in place, a link to good settings
// through the link, as before.
TEST_F(HostileSettingsTest, ALinkToGoodSettingsIsReplacedThroughTheLink) {
  testsupport::WriteFile(outside_.path() / "dotfiles.json", kGood);
  fs::create_directories(SettingsFolder());
  fs::create_symlink(outside_.path() / "dotfiles.json", SettingsFile());
  std::string errors;
  MainWindow& w = OpenCapturing(errors);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(w.Port()->Text(), "9000");
  w.Port()->SetText("9001");
  EXPECT_EQ(ClickStart(), "");
  EXPECT_TRUE(fs::is_symlink(SettingsFile()));
  EXPECT_NE(testsupport::ReadFile(outside_.path() / "dotfiles.json").find(R"("port":"9001")"),
            std::string::npos);
  EXPECT_EQ(Entries(SettingsFolder()), std::vector<std::string>{"ORVANDE.json"});
}

// A file that only its owner may write, and nobody may read: the opening
// cannot read it, and the next save keeps it. Root reads everything, so the
// read runs as user nobody.
TEST_F(HostileSettingsTest, AFileThatCannotBeReadIsKeptAtTheNextSave) {
  WriteSettings(kGood);
  fs::permissions(SettingsFile(), fs::perms::owner_write);
  // Reachable by nobody, whose effective group stays root's here.
  const auto reach = fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec;
  fs::permissions(std::getenv("XDG_CONFIG_HOME"), reach);
  fs::permissions(SettingsFolder(), reach);
  MainWindow& w = Open(false);
  bool raised = false;
  {
    testsupport::AsNobody nobody;
    ASSERT_TRUE(nobody.ok()) << "could not take the user nobody";
    try {
      MainWindowProbe::LoadPreferences(w);
    } catch (const IOException& e) {
      raised = e.ErrorNumber == EACCES && e.Context.find("it is kept") != std::string::npos;
    }
  }
  EXPECT_TRUE(raised);
  MainWindowProbe::SavePreferences(w);
  const auto copies = AsideCopies(SettingsFolder());
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(testsupport::ReadFile(SettingsFolder() / copies[0]), kGood);
  EXPECT_EQ(ModeOf(SettingsFolder() / copies[0]), 0200u);
}

// --- Where the settings are kept ------------------------------------------------

enum class Place { XdgIsAFile, XdgUnderAFile, OrvandeIsAFile, XdgMissingNested, HomeMissing };

struct PlaceCase {
  const char* name;
  Place place;
  // The report of a Start that fails, "@" for the test's folder; empty when
  // the Start saves and starts.
  std::string report;
  std::string savedUnder;  // where the settings file then is, under "@"
};
void PrintTo(const PlaceCase& c, std::ostream* os) { *os << c.name; }

class SettingsPlace : public HostileSettingsTest, public ::testing::WithParamInterface<PlaceCase> {};

TEST_P(SettingsPlace, StartFailsByNameOrSavesInTheFolderItMade) {
  const PlaceCase& c = GetParam();
  const std::string root = outside_.str();
  auto expand = [&](std::string text) {
    for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at + root.size())) {
      text.replace(at, 1, root);
    }
    return text;
  };
  std::optional<std::string> xdg, home = root + "/home";
  fs::create_directory(root + "/home");
  switch (c.place) {
    case Place::XdgIsAFile:
      testsupport::WriteFile(root + "/file", "mine");
      xdg = root + "/file";
      break;
    case Place::XdgUnderAFile:
      testsupport::WriteFile(root + "/file", "mine");
      xdg = root + "/file/xdg";
      break;
    case Place::OrvandeIsAFile:
      fs::create_directory(root + "/xdg");
      testsupport::WriteFile(root + "/xdg/ORVANDE", "mine");
      xdg = root + "/xdg";
      break;
    case Place::XdgMissingNested:
      xdg = root + "/a/b/xdg";
      break;
    case Place::HomeMissing:
      xdg = std::nullopt;
      home = root + "/gone/home";
      break;
  }
  ScopedEnv xdgEnv("XDG_CONFIG_HOME", xdg);
  ScopedEnv homeEnv("HOME", home);

  auto everything = [&] {
    std::vector<std::string> paths;
    for (const auto& e : fs::recursive_directory_iterator(root)) paths.push_back(e.path().string());
    std::sort(paths.begin(), paths.end());
    return paths;
  };
  const auto before = everything();

  std::string errors;
  MainWindow& w = OpenCapturing(errors);
  EXPECT_EQ(errors, "") << "the opening stays quiet where there is no folder";
  // Neither the opening nor a Reset makes a folder: only a save does.
  testing::internal::CaptureStderr();
  ClickReset();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(everything(), before);
  errors = ClickStart();

  if (!c.report.empty()) {
    EXPECT_EQ(errors, "orvande: unhandled " + expand(c.report) + "\n");
    EXPECT_EQ(w.PushButton1()->Caption(), "Start");
    EXPECT_EQ(MainWindowProbe::ThreadString(w), "");
    testsupport::Pump(300ms);
    EXPECT_FALSE(fs::exists(server_.path() / "started")) << "the server was started";
    if (c.place != Place::XdgMissingNested && c.place != Place::HomeMissing) {
      const fs::path file = c.place == Place::OrvandeIsAFile ? root + "/xdg/ORVANDE" : root + "/file";
      EXPECT_EQ(testsupport::ReadFile(file), "mine");
    }
    return;
  }
  EXPECT_EQ(errors, "");
  EXPECT_EQ(w.PushButton1()->Caption(), "Stop");
  EXPECT_TRUE(ServerStarted());
  const fs::path saved = expand(c.savedUnder);
  EXPECT_EQ(testsupport::ReadFile(saved / "ORVANDE" / "ORVANDE.json"), DefaultsSaved());
  // What was made for the application-data folder is private.
  for (fs::path p = saved; p.string().size() > root.size(); p = p.parent_path()) {
    if (p == root + "/home") continue;  // there before
    EXPECT_EQ(ModeOf(p), 0700u) << p;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Places, SettingsPlace,
    ::testing::Values(
        PlaceCase{"XdgIsAFile", Place::XdgIsAFile,
                  "IOException 20: cannot use folder @/file: Not a directory (settings file "
                  "@/file/ORVANDE/ORVANDE.json; the settings were not saved)",
                  ""},
        PlaceCase{"XdgUnderAFile", Place::XdgUnderAFile,
                  "IOException 20: cannot make folder @/file/xdg: Not a directory (settings file "
                  "@/file/xdg/ORVANDE/ORVANDE.json; the settings were not saved)",
                  ""},
        PlaceCase{"OrvandeIsAFile", Place::OrvandeIsAFile,
                  "IOException 20: cannot use folder @/xdg/ORVANDE: Not a directory (settings file "
                  "@/xdg/ORVANDE/ORVANDE.json; the settings were not saved)",
                  ""},
        PlaceCase{"XdgMissingNested", Place::XdgMissingNested, "", "@/a/b/xdg"},
        PlaceCase{"HomeMissing", Place::HomeMissing, "", "@/gone/home/.config"}),
    [](const auto& info) { return std::string(info.param.name); });

// An application-data folder that cannot be made for want of permission.
// Root passes every permission check, so the Start runs as user nobody, on
// a window whose opening has not run (an opening as root would make it).
TEST_F(HostileSettingsTest, AnApplicationDataFolderThatCannotBeMadeFailsStartByName) {
  const std::string root = outside_.str();
  fs::create_directory(root + "/locked");
  // Reachable by nobody, whose effective group stays root's here; writable
  // by root alone.
  const auto reach = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                     fs::perms::others_read | fs::perms::others_exec;
  fs::permissions(root, reach);
  fs::permissions(root + "/locked", reach);
  ScopedEnv xdg("XDG_CONFIG_HOME", root + "/locked/xdg");
  MainWindow& w = Open(false);
  w.velmoor()->SetText(server_.str());
  std::string errors;
  {
    testsupport::AsNobody nobody;
    ASSERT_TRUE(nobody.ok()) << "could not take the user nobody";
    testing::internal::CaptureStderr();
    w.PushButton1()->RaiseAction();
    errors = testing::internal::GetCapturedStderr();
  }
  EXPECT_EQ(errors, "orvande: unhandled IOException 13: cannot make folder " + root +
                        "/locked/xdg: Permission denied (settings file " + root +
                        "/locked/xdg/ORVANDE/ORVANDE.json; the settings were not saved)\n");
  EXPECT_EQ(w.PushButton1()->Caption(), "Start");
  EXPECT_EQ(MainWindowProbe::ThreadString(w), "");
  EXPECT_FALSE(fs::exists(root + "/locked/xdg"));
}

// --- No settings file -------------------------------------------------------------

// The process's arguments for one test.
class ScopedArguments {
 public:
  explicit ScopedArguments(std::vector<std::string> arguments) : saved_(ProcessArguments()) {
    SetProcessArguments(std::move(arguments));
  }
  ~ScopedArguments() { SetProcessArguments(saved_); }

 private:
  std::vector<std::string> saved_;
};

enum class Without { Folder, FileInEmptyFolder, FileBesideACopySetAside };
const char* NameOf(Without w) {
  switch (w) {
    case Without::Folder:
      return "NoFolder";
    case Without::FileInEmptyFolder:
      return "EmptyFolder";
    default:
      return "OnlyACopySetAside";
  }
}
void PrintTo(Without w, std::ostream* os) { *os << NameOf(w); }

class NoSettingsFile : public HostileSettingsTest, public ::testing::WithParamInterface<Without> {};

// With -automount and no settings file, the opening runs to its end without a
// word and starts the server, as on a first launch.
TEST_P(NoSettingsFile, TheOpeningGoesOnQuietlyAndStartsTheServer) {
  const fs::path aside = SettingsFolder() / "ORVANDE.json.unreadable-20240101-000000";
  if (GetParam() != Without::Folder) fs::create_directories(SettingsFolder());
  if (GetParam() == Without::FileBesideACopySetAside) testsupport::WriteFile(aside, kMissingComma);
  ScopedArguments arguments({"orvande", "-automount"});

  testing::internal::CaptureStderr();
  MainWindow& w = Open(false);
  // Where the server is, set before the opening runs; no file overrides it.
  w.velmoor()->SetText(server_.str());
  const bool opened = testsupport::PumpUntil([&] { return w.HasOpened(); });
  const bool started = ServerStarted();
  const std::string errors = testing::internal::GetCapturedStderr();

  ASSERT_TRUE(opened);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(w.Label1()->Text(), "");
  EXPECT_TRUE(started);
  EXPECT_EQ(w.PushButton1()->Caption(), "Stop");
  EXPECT_TRUE(w.CheckBox1()->Value());
  std::string saved = DefaultsSaved();
  saved.replace(saved.find(R"("Automount":"No")"), 16, R"("Automount":"Yes")");
  EXPECT_EQ(testsupport::ReadFile(SettingsFile()), saved);
  if (GetParam() == Without::FileBesideACopySetAside) {
    EXPECT_EQ(Entries(SettingsFolder()), (std::vector<std::string>{"ORVANDE.json", aside.filename()}));
    EXPECT_EQ(testsupport::ReadFile(aside), kMissingComma);
  }
}

INSTANTIATE_TEST_SUITE_P(States, NoSettingsFile,
                         ::testing::Values(Without::Folder, Without::FileInEmptyFolder,
                                           Without::FileBesideACopySetAside),
                         [](const auto& info) { return std::string(NameOf(info.param)); });

// A missing file is no unread file: settings that another launcher writes
// between this one's opening and its Start are replaced, not set aside.
TEST_F(HostileSettingsTest, AMissingFileIsNotKeptAsideAtTheNextStart) {
  fs::create_directories(SettingsFolder());
  std::string errors;
  MainWindow& w = OpenCapturing(errors);
  EXPECT_EQ(errors, "");
  WriteSettings(kGood);
  EXPECT_EQ(ClickStart(), "");
  EXPECT_EQ(w.PushButton1()->Caption(), "Stop");
  EXPECT_EQ(Entries(SettingsFolder()), std::vector<std::string>{"ORVANDE.json"});
  EXPECT_EQ(testsupport::ReadFile(SettingsFile()), DefaultsSaved());
}

// A link at the name that leads nowhere is the user's: reported, and set
// aside as the link at the next Start.
TEST_F(HostileSettingsTest, ADanglingLinkIsReportedAndSetAsideAtStart) {
  fs::create_directories(SettingsFolder());
  const fs::path nowhere = outside_.path() / "nowhere.json";
  fs::create_symlink(nowhere, SettingsFile());
  std::string errors;
  MainWindow& w = OpenCapturing(errors);
  EXPECT_EQ(errors, "orvande: unhandled IOException 2: cannot open " + SettingsFile().string() +
                        ": No such file or directory (settings file " + SettingsFile().string() +
                        "; it is kept and set aside at the next Start)\n");
  EXPECT_EQ(w.Label1()->Text(), design::kAddressQuery);
  EXPECT_EQ(ClickStart(), "");
  EXPECT_EQ(testsupport::ReadFile(SettingsFile()), DefaultsSaved());
  const auto copies = AsideCopies(SettingsFolder());
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(fs::read_symlink(SettingsFolder() / copies[0]), nowhere);
  EXPECT_FALSE(fs::exists(nowhere));
}

// --- Reset with nothing to delete ---------------------------------------------------

// Reset on a fresh account, twice in a row, or with no application-data
// folder at all: nothing to delete, so nothing said, on stderr or in a box.
TEST_F(HostileSettingsTest, ResetWithNothingSavedDoesNothingAndSaysNothing) {
  ShowMessageBoxesOffscreenForTests(true);
  struct Reset {
    std::string errors;
    int boxes = 0;
  };
  auto reset = [&] {
    Reset r;
    testing::internal::CaptureStderr();
    ClickReset();
    testsupport::Pump(20ms);
    r.errors = testing::internal::GetCapturedStderr();
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(top)) {
        ++r.boxes;
        box->close();
      }
    }
    return r;
  };
  MainWindow& w = Open();
  ASSERT_FALSE(fs::exists(SettingsFolder()));
  for (int i = 1; i <= 2; ++i) {
    SCOPED_TRACE("fresh account, Reset " + std::to_string(i));
    const Reset r = reset();
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(r.boxes, 0);
    EXPECT_FALSE(fs::exists(SettingsFolder()));
  }
  MainWindowProbe::SavePreferences(w);
  for (int i = 1; i <= 2; ++i) {
    SCOPED_TRACE("after a save, Reset " + std::to_string(i));
    const Reset r = reset();
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(r.boxes, 0);
    EXPECT_FALSE(fs::exists(SettingsFolder()));
  }
  {
    SCOPED_TRACE("no application-data folder");
    ScopedEnv xdg("XDG_CONFIG_HOME", outside_.str() + "/a/b/xdg");
    const Reset r = reset();
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(r.boxes, 0);
    EXPECT_FALSE(fs::exists(outside_.path() / "a"));
  }
  ShowMessageBoxesOffscreenForTests(false);
}

// --- The user's own files beside the settings, and a save's leftovers ---------------

// What a user keeps beside the settings file, all hours old: copies made by
// hand, notes, a folder. None has the shape of a save's temporary file.
struct OwnFile {
  const char* name;
  bool folder;
};
const OwnFile kOwnFiles[] = {
    {"ORVANDE.json.original", false},
    {"ORVANDE.json.20240115", false},
    {"ORVANDE.json.bak", false},
    {"ORVANDE.json.12345678", false},
    {"notes.txt", false},
    {"old settings", true},
};
constexpr int kHoursOld = 3 * 3600;
const std::string kHalfSaved = R"({"ipaddress":"half)";

class UserFiles : public HostileSettingsTest {
 protected:
  static std::string Content(const OwnFile& f) { return std::string("mine: ") + f.name; }

  void PlantOwnFiles() {
    for (const auto& f : kOwnFiles) {
      const fs::path p = SettingsFolder() / f.name;
      if (f.folder) {
        fs::create_directory(p);
        testsupport::WriteFile(p / "inside", Content(f));
      } else {
        testsupport::WriteFile(p, Content(f));
      }
      Age(p, kHoursOld);
    }
  }

  void ExpectOwnFilesKept() {
    for (const auto& f : kOwnFiles) {
      const fs::path p = SettingsFolder() / f.name;
      EXPECT_EQ(testsupport::ReadFile(f.folder ? p / "inside" : p), Content(f)) << f.name;
    }
  }

  std::vector<std::string> OwnNames() const {
    std::vector<std::string> names;
    for (const auto& f : kOwnFiles) names.push_back(f.name);
    return names;
  }

  // A save's temporary file: a stale one a kill left, or a fresh one of a
  // save under way.
  fs::path Temporary(const std::string& suffix, int age) {
    const fs::path p = SettingsFolder() / (".ORVANDE.json.saving-" + suffix);
    testsupport::WriteFile(p, kHalfSaved);
    Age(p, age);
    return p;
  }
};

TEST_F(UserFiles, StartAndResetKeepEveryOneByteForByte) {
  WriteSettings(kGood);
  PlantOwnFiles();
  const fs::path stale = Temporary("Ab12Cd", kHoursOld);
  std::string errors;
  MainWindow& w = OpenCapturing(errors);
  EXPECT_EQ(errors, "");

  EXPECT_EQ(ClickStart(), "");
  EXPECT_EQ(w.PushButton1()->Caption(), "Stop");
  EXPECT_NE(testsupport::ReadFile(SettingsFile()).find(R"("port":"9000")"), std::string::npos);
  ExpectOwnFilesKept();
  EXPECT_FALSE(fs::exists(stale)) << "the stale temporary stayed";

  // Reset: the settings file and a stale temporary go; another save's
  // fresh one and everything of the user's stay, and so does the folder.
  const fs::path staleAgain = Temporary("Zz98Yx", kHoursOld);
  const fs::path fresh = Temporary("Young1", 2);
  testing::internal::CaptureStderr();
  ClickReset();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(fs::exists(fs::symlink_status(SettingsFile())));
  EXPECT_FALSE(fs::exists(staleAgain));
  EXPECT_EQ(testsupport::ReadFile(fresh), kHalfSaved);
  ExpectOwnFilesKept();
  std::vector<std::string> expected = OwnNames();
  expected.push_back(fresh.filename());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Entries(SettingsFolder()), expected);
}

// The folder goes with the file when nothing else is left in it: a stale
// temporary does not keep it, a fresh one does.
TEST_F(UserFiles, ResetRemovesTheFolderUnlessAFreshSaveIsUnderWay) {
  for (bool freshOne : {false, true}) {
    SCOPED_TRACE(freshOne ? "a fresh temporary" : "a stale temporary");
    fs::remove_all(SettingsFolder());
    WriteSettings(kGood);
    const fs::path temporary = Temporary("Kill3d", freshOne ? 2 : kHoursOld);
    MainWindow& w = Open(false);
    (void)w;
    testing::internal::CaptureStderr();
    ClickReset();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(fs::exists(fs::symlink_status(SettingsFile())));
    EXPECT_EQ(fs::exists(SettingsFolder()), freshOne);
    if (freshOne) {
      EXPECT_EQ(Entries(SettingsFolder()), std::vector<std::string>{temporary.filename()});
    }
  }
  // With the folder gone, the next opening reads nothing and reports nothing.
  fs::remove_all(SettingsFolder());
  testing::internal::CaptureStderr();
  MainWindow& again = Open();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(again.Label1()->Text(), "");
}

TEST_F(UserFiles, ResetKeepsTheCopiesSetAsideAndSoTheFolder) {
  WriteSettings(kMissingComma);
  std::string errors;
  MainWindow& w = OpenCapturing(errors);
  ASSERT_NE(errors.find("JSONException"), std::string::npos);
  MainWindowProbe::SavePreferences(w);
  const auto copies = AsideCopies(SettingsFolder());
  ASSERT_EQ(copies.size(), 1u);
  Temporary("Kill3d", kHoursOld);

  ClickReset();
  EXPECT_EQ(Entries(SettingsFolder()), copies);
  EXPECT_EQ(testsupport::ReadFile(SettingsFolder() / copies[0]), kMissingComma);

  // The next opening finds no settings file and says nothing.
  testing::internal::CaptureStderr();
  MainWindow& again = Open();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(again.Label1()->Text(), "");
}

}  // namespace
