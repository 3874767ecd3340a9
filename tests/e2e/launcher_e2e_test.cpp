// The built launcher run as a user runs it: a separate process under the
// offscreen platform, with its own settings folder, a fake ifconfig first on
// PATH and the fake server. Every process a test starts is ended by pid in
// TearDown, whether the test passed or not.
#include <gtest/gtest.h>

#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include "e2e/launcher_sandbox.h"
#include "support/fake_record.h"
#include "support/test_support.h"

#ifndef ORVANDE_EXE
#error "ORVANDE_EXE must name the built launcher"
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
  }

  void Launch(const std::vector<std::string>& args = {}) {
    e2e::SpawnRequest request;
    request.argv = {ORVANDE_EXE};
    request.argv.insert(request.argv.end(), args.begin(), args.end());
    request.env = box_.Environment();
    request.stdoutPath = box_.out().string();
    request.stderrPath = box_.err().string();
    launcher_ = e2e::Child(e2e::Spawn(request));
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

  // The opening has run to its end: the address query ran, no child of the
  // launcher is left, and its main thread waits in the event loop at several
  // samples in a row.
  bool Settled() {
    if (!e2e::fs::exists(box_.ifconfigLog())) return false;
    for (int i = 0; i < 5; ++i) {
      if (!launcher_.Running() || !e2e::LiveChildren(launcher_.pid()).empty() ||
          !e2e::WaitingInLoop(launcher_.pid())) {
        return false;
      }
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }

  void WaitSettled() { ASSERT_TRUE(e2e::WaitFor([&] { return Settled(); }, kStartTimeout)) << Stderr(); }

  std::string Stderr() const { return e2e::Slurp(box_.err()); }

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
  ASSERT_TRUE(e2e::WaitFor(
      [&] {
        for (int i = 0; i < 5; ++i) {
          if (!e2e::WaitingInLoop(launcher_.pid())) return false;
          std::this_thread::sleep_for(10ms);
        }
        return true;
      },
      kStartTimeout));

  const auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].args, (std::vector<std::string>{"-p", saved.port, saved.ShareDir}));
  EXPECT_TRUE(e2e::Alive(records[0]));

  e2e::Settings expected = saved;
  expected.Automount = "Yes";
  EXPECT_EQ(e2e::Slurp(box_.settingsFile()), expected.Text());
  EXPECT_TRUE(launcher_.Running());
  EXPECT_EQ(Stderr(), "");
}

INSTANTIATE_TEST_SUITE_P(
    E2E, AutoStart,
    ::testing::Values(AutoStartCase{"SavedYes", "Yes", {}},
                      AutoStartCase{"SavedNoCommandLineAutomount", "No", {"-automount"}}),
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

  ASSERT_TRUE(e2e::WaitFor([&] { return Stderr().find("JSONException") != std::string::npos; }, kStartTimeout))
      << Stderr();
  WaitSettled();
  EXPECT_FALSE(launcher_.WaitExit(500ms).has_value()) << "the launcher ended";

  EXPECT_EQ(box_.Lines(box_.err()),
            (std::vector<std::string>{
                "orvande: unhandled JSONException 6: Missing , or } at position 12 (settings file " +
                box_.settingsFile().string() + "; it is kept and set aside at the next Start)"}));
  EXPECT_FALSE(e2e::fs::exists(box_.record())) << "a server was started";
  EXPECT_EQ(e2e::Slurp(box_.settingsFile()), malformed);
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

}  // namespace
