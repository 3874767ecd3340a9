// The Start/Stop button through the real window, offscreen, with the fake
// server: what a Start saves and runs, what a Stop ends, and the captions.
//
// Every test gets its own copy of the fake in a folder of its own and a
// record file of its own, and TearDown ends whatever was recorded by pid:
// "killall velmoor" is what the window runs, never what the tests rely on to
// clean up. The window's killall is the tests' fake, which ends only the
// fakes in the test's record; the real one is run once, in a PID namespace
// of its own where it cannot reach anything else.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QPushButton>
#include <QTest>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_record.h"
#include "support/posix_support.h"
#include "support/settings_text.h"
#include "support/window_fixture.h"

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

using testsupport::SettingsText;

// True once the process is gone from the system: ended and reaped by its
// parent. A zombie still counts as there.
bool Gone(const testsupport::FakeRecord& r) {
  auto s = testsupport::ReadProcStat(r.pid);
  return !s || s->start != r.start;
}

// Children of this process that still run: the commands the window started.
std::vector<pid_t> LiveChildren() {
  const pid_t self = getpid();
  return testsupport::FindProcesses(
      [self](pid_t, const testsupport::ProcStat& st) { return st.ppid == self && st.state != 'Z'; });
}

class StartStopTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    fs::copy_file(testsupport::FakesDir() / "velmoor", Server() / "velmoor");
    setenv("VELMOOR_RECORD", record_.c_str(), 1);
    unsetenv("VELMOOR_EXIT");
    // The commands run here, so whatever they might leave stays in sight.
    oldCwd_ = fs::current_path();
    fs::current_path(cwd_.path());
  }

  void TearDown() override {
    // Every fake that anything started ends here, pass or fail.
    testsupport::KillRecorded(record_);
    if (bystander_ > 0) {
      kill(bystander_, SIGKILL);
      waitpid(bystander_, nullptr, 0);
    }
    // A stop command still going would end the next test's server.
    EXPECT_TRUE(testsupport::PumpUntil([] { return LiveChildren().empty(); }, 5s));
    unsetenv("VELMOOR_RECORD");
    unsetenv("VELMOOR_EXIT");
    fs::current_path(oldCwd_);
    WindowFixture::TearDown();
  }

  // An opened window that starts this test's fake.
  MainWindow& OpenWithServer() {
    MainWindow& w = Open();
    w.velmoor()->SetText(Server().string());
    return w;
  }

  void Click() { QTest::mouseClick(Widget<QPushButton>("PushButton1"), Qt::LeftButton); }
  std::string Caption() { return Widget<QPushButton>("PushButton1")->text().toStdString(); }

  fs::path Server() const { return server_.path(); }
  std::vector<testsupport::FakeRecord> Records() const { return testsupport::ReadFakeRecords(record_); }

  // Waits for the n-th launch of the fake to have recorded itself.
  testsupport::FakeRecord AwaitLaunch(std::size_t n = 1) {
    EXPECT_TRUE(testsupport::PumpUntil([&] { return Records().size() >= n; })) << "the fake never started";
    auto records = Records();
    return records.size() >= n ? records[n - 1] : testsupport::FakeRecord{};
  }

  // Long enough for a command that was started to have run the fake.
  void Settle() { testsupport::Pump(400ms); }

  // A velmoor that the window did not start, as a user's own server would
  // be; it records itself elsewhere, and TearDown ends it.
  testsupport::FakeRecord StartBystander() {
    const fs::path record = cwd_.path() / "bystander.record";
    const std::string program = (testsupport::FakesDir() / "velmoor").string();
    const std::string recordVariable = "VELMOOR_RECORD=" + record.string();
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    char* envp[] = {const_cast<char*>(recordVariable.c_str()), nullptr};
    EXPECT_EQ(posix_spawn(&bystander_, program.c_str(), nullptr, nullptr, argv, envp), 0);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return !testsupport::ReadFakeRecords(record).empty(); }));
    const auto records = testsupport::ReadFakeRecords(record);
    return records.empty() ? testsupport::FakeRecord{} : records[0];
  }

  testsupport::TempDir cwd_;
  testsupport::TempDir server_;
  testsupport::TempDir share_;
  fs::path record_ = cwd_.path() / "velmoor.record";
  fs::path oldCwd_;
  pid_t bystander_ = -1;
};

