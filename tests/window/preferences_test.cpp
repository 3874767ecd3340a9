// The settings file through the real window: what a Start writes, what the
// opening reads back, what Reset removes, and that a failed save loses
// nothing.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QPushButton>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/posix_support.h"
#include "support/window_fixture.h"

namespace fs = std::filesystem;

namespace {

class PreferencesTest : public WindowFixture {
 protected:
  // A window whose opening has not run, so nothing but the test touches it.
  MainWindow& Window() { return Open(false); }

  void ExpectFields(MainWindow& w, const std::string& ip, const std::string& port, const std::string& server,
                    const std::string& share) {
    EXPECT_EQ(w.IPAddress()->Text(), ip);
    EXPECT_EQ(w.Port()->Text(), port);
    EXPECT_EQ(w.velmoor()->Text(), server);
    EXPECT_EQ(w.ShareDir()->Text(), share);
  }

  void ExpectDesignTexts(MainWindow& w) { ExpectFields(w, "", "38008", "/Games", "/Games"); }
};

TEST_F(PreferencesTest, SaveWritesTheExactTextFromTheControls) {
  MainWindow& w = Window();
  w.IPAddress()->SetText("127.0.0.1");
  MainWindowProbe::SavePreferences(w);
  EXPECT_EQ(
      testsupport::ReadFile(SettingsFile()),
      R"({"ipaddress":"127.0.0.1","port":"38008","velmoorFldr":"\/Games","ShareDir":"\/Games","Automount":"No"})");
  w.CheckBox1()->SetValue(true);
  MainWindowProbe::SavePreferences(w);
  EXPECT_EQ(
      testsupport::ReadFile(SettingsFile()),
      R"({"ipaddress":"127.0.0.1","port":"38008","velmoorFldr":"\/Games","ShareDir":"\/Games","Automount":"Yes"})");
}

TEST_F(PreferencesTest, LoadSetsFieldsAndAutomountButNeverTheBox) {
  WriteSettings(
      R"({"ipaddress":"10.1.2.3","port":"9000","velmoorFldr":"\/opt\/v","ShareDir":"\/srv\/share","Automount":"Yes"})");
  MainWindow& w = Window();
  MainWindowProbe::LoadPreferences(w);
  ExpectFields(w, "10.1.2.3", "9000", "/opt/v", "/srv/share");
  EXPECT_EQ(w.automount, "Yes");
  EXPECT_FALSE(w.CheckBox1()->Value());
  // Saved again at once: the four loaded texts, and the box, not the file, for Automount.
  MainWindowProbe::SavePreferences(w);
  EXPECT_EQ(
      testsupport::ReadFile(SettingsFile()),
      R"({"ipaddress":"10.1.2.3","port":"9000","velmoorFldr":"\/opt\/v","ShareDir":"\/srv\/share","Automount":"No"})");
}

TEST_F(PreferencesTest, DropEscapedPathRoundTripsExactly) {
  MainWindow& w = Window();
  w.ShareDir()->SetText("/srv/My\\ Games");
  w.velmoor()->SetText("/opt/the\\ server");
  MainWindowProbe::SavePreferences(w);
  const std::string text = testsupport::ReadFile(SettingsFile());
  EXPECT_NE(text.find(R"("ShareDir":"\/srv\/My\\ Games")"), std::string::npos) << text;
  w.ShareDir()->SetText("x");
  w.velmoor()->SetText("y");
  MainWindowProbe::LoadPreferences(w);
  EXPECT_EQ(w.ShareDir()->Text(), "/srv/My\\ Games");
  EXPECT_EQ(w.velmoor()->Text(), "/opt/the\\ server");
}

TEST_F(PreferencesTest, FilesOfOtherShapesLoadTheSameValues) {
  const char* kFiles[] = {
      R"({"Automount":"No","ShareDir":"\/s","velmoorFldr":"\/v","port":"1","ipaddress":"a"})",
      "{\n\t\"ipaddress\" : \"a\",\r\n \"port\":\"1\" , "
      "\"velmoorFldr\":\"/v\",\"ShareDir\":\"/s\",\"Automount\":\"No\"\n}\n",
      R"({"extra":[1,{"x":null}],"ipaddress":"a","port":"1","velmoorFldr":"\/v","ShareDir":"\/s","Automount":"No","n":2})",
      R"({"ipaddress":"a","port":"1","velmoorFldr":"\/v","ShareDir":"\/s","Automount":"No"} trailing {"port":"2")",
  };
  for (const char* file : kFiles) {
    SCOPED_TRACE(file);
    WriteSettings(file);
    MainWindow& w = Window();
    MainWindowProbe::LoadPreferences(w);
    ExpectFields(w, "a", "1", "/v", "/s");
    EXPECT_EQ(w.automount, "No");
  }
}

struct BadFileCase {
  const char* text;
  const char* exceptionClass;
  int errorNumber;
};

TEST_F(PreferencesTest, BadFilesAssignNothingAndRaise) {
  const BadFileCase kCases[] = {
      {"", "KeyNotFoundException", 0},
      {" \n\t ", "KeyNotFoundException", 0},
      {"x", "JSONException", 1},
      {R"({"ipaddress":"a","port":"1")", "JSONException", 6},
      {R"({"ipaddress" "a"})", "JSONException", 5},
      {R"(["ipaddress","a"])", "JSONException", 13},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    WriteSettings(c.text);
    MainWindow& w = Window();
    try {
      MainWindowProbe::LoadPreferences(w);
      ADD_FAILURE() << "the load should raise";
    } catch (const RuntimeException& e) {
      EXPECT_STREQ(e.ClassName(), c.exceptionClass);
      if (std::string(c.exceptionClass) == "JSONException") {
        EXPECT_EQ(e.ErrorNumber, c.errorNumber);
      }
      if (std::string(c.exceptionClass) == "KeyNotFoundException") {
        EXPECT_NE(e.Message.find("ipaddress"), std::string::npos) << e.Message;
      }
    }
    ExpectDesignTexts(w);
    EXPECT_EQ(w.automount, "");
  }
}

// No settings file is no settings, whether its folder is missing or not: a
// Reset that kept the folder for a copy set aside, a first Start on a full
// disk, a second launcher while the first makes the folder.
TEST_F(PreferencesTest, NoSettingsFileIsNoSettingsWithOrWithoutItsFolder) {
  struct Case {
    const char* what;
    bool folder;
    std::vector<std::string> inFolder;
  };
  const Case kCases[] = {
      {"no folder", false, {}},
      {"an empty folder", true, {}},
      {"only a copy set aside", true, {"ORVANDE.json.unreadable-20240101-000000"}},
      {"the user's own files", true, {"ORVANDE.json.bak", "notes.txt"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(SettingsFolder());
    const bool folder = c.folder;
    if (folder) {
      fs::create_directories(SettingsFolder());
      for (const auto& name : c.inFolder) testsupport::WriteFile(SettingsFolder() / name, "{\"x\":");
    }
    MainWindow& w = Window();
    EXPECT_NO_THROW(MainWindowProbe::LoadPreferences(w));
    ExpectDesignTexts(w);
    EXPECT_EQ(w.automount, "");
    EXPECT_EQ(fs::exists(SettingsFolder()), folder) << "the load made or removed the folder";
    if (folder) {
      for (const auto& name : c.inFolder)
        EXPECT_EQ(testsupport::ReadFile(SettingsFolder() / name), "{\"x\":");
    }
  }
}

// A link at the name is something the user put there, even one that leads
// nowhere: the load raises and promises to keep it.
TEST_F(PreferencesTest, ADanglingLinkIsNoMissingFile) {
  fs::create_directories(SettingsFolder());
  fs::create_symlink(SettingsFolder() / "nowhere.json", SettingsFile());
  MainWindow& w = Window();
  try {
    MainWindowProbe::LoadPreferences(w);
    ADD_FAILURE() << "a dangling link must raise";
  } catch (const IOException& e) {
    EXPECT_EQ(e.ErrorNumber, ENOENT);
    EXPECT_EQ(e.Context,
              "settings file " + SettingsFile().string() + "; it is kept and set aside at the next Start");
  }
  ExpectDesignTexts(w);
}

TEST_F(PreferencesTest, SaveMakesTheFolderAndResetRemovesOnlyItsOwnItems) {
  MainWindow& w = Window();
  ASSERT_FALSE(fs::exists(SettingsFolder()));
  MainWindowProbe::SavePreferences(w);
  ASSERT_TRUE(fs::exists(SettingsFile()));

  QTest::mouseClick(Widget<QPushButton>("PushButton2"), Qt::LeftButton);
  EXPECT_FALSE(fs::exists(SettingsFolder())) << "Reset deletes the file, then the folder";
  ExpectDesignTexts(w);

  MainWindowProbe::SavePreferences(w);
  testsupport::WriteFile(SettingsFolder() / "notes.txt", "mine");
  QTest::mouseClick(Widget<QPushButton>("PushButton2"), Qt::LeftButton);
  EXPECT_FALSE(fs::exists(SettingsFile()));
  EXPECT_EQ(testsupport::ReadFile(SettingsFolder() / "notes.txt"), "mine");

  // A second Reset with the file gone still reports nothing.
  testing::internal::CaptureStderr();
  QTest::mouseClick(Widget<QPushButton>("PushButton2"), Qt::LeftButton);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  MainWindowProbe::SavePreferences(w);
  EXPECT_TRUE(fs::exists(SettingsFile()));
}

// The failures below happen in a child process: one that is not root, so
// permissions hold, or one with a file-size limit. The child checks that the
// previous file is untouched and exits 0 when all is as it should be.
class SaveFailureTest : public PreferencesTest {
 protected:
  void SetUp() override {
    PreferencesTest::SetUp();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }

  static constexpr const char* kPrevious =
      R"({"ipaddress":"old","port":"1","velmoorFldr":"\/v","ShareDir":"\/s","Automount":"No"})";

  bool PreviousFileIntact() {
    if (testsupport::ReadFile(SettingsFile()) != kPrevious) return false;
    for (const auto& e : fs::directory_iterator(SettingsFolder())) {
      if (e.path().filename() != "ORVANDE.json") return false;  // no temporary file left
    }
    return true;
  }

  // In the child: a save of a text far over a file-size limit of 4 KiB;
  // true when it raised EFBIG. Exits 10 when the limit cannot be set.
  static bool SaveFailsPartWay(MainWindow& w) {
    w.ShareDir()->SetText(std::string(100000, 'x'));
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max = 4096;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) std::_Exit(10);
    try {
      MainWindowProbe::SavePreferences(w);
    } catch (const IOException& e) {
      return e.ErrorNumber == EFBIG;
    }
    return false;
  }
};

TEST_F(SaveFailureTest, UnwritableFolderFailsStartWithErrno13AndKeepsTheFile) {
  EXPECT_EXIT(
      {
        WriteSettings(kPrevious);
        // The test folder must be reachable by the unprivileged user.
        fs::permissions(std::getenv("XDG_CONFIG_HOME"), fs::perms::owner_all | fs::perms::others_exec);
        fs::permissions(SettingsFolder(),
                        fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
        if (geteuid() == 0 && !testsupport::BecomeNobody()) std::_Exit(10);
        MainWindow& w = Window();
        w.PushButton1()->RaiseAction();
        const bool ok = w.PushButton1()->Caption() == "Start" && PreviousFileIntact() &&
                        MainWindowProbe::ThreadString(w).empty();
        std::_Exit(ok ? 0 : 11);
      },
      testing::ExitedWithCode(0), "IOException 13: .*ORVANDE.*Permission denied");
}

TEST_F(SaveFailureTest, WriteFailingPartWayLeavesThePreviousFileByteForByte) {
  EXPECT_EXIT(
      {
        WriteSettings(kPrevious);
        MainWindow& w = Window();
        const bool raised = SaveFailsPartWay(w);
        std::_Exit(raised && PreviousFileIntact() ? 0 : 11);
      },
      testing::ExitedWithCode(0), "");
}

// A save that fails after it set an unreadable file aside leaves that file
// under its aside name: nothing is at ORVANDE.json then, and the next Start
// writes the file afresh.
TEST_F(SaveFailureTest, AFileSetAsideStaysAsideWhenTheSaveThenFails) {
  EXPECT_EXIT(
      {
        const std::string unreadable = R"({"ipaddress":"old",)";
        WriteSettings(unreadable);
        MainWindow& w = Window();
        try {
          MainWindowProbe::LoadPreferences(w);
          std::_Exit(12);
        } catch (const RuntimeException&) {
        }
        const bool raised = SaveFailsPartWay(w);
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(SettingsFolder())) names.push_back(e.path().filename());
        const bool aside = names.size() == 1 && names[0].rfind("ORVANDE.json.unreadable-", 0) == 0 &&
                           testsupport::ReadFile(SettingsFolder() / names[0]) == unreadable;
        std::_Exit(raised && aside ? 0 : 11);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
