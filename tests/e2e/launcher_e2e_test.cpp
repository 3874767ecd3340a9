// The built launcher run as a user runs it: a separate process under the
// offscreen platform, with its own settings folder, a fake ifconfig first on
// PATH and the fake server. Every process a test starts is ended by pid in
// TearDown, whether the test passed or not.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "e2e/launcher_sandbox.h"
#include "support/fake_record.h"
#include "support/test_support.h"

#ifndef ORVANDE_EXE
#error "ORVANDE_EXE must name the built launcher"
#endif
#ifndef ORVANDE_STARTUP_RAISES_EXE
#error "ORVANDE_STARTUP_RAISES_EXE must name the test build of the launcher whose start-up raises"
#endif

namespace {

using namespace std::chrono_literals;
using e2e::milliseconds;

// Generous: the sanitizer build starts the launcher several times slower.
constexpr milliseconds kStartTimeout = 30s;

class LauncherE2E : public ::testing::Test {
 protected:
  void TearDown() override {
    e2e::EndWithShells(launcher_, box_.record());
    // Whatever else a launcher started here and left behind.
    e2e::EndProcessesOf(box_);
  }

  void Launch(const std::vector<std::string>& args = {}) { LaunchWith(args, box_.Environment()); }

  // With an environment of the test's own, and standard error to a
  // descriptor when one is given; the program is the built launcher unless
  // another is named.
  void LaunchWith(const std::vector<std::string>& args, std::vector<std::string> env, int stderrFd = -1,
                  const std::string& program = ORVANDE_EXE) {
    launcher_ = e2e::SpawnIn(box_, program, args, std::move(env), stderrFd);
  }

  // Settings that point the launcher at the fake server and the sandbox's
  // share folder.
  e2e::Settings AtTheFake(const std::string& automount) const {
    e2e::Settings s;
    s.velmoorFldr = testsupport::FakesDir().string();
    s.ShareDir = box_.share().string();
    s.Automount = automount;
    return s;
  }

  std::vector<testsupport::FakeRecord> Records() const { return testsupport::ReadFakeRecords(box_.record()); }

  bool Settled() { return e2e::Settled(box_, launcher_); }

  void WaitSettled() {
    ASSERT_TRUE(e2e::WaitFor([&] { return Settled(); }, kStartTimeout)) << Stderr();
  }

  std::string Stderr() const { return testsupport::ReadFile(box_.err()); }

  e2e::Sandbox box_;
  e2e::Child launcher_;
};

// The two ways the opening starts the server by itself. Either way the
// pushed Start saves while "Auto" is ticked, so the file then says "Yes".
struct AutoStartCase {
  const char* name;
  const char* savedAutomount;
  std::vector<std::string> args;
};

void PrintTo(const AutoStartCase& c, std::ostream* os) { *os << c.name; }

class AutoStart : public LauncherE2E, public ::testing::WithParamInterface<AutoStartCase> {};

TEST_P(AutoStart, StartsTheFakeOnceWithPortAndShareAndSavesYes) {
  const e2e::Settings saved = AtTheFake(GetParam().savedAutomount);
  box_.WriteSettings(saved.Text());
  Launch(GetParam().args);

  ASSERT_TRUE(e2e::WaitFor([&] { return !Records().empty(); }, kStartTimeout)) << Stderr();
  // Once the launcher is back waiting in its loop, no second start can come.
  ASSERT_TRUE(e2e::WaitFor([&] { return e2e::BackInLoop(launcher_.pid()); }, kStartTimeout));

  const auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].args, (std::vector<std::string>{"-p", saved.port, saved.ShareDir}));
  EXPECT_TRUE(e2e::Alive(records[0]));

  e2e::Settings expected = saved;
  expected.Automount = "Yes";
  EXPECT_EQ(testsupport::ReadFile(box_.settingsFile()), expected.Text());
  EXPECT_TRUE(launcher_.Running());
  EXPECT_EQ(Stderr(), "");
}