// --- Start, then Stop ---------------------------------------------------------

TEST_F(StartStopTest, StartSavesAndRunsTheServerStopEndsItByName) {
  // A share folder that came from a drop: its blank written as "\ ".
  const fs::path share = share_.path() / "My Games";
  fs::create_directories(share);
  const std::string dropped = share_.str() + "/My\\ Games";
  const testsupport::FakeRecord bystander = StartBystander();
  ASSERT_TRUE(testsupport::StillRunning(bystander));
  MainWindow& w = OpenWithServer();
  w.IPAddress()->SetText("192.168.1.20");
  w.ShareDir()->SetText(dropped);
  ASSERT_FALSE(fs::exists(SettingsFile()));

  Click();
  const std::string saved = SettingsText("192.168.1.20", "38008", Server().string(), dropped, "No");
  EXPECT_EQ(testsupport::ReadFile(SettingsFile()), saved);
  EXPECT_EQ(MainWindowProbe::ThreadString(w), Server().string() + "/velmoor -p 38008 " + dropped);
  EXPECT_EQ(Caption(), "Stop");
  const testsupport::FakeRecord fake = AwaitLaunch();
  EXPECT_EQ(fake.args, (std::vector<std::string>{"-p", "38008", share.string()}));
  EXPECT_TRUE(testsupport::StillRunning(fake));

  // What is typed now is not saved by the Stop.
  w.Port()->SetText("1");
  Click();
  EXPECT_EQ(MainWindowProbe::ThreadString(w), "killall velmoor");
  EXPECT_EQ(Caption(), "Start");
  EXPECT_TRUE(testsupport::PumpUntil([&] { return Gone(fake); }))
      << "the fake still runs or was never reaped";
  EXPECT_TRUE(testsupport::PumpUntil([] { return testsupport::OwnZombies().empty(); }));
  EXPECT_EQ(testsupport::ReadFile(SettingsFile()), saved);
  // The Stop started no second server, and ended nothing the test's window
  // had not started.
  Settle();
  EXPECT_EQ(Records().size(), 1u);
  EXPECT_TRUE(testsupport::StillRunning(bystander)) << "the stop command ended a velmoor it did not start";
}

TEST_F(StartStopTest, ServerOutlivesTheWindowAndIsStillReapedWhenItEnds) {
  OpenWithServer();
  Click();
  const testsupport::FakeRecord fake = AwaitLaunch();

  window_.reset();
  testsupport::Pump(300ms);
  ASSERT_TRUE(testsupport::StillRunning(fake));

  // With the window and its shell gone, the end of the server leaves no zombie.
  kill(fake.pid, SIGTERM);
  EXPECT_TRUE(testsupport::PumpUntil([&] { return Gone(fake); }));
  EXPECT_TRUE(testsupport::PumpUntil([] { return testsupport::OwnZombies().empty(); }));
}

TEST_F(StartStopTest, ServerThatEndedByItselfLeavesStopAndTheNextClickStops) {
  setenv("VELMOOR_EXIT", "0", 1);
  MainWindow& w = OpenWithServer();
  Click();
  const testsupport::FakeRecord first = AwaitLaunch();
  EXPECT_TRUE(testsupport::PumpUntil([&] { return Gone(first); }));
  Settle();  // the shell's end has been seen by now
  EXPECT_EQ(Caption(), "Stop");

  Click();
  EXPECT_EQ(MainWindowProbe::ThreadString(w), "killall velmoor");
  EXPECT_EQ(Caption(), "Start");

  // And the click after that starts the server again. It comes once the stop
  // command is done, as a user's would: a killall still going would end the
  // new server too.
  EXPECT_TRUE(testsupport::PumpUntil([] { return LiveChildren().empty(); }));
  unsetenv("VELMOOR_EXIT");
  Click();
  const testsupport::FakeRecord second = AwaitLaunch(2);
  EXPECT_TRUE(testsupport::StillRunning(second));
  EXPECT_EQ(Caption(), "Stop");
  EXPECT_TRUE(testsupport::PumpUntil([] { return testsupport::OwnZombies().empty(); }));
}

// --- The start command, piece by piece ---------------------------------------

struct CommandCase {
  const char* name;
  std::string server;  // "@" stands for the test's server folder
  std::string port;
  std::string share;
  std::string command;                           // "@" as above
  std::optional<std::vector<std::string>> args;  // what the fake gets; none: it never runs
};
void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

std::string Expand(const std::string& s, const fs::path& server) {
  return s.rfind('@', 0) == 0 ? server.string() + s.substr(1) : s;
}

class StartCommand : public StartStopTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(StartCommand, IsThePiecesJoinedAsTheyStand) {
  const CommandCase& c = GetParam();
  MainWindow& w = Open();
  w.velmoor()->SetText(Expand(c.server, Server()));
  w.Port()->SetText(c.port);
  w.ShareDir()->SetText(c.share);

  Click();
  EXPECT_EQ(MainWindowProbe::ThreadString(w), Expand(c.command, Server()));
  // The outcome is not looked at: the caption reads "Stop" either way.
  EXPECT_EQ(Caption(), "Stop");
  if (c.args) {
    EXPECT_EQ(AwaitLaunch().args, *c.args);
  } else {
    Settle();
    EXPECT_TRUE(Records().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartCommand,
    ::testing::Values(CommandCase{"EmptyPort", "@", "", "/srv/share", "@/velmoor -p  /srv/share",
                                  std::vector<std::string>{"-p", "/srv/share"}},
                      CommandCase{"EmptyServerFolder", "", "38008", "/srv/share",
                                  "/velmoor -p 38008 /srv/share", std::nullopt},
                      CommandCase{"EmptyShareFolder", "@", "38008", "", "@/velmoor -p 38008 ",
                                  std::vector<std::string>{"-p", "38008"}},
                      CommandCase{"TypedBlanksSplitTheWords", "@", "38008", "/srv/My Games",
                                  "@/velmoor -p 38008 /srv/My Games",
                                  std::vector<std::string>{"-p", "38008", "/srv/My", "Games"}},
                      CommandCase{"PortIsText", "@", "0x1f ", "/srv", "@/velmoor -p 0x1f  /srv",
                                  std::vector<std::string>{"-p", "0x1f", "/srv"}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Clicks that start nothing ------------------------------------------------

class OtherCaption : public StartStopTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(OtherCaption, DoesNothing) {
  MainWindow& w = OpenWithServer();
  w.PushButton1()->SetCaption(GetParam());
  Click();
  EXPECT_EQ(Caption(), GetParam());
  EXPECT_EQ(MainWindowProbe::ThreadString(w), "");
  EXPECT_FALSE(fs::exists(SettingsFile()));
  Settle();
  EXPECT_TRUE(Records().empty());
}

INSTANTIATE_TEST_SUITE_P(Captions, OtherCaption,
                         ::testing::Values("start", "STOP", "Start ", " Stop", "", "Stopped"),
                         [](const auto& info) { return "Caption" + std::to_string(info.index); });

TEST_F(StartStopTest, FailingSaveStartsNothingAndKeepsStartAndThePreviousFile) {
  const std::string previous = SettingsText("10.0.0.1", "9000", Server().string(), "/srv/old", "No");
  WriteSettings(previous);
  MainWindow& w = OpenWithServer();
  ASSERT_EQ(w.Port()->Text(), "9000");  // the opening read the file
  w.Port()->SetText("7000");

  // The folder stays reachable, but nobody may write in it; a fake that ran
  // regardless could still be run and record itself.
  const auto reach = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                     fs::perms::others_read | fs::perms::others_exec;
  fs::permissions(std::getenv("XDG_CONFIG_HOME"), reach);
  fs::permissions(SettingsFolder(), reach);
  fs::permissions(Server(), reach);
  fs::permissions(cwd_.path(), fs::perms::all);

  // Root passes every permission test, so the folder is made unwritable by
  // running the click with the effective user of nobody.
  bool dropped = false;
  testing::internal::CaptureStderr();
  {
    testsupport::AsNobody nobody;
    dropped = nobody.ok();
    if (dropped) Click();
  }
  const std::string errors = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(dropped) << "could not take the user nobody";

  const std::string report = "orvande: unhandled IOException " + std::to_string(EACCES) + ": ";
  EXPECT_EQ(errors.rfind(report, 0), 0u) << errors;
  EXPECT_NE(errors.find(SettingsFolder().string()), std::string::npos) << errors;
  EXPECT_NE(errors.find(std::strerror(EACCES)), std::string::npos) << errors;
  EXPECT_EQ(Caption(), "Start");
  EXPECT_EQ(MainWindowProbe::ThreadString(w), "");
  EXPECT_EQ(testsupport::ReadFile(SettingsFile()), previous);
  Settle();
  EXPECT_TRUE(Records().empty());
  for (const auto& e : fs::directory_iterator(SettingsFolder())) {
    EXPECT_EQ(e.path().filename(), "ORVANDE.json");  // no temporary file left behind
  }

  // Once the folder may be written again, the same click goes through.
  Click();
  EXPECT_EQ(Caption(), "Stop");
  EXPECT_EQ(testsupport::ReadFile(SettingsFile()),
            SettingsText("10.0.0.1", "7000", Server().string(), "/srv/old", "No"));
  AwaitLaunch();
}

// --- The real killall ----------------------------------------------------------

// The stop command as the window runs it, with the real killall, where it can
// reach nothing but what the test started: a PID namespace of its own with
// its own /proc, where the one velmoor is the fake started inside. The
// namespace's first process ends everything left in it when it goes.
TEST(RealKillallTest, StopCommandEndsTheVelmoorOfAPidNamespaceOfItsOwn) {
  testsupport::TempDir tmp;
  const fs::path record = tmp.path() / "velmoor.record";
  const fs::path out = tmp.path() / "out";
  const fs::path err = tmp.path() / "err";
  const std::string fake = testsupport::FakeKillallDir().string();
  const std::string path =
      testsupport::PathWithoutFakeKillall(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
  const std::string script =
      "command -v killall || exit 3\n"
      "VELMOOR_RECORD='" +
      record.string() + "' '" + (testsupport::FakesDir() / "velmoor").string() +
      "' -p 38008 /Games &\n"
      "server=$!\n"
      "i=0; until grep -qx end '" +
      record.string() +
      "' 2>/dev/null; do\n"
      "  i=$((i + 1)); [ $i -le 1000 ] || exit 4; sleep 0.01\n"
      "done\n"
      "(sleep 20; kill -KILL $server) &\n"
      "killall velmoor; echo \"killall $?\"\n"
      "wait $server; echo \"server $?\"\n";

  const std::string helper = (testsupport::FakesDir() / "in_pid_namespace").string();
  const std::string pathVariable = "PATH=" + path;
  char* argv[] = {const_cast<char*>(helper.c_str()), const_cast<char*>("/bin/sh"), const_cast<char*>("-c"),
                  const_cast<char*>(script.c_str()), nullptr};
  char* envp[] = {const_cast<char*>(pathVariable.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, helper.c_str(), &actions, nullptr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  ASSERT_EQ(rc, 0) << std::strerror(rc);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  const std::string errors = testsupport::ReadFile(err);
  if (WEXITSTATUS(status) == 125) GTEST_SKIP() << "no PID namespace of its own can be made here: " << errors;
  if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "no killall on this machine's PATH: " << path;
  ASSERT_EQ(WEXITSTATUS(status), 0) << errors;

  const std::string output = testsupport::ReadFile(out);
  const std::string killall = output.substr(0, output.find('\n'));
  EXPECT_EQ(killall.rfind(fake, 0), std::string::npos) << "the fake killall ran: " << killall;
  // killall found it and sent SIGTERM: the shell reports 128 + 15.
  EXPECT_EQ(output.substr(killall.size() + 1), "killall 0\nserver 143\n") << errors;
}

}  // namespace