INSTANTIATE_TEST_SUITE_P(E2E, AutoStart,
                         ::testing::Values(AutoStartCase{"SavedYes", "Yes", {}},
                                           AutoStartCase{
                                               "SavedNoCommandLineAutomount", "No", {"-automount"}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A session logout sends SIGTERM to the launcher; the server it started is
// in a session of its own and runs on.
TEST_F(LauncherE2E, ServerOutlivesLauncherEndedBySigterm) {
  box_.WriteSettings(AtTheFake("Yes").Text());
  Launch();
  ASSERT_TRUE(e2e::WaitFor([&] { return !Records().empty(); }, kStartTimeout)) << Stderr();
  const auto server = Records()[0];
  ASSERT_TRUE(e2e::Alive(server));

  launcher_.Signal(SIGTERM);
  auto status = launcher_.WaitExit(10s);
  ASSERT_TRUE(status.has_value()) << "the launcher did not end on SIGTERM";
  EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM);

  EXPECT_TRUE(e2e::Alive(server));
  // Nothing ends it a little later either.
  EXPECT_FALSE(e2e::WaitFor([&] { return !e2e::Alive(server); }, 300ms));
}

// Bad settings text: the opening stops at the read, before the command line
// is looked at. The launcher reports it once, keeps its window and keeps the
// file as it was.
TEST_F(LauncherE2E, MalformedSettingsStartNothingAndReportOneLine) {
  const std::string malformed = "{\"port\":\"1\"x";
  box_.WriteSettings(malformed);
  Launch({"-automount"});

  ASSERT_TRUE(
      e2e::WaitFor([&] { return Stderr().find("JSONException") != std::string::npos; }, kStartTimeout))
      << Stderr();
  WaitSettled();
  EXPECT_FALSE(launcher_.WaitExit(500ms).has_value()) << "the launcher ended";

  EXPECT_EQ(box_.Lines(box_.err()),
            (std::vector<std::string>{
                "orvande: unhandled JSONException 6: Missing , or } at position 12 (settings file " +
                box_.settingsFile().string() + "; it is kept and set aside at the next Start)"}));
  EXPECT_FALSE(e2e::fs::exists(box_.record())) << "a server was started";
  EXPECT_EQ(testsupport::ReadFile(box_.settingsFile()), malformed);
}

// A first launch: no settings folder, perhaps not even the application-data
// folder. The window opens on its design values and starts nothing.
class FirstLaunch : public LauncherE2E, public ::testing::WithParamInterface<bool> {};

TEST_P(FirstLaunch, OpensQuietlyAndStartsNothing) {
  const bool configFolderExists = GetParam();
  if (!configFolderExists) e2e::fs::remove_all(box_.config());
  Launch();

  WaitSettled();
  EXPECT_FALSE(launcher_.WaitExit(300ms).has_value()) << "the launcher ended";
  EXPECT_EQ(Stderr(), "");
  EXPECT_FALSE(e2e::fs::exists(box_.record())) << "a server was started";
  EXPECT_FALSE(e2e::fs::exists(box_.settingsFolder())) << "settings were written";
}

INSTANTIATE_TEST_SUITE_P(E2E, FirstLaunch, ::testing::Values(true, false), [](const auto& info) {
  return std::string(info.param ? "ConfigFolderPresent" : "NoConfigFolder");
});

// --- the address query, started ahead of the window ---------------------------

// No settings: the pushed Start saves the address the opening showed.
TEST_F(LauncherE2E, AddressQueryRunsOnceAndItsAddressIsTheOneShown) {
  Launch({"-automount"});
  ASSERT_TRUE(
      e2e::WaitFor([&] { return !testsupport::ReadFile(box_.settingsFile()).empty(); }, kStartTimeout))
      << Stderr();
  WaitSettled();
  EXPECT_EQ(box_.Lines(box_.ifconfigLog()).size(), 1u);
  const std::string saved = testsupport::ReadFile(box_.settingsFile());
  EXPECT_NE(saved.find("\"ipaddress\":\"192.0.2.77\""), std::string::npos) << saved;
}

// Start-up that ends by an exception: the process's status is 1, and a query
// started ahead that still runs is ended with it. Nothing a user can do makes
// the launcher's start-up raise, so this runs the test build whose start-up
// hook raises.
TEST_F(LauncherE2E, StartUpEndedByAnExceptionExitsOneAndEndsTheQueryStartedAhead) {
  const auto pidFile = box_.root() / "ifconfig.pid";
  testsupport::WriteFile(box_.bin() / "ifconfig",
                         "#!/bin/sh\necho $$ > '" + pidFile.string() + "'\nexec sleep 30\n", true);
  LaunchWith({}, box_.Environment(), -1, ORVANDE_STARTUP_RAISES_EXE);
  auto status = launcher_.WaitExit(kStartTimeout);
  ASSERT_TRUE(status.has_value()) << "the launcher did not end";
  ASSERT_TRUE(WIFEXITED(*status)) << *status;
  EXPECT_EQ(WEXITSTATUS(*status), 1);
  EXPECT_EQ(box_.Lines(box_.err()),
            (std::vector<std::string>{"orvande: unhandled RuntimeException 0: start-up failed"}));

  // Killed before it got this far, or ended now.
  if (!e2e::WaitFor([&] { return !testsupport::ReadFile(pidFile).empty(); }, 500ms)) return;
  const pid_t query = static_cast<pid_t>(std::atol(testsupport::ReadFile(pidFile).c_str()));
  auto gone = [&] {
    auto st = e2e::ReadStat(query);
    return !st || st->state == 'Z';
  };
  const bool ended = e2e::WaitFor(gone, 2s);
  if (!ended) {
    if (auto st = e2e::ReadStat(query)) kill(-st->pgrp, SIGKILL);
  }
  EXPECT_TRUE(ended) << "the query started ahead runs on";
}

// A query that writes without end: the opening ends it at the 10 s limit,
// counted from the start, and the launcher keeps no more than a little of it.
TEST_F(LauncherE2E, FloodingAddressQueryEndsAtTheLimitInLittleMemory) {
  if (!e2e::fs::exists("/usr/bin/yes") && !e2e::fs::exists("/bin/yes"))
    GTEST_SKIP() << "no yes(1) on this machine";
  // The launcher's own peak with a quiet query, to tell the flood's share.
  Launch();
  WaitSettled();
  const long long quietPeak = e2e::StatusKiB(launcher_.pid(), "VmHWM");
  e2e::EndWithShells(launcher_, box_.record());

  // Lines that hold no address, so the query reads on until the limit ends it.
  e2e::fs::remove(box_.ifconfigLog());
  testsupport::WriteFile(
      box_.bin() / "ifconfig",
      "#!/bin/sh\necho ran >> '" + box_.ifconfigLog().string() + "'\nexec yes 'inet6 fe80::1 prefixlen 64'\n",
      true);
  const auto started = e2e::Clock::now();
  Launch();
  WaitSettled();
  const auto took = e2e::Clock::now() - started;
  EXPECT_LT(took, 10s + 3s) << "the opening outlasted the limit";
  EXPECT_GE(took, 10s) << "the query did not run into the limit";
  const long long peak = e2e::StatusKiB(launcher_.pid(), "VmHWM");
  ASSERT_GT(quietPeak, 0);
  ASSERT_GT(peak, 0);
  EXPECT_LT(peak - quietPeak, 16 * 1024) << "KiB over the quiet launch's peak of " << quietPeak;
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(peak, 64 * 1024) << "KiB";
#endif
}

// --- how the launcher itself fares ---------------------------------------------

// As in `orvande 2>&1 >/dev/null | true`: the error report meets a pipe with
// no reader, and the launcher goes on.
TEST_F(LauncherE2E, SurvivesReportingToAStandardErrorWhoseReaderHasGone) {
  box_.WriteSettings("{\"port\":\"1\"x");
  int pipeFds[2];
  ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
  LaunchWith({}, box_.Environment(), pipeFds[1]);
  close(pipeFds[0]);
  close(pipeFds[1]);
  WaitSettled();
  const auto status = launcher_.WaitExit(500ms);
  EXPECT_FALSE(status.has_value()) << "the launcher ended, signal "
                                   << (status && WIFSIGNALED(*status) ? WTERMSIG(*status) : 0);
}

// The environment with the window-system variables taken out.
std::vector<std::string> WithoutDisplay(std::vector<std::string> env) {
  std::erase_if(env, [](const std::string& e) {
    for (const char* name : {"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY="}) {
      if (e.rfind(name, 0) == 0) return true;
    }
    return false;
  });
  return env;
}

struct NoDisplayCase {
  const char* name;
  std::map<std::string, std::string> env;  // added after the display variables are gone
};

void PrintTo(const NoDisplayCase& c, std::ostream* os) { *os << c.name; }

class NoDisplay : public LauncherE2E, public ::testing::WithParamInterface<NoDisplayCase> {};

// The address query is started ahead, before the toolkit finds there is no
// window system; here its ifconfig hangs, so it still runs when the launcher
// gives up, and must not outlive it.
TEST_P(NoDisplay, SaysItNeedsAGraphicalSessionInOneLineExitsOneAndLeavesNoQuery) {
  if (e2e::fs::exists("/tmp/.X11-unix/X4711")) GTEST_SKIP() << "an X server answers on :4711 here";
  testsupport::WriteFile(box_.bin() / "ifconfig",
                         "#!/bin/sh\necho ran >> '" + box_.ifconfigLog().string() + "'\nexec sleep 60\n",
                         true);
  std::vector<std::string> env = WithoutDisplay(box_.Environment());
  for (const auto& [name, value] : GetParam().env) env.push_back(name + "=" + value);
  LaunchWith({}, env);
  auto status = launcher_.WaitExit(kStartTimeout);
  ASSERT_TRUE(status.has_value()) << "the launcher did not end";
  ASSERT_TRUE(WIFEXITED(*status)) << "status " << *status;
  EXPECT_EQ(WEXITSTATUS(*status), 1);
  const auto lines = box_.Lines(box_.err());
  ASSERT_EQ(lines.size(), 1u) << Stderr();
  EXPECT_NE(lines[0].find("graphical session"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("QT_QPA_PLATFORM=offscreen"), std::string::npos) << lines[0];
  // Processes of the query that were killed may take a moment to be gone; a
  // query left running stays.
  EXPECT_TRUE(e2e::WaitFor([&] { return e2e::ProcessesOf(box_).empty(); }, 2s))
      << e2e::ProcessesOf(box_).size() << " processes of the query started ahead outlived the launcher";
}

INSTANTIATE_TEST_SUITE_P(E2E, NoDisplay,
                         ::testing::Values(NoDisplayCase{"NoneNamed", {}},
                                           NoDisplayCase{"X11NotAnswering", {{"DISPLAY", ":4711"}}},
                                           NoDisplayCase{"WaylandNotAnswering",
                                                         {{"WAYLAND_DISPLAY", "orvande-nowhere"},
                                                          {"XDG_SESSION_TYPE", "wayland"}}},
                                           NoDisplayCase{"X11PlatformNamedNotAnswering",
                                                         {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":4711"}}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
