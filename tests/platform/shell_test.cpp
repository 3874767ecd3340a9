// Shell: what its children inherit, the synchronous default mode, mode 1's
// events and reaping, and what outlives the shell and the launcher.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/child_watch.h"
#include "platform/process_posix.h"
#include "platform/shell.h"
#include "support/fake_record.h"
#include "support/open_descriptors.h"
#include "support/pump.h"
#include "support/test_support.h"

using namespace std::chrono_literals;
using testsupport::FakeRecord;
using testsupport::FakesDir;
using testsupport::PumpUntil;
using testsupport::ReadFakeRecords;

namespace {

std::string Quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

std::string OwnFdTarget(int fd) {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).string();
}

// The sequence of events a shell raised, and where.
struct EventSpy {
  struct Event {
    std::string name;
    Shell* shell;
    std::thread::id thread;
  };
  std::vector<Event> events;

  void Attach(Shell& shell) {
    shell.AddCompletedHandler({[this](std::shared_ptr<Shell> s) { Add("Completed", s); }, "Completed"});
    shell.AddDataAvailableHandler(
        {[this](std::shared_ptr<Shell> s) { Add("DataAvailable", s); }, "DataAvailable"});
  }
  void Add(const char* name, const std::shared_ptr<Shell>& s) {
    events.push_back({name, s.get(), std::this_thread::get_id()});
  }
};

// Every process a test starts is ended by pid in TearDown, failed or not:
// the fakes from their records, other children and groups as registered.
class ShellTest : public testing::Test {
 protected:
  void TearDown() override {
    for (const auto& file : recordFiles_) testsupport::KillRecorded(file);
    testsupport::EndGroupsAndChildren(groups_, children_);
    process::ForceThreadExitWatch(false);
  }

  // A command line that runs the fake server with its record in a file of
  // its own; the fake is ended in TearDown.
  std::string Fake(const std::string& recordName, const std::string& env = "",
                   const std::string& args = "-p 38008 /Games") {
    auto file = tmp_.path() / recordName;
    recordFiles_.push_back(file);
    return "VELMOOR_RECORD=" + Quoted(file) + " " + env + " " + Quoted(Server()) + " " + args;
  }

  // The same, with the shell replaced by the fake: dash clears the signal
  // mask of the children it forks, so only an exec'd fake sees the mask the
  // shell itself was given.
  std::string ExecFake(const std::string& recordName, const std::string& env = "") {
    auto file = tmp_.path() / recordName;
    recordFiles_.push_back(file);
    return "export VELMOOR_RECORD=" + Quoted(file) + " " + env + "; exec " + Quoted(Server()) +
           " -p 38008 /Games";
  }

  // The fake under a name of its own: a "killall velmoor" that another test
  // runs at the same time cannot reach it.
  std::filesystem::path Server() {
    auto link = tmp_.path() / "fakeserver";
    if (!std::filesystem::exists(link)) std::filesystem::create_symlink(FakesDir() / "velmoor", link);
    return link;
  }

  std::vector<FakeRecord> Records(const std::string& recordName) {
    return ReadFakeRecords(tmp_.path() / recordName);
  }

  FakeRecord WaitForRecord(const std::string& recordName) {
    PumpUntil([&] { return !Records(recordName).empty(); });
    auto records = Records(recordName);
    if (records.empty()) throw std::runtime_error("the fake never started: " + recordName);
    return records.front();
  }

  // Makes the test's standard input a pipe that stays open and empty.
  void HoldOpenStdin() {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    dup2(p[0], 0);
    close(p[0]);
    stdinWriter_ = p[1];
  }

  static std::shared_ptr<Shell> MakeShell(std::int32_t mode) {
    auto shell = std::make_shared<Shell>();
    shell->SetMode(mode);
    return shell;
  }

  testsupport::TempDir tmp_;
  std::vector<std::filesystem::path> recordFiles_;
  std::vector<pid_t> groups_, children_;
  int stdinWriter_ = -1;  // kept open for the test's life
};

// --- what the child inherits ----------------------------------------------

enum LauncherState : unsigned {
  kClean = 0,
  kIgnoresPipeAndUsr1 = 1,
  kBlocksUsr2 = 2,
  kHoldsInheritableFd = 4,
  kIgnoresSigchld = 8,
  kBlocksChldTermIntHup = 16,
};

struct HygieneCase {
  const char* name;
  unsigned state;
};

const HygieneCase kHygieneCases[] = {
    {"Clean", kClean},
    {"IgnoresSigpipeAndSigusr1", kIgnoresPipeAndUsr1},
    {"BlocksSigusr2", kBlocksUsr2},
    {"HoldsInheritableFdAndOpenStdin", kHoldsInheritableFd},
    {"IgnoresSigchld", kIgnoresSigchld},
    {"BlocksSigchldSigtermSigintSighup", kBlocksChldTermIntHup},
    {"AllAtOnce",
     kIgnoresPipeAndUsr1 | kBlocksUsr2 | kHoldsInheritableFd | kIgnoresSigchld | kBlocksChldTermIntHup},
};

class ChildHygieneTest : public ShellTest,
                         public testing::WithParamInterface<std::tuple<HygieneCase, int>> {};

// Each case runs in a process of its own, so the launcher's state can be
// changed freely here.
TEST_P(ChildHygieneTest, ChildSeesOnlyStandardFdsAndDefaultSignals) {
  const auto [c, mode] = GetParam();
  if (c.state & kIgnoresPipeAndUsr1) {
    signal(SIGPIPE, SIG_IGN);
    signal(SIGUSR1, SIG_IGN);
  }
  if (c.state & kIgnoresSigchld) signal(SIGCHLD, SIG_IGN);
  sigset_t blocked;
  sigemptyset(&blocked);
  if (c.state & kBlocksUsr2) sigaddset(&blocked, SIGUSR2);
  if (c.state & kBlocksChldTermIntHup) {
    for (int sig : {SIGCHLD, SIGTERM, SIGINT, SIGHUP}) sigaddset(&blocked, sig);
  }
  pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
  if (c.state & kHoldsInheritableFd) {
    int low = open("/dev/null", O_RDONLY);  // no O_CLOEXEC
    ASSERT_GE(low, 0);
    ASSERT_EQ(dup2(low, 100), 100);
    HoldOpenStdin();
  }

  auto shell = MakeShell(mode);
  // The synchronous run waits for its command, so that fake leaves at once.
  shell->Execute(ExecFake("record", mode == 0 ? "VELMOOR_EXIT=0" : ""));
  const FakeRecord r = WaitForRecord("record");

  std::vector<int> fds;
  for (const auto& [fd, target] : r.fds) fds.push_back(fd);
  EXPECT_EQ(fds, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(r.fds.at(0), "/dev/null");
  EXPECT_EQ(r.fds.at(2), OwnFdTarget(2));
  if (mode == 1) {
    EXPECT_EQ(r.fds.at(1), OwnFdTarget(1));  // the launcher's own output
  } else {
    EXPECT_EQ(r.fds.at(1).rfind("pipe:", 0), 0u) << r.fds.at(1);
  }
  EXPECT_TRUE(r.blocked.empty());
  EXPECT_TRUE(r.ignored.empty());
  EXPECT_NE(r.sid, getsid(0));
  EXPECT_EQ(r.pgid, r.sid);  // in a group of its session's own
  EXPECT_EQ(r.args, (std::vector<std::string>{"-p", "38008", "/Games"}));
}

INSTANTIATE_TEST_SUITE_P(Launcher, ChildHygieneTest,
                         testing::Combine(testing::ValuesIn(kHygieneCases), testing::Values(0, 1)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_Mode" +
                                  std::to_string(std::get<1>(info.param));
                         });

// --- the default mode -------------------------------------------------------

struct ResultCase {
  const char* name;
  std::string command;
  std::string result;
};

TEST_F(ShellTest, DefaultModeResultIsTheWholeOutputAtEveryRead) {
  const std::vector<ResultCase> cases = {
      {"failing command", "echo hi; exit 7", "hi\n"},
      {"reads stdin", "cat; read line; echo \"[$line]\"", "[]\n"},
      {"blanks and lines", "printf ' inet 10.0.0.5 x\\n inet 10.0.0.6'", " inet 10.0.0.5 x\n inet 10.0.0.6"},
      {"nothing", "true", ""},
  };
  // A launcher whose own input never ends: a child reading it would hang.
  HoldOpenStdin();
  auto shell = std::make_shared<Shell>();
  EXPECT_EQ(shell->Mode(), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    shell->Execute(c.command);
    EXPECT_EQ(shell->Result(), c.result);
    EXPECT_EQ(shell->Result(), c.result);
  }
}

TEST_F(ShellTest, DefaultModeReturnsWhenTheShellEndsNotWhenThePipeCloses) {
  auto shell = std::make_shared<Shell>();
  const auto started = std::chrono::steady_clock::now();
  shell->Execute("echo $$; echo hi; sleep 30 &");
  const auto took = std::chrono::steady_clock::now() - started;
  const std::string result = shell->Result();
  const pid_t group = std::stoi(result);
  groups_.push_back(group);
  EXPECT_EQ(result, std::to_string(group) + "\nhi\n");
  EXPECT_LT(took, Shell::kSynchronousLimit);
  // Still running: no time-out ended it.
  EXPECT_FALSE(testsupport::LiveGroupMembers(group).empty());
}

TEST_F(ShellTest, DefaultModeEndsAHangingPipelineWithinTheLimit) {
  // The limit the contract states, not the constant that implements it.
  constexpr auto kTenSeconds = 10s;
  EXPECT_EQ(Shell::kSynchronousLimit, kTenSeconds);
  auto shell = std::make_shared<Shell>();
  const auto started = std::chrono::steady_clock::now();
  shell->Execute("echo $$; echo before; sleep 30 | cat");
  const auto bound = started + kTenSeconds + 1s;
  EXPECT_GE(std::chrono::steady_clock::now(), started + kTenSeconds) << "ended before the limit";
  EXPECT_LE(std::chrono::steady_clock::now(), bound);
  const pid_t group = std::stoi(shell->Result());
  groups_.push_back(group);
  EXPECT_EQ(shell->Result(), std::to_string(group) + "\nbefore\n");
  while (!testsupport::LiveGroupMembers(group).empty() && std::chrono::steady_clock::now() < bound) {
    usleep(10000);
  }
  EXPECT_TRUE(testsupport::LiveGroupMembers(group).empty());
  EXPECT_TRUE(testsupport::OwnZombies().empty());
}

// A "VmHWM" or "VmRSS" figure of this process, in KiB.
long long OwnStatusKiB(const std::string& key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::atoll(line.c_str() + key.size() + 1);
  }
  return -1;
}

TEST_F(ShellTest, DefaultModeKeepsTheFirstMebibyteOfAFloodInLittleMemory) {
  constexpr std::size_t kMiB = 1 << 20;
  EXPECT_EQ(Shell::kResultLimit, kMiB);
  // From here the peak is this test's own.
  {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
  }
  if (OwnStatusKiB("VmHWM") > OwnStatusKiB("VmRSS") + 1024) GTEST_SKIP() << "cannot reset the peak RSS here";
  const long long rssBefore = OwnStatusKiB("VmRSS");

  auto shell = std::make_shared<Shell>();
  const auto started = std::chrono::steady_clock::now();
  // 256 MiB, then a word the limit keeps out; the writer is never held up.
  shell->Execute(Quoted(FakesDir() / "emit") + " 1 268435456; echo lost");
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
  EXPECT_EQ(shell->Result().size(), kMiB);
  EXPECT_EQ(shell->Result().find_first_not_of('e'), std::string::npos);
  EXPECT_LT(OwnStatusKiB("VmHWM") - rssBefore, 64 * 1024) << "peak growth in KiB";
}

TEST_F(ShellTest, DefaultModeSurvivesMuchStandardErrorBeforeOutput) {
  const auto errFile = tmp_.path() / "stderr";
  auto shell = std::make_shared<Shell>();
  testsupport::WithStderrTo(errFile,
                            [&] { shell->Execute(Quoted(FakesDir() / "emit") + " 2 1048576; echo done"); });
  EXPECT_EQ(shell->Result(), "done\n");
  EXPECT_EQ(std::filesystem::file_size(errFile), 1048576u);
}

// --- a command started ahead --------------------------------------------------

class StartAheadTest : public ShellTest {
 protected:
  void TearDown() override {
    Shell::DropStartedAhead();
    ShellTest::TearDown();
  }

  // A query that notes each of its runs.
  std::string Query() const { return "echo ran >> " + Quoted(tmp_.path() / "runs") + "; echo found"; }
  int Runs() const {
    std::ifstream in(tmp_.path() / "runs");
    int n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
  }
};

struct AheadCase {
  const char* name;
  std::vector<std::string> executes;  // "query" stands for the command started ahead
  std::chrono::milliseconds delay;    // before the first Execute
  int queryRuns;                      // in all
};

void PrintTo(const AheadCase& c, std::ostream* os) { *os << c.name; }

class StartAheadTaking : public StartAheadTest, public testing::WithParamInterface<AheadCase> {};

TEST_P(StartAheadTaking, OnlyTheFirstExecuteOfTheSameTextInTimeTakesTheOutput) {
  const AheadCase& c = GetParam();
  const int fdsBefore = OpenDescriptorCount();
  Shell::StartAhead(Query());
  std::this_thread::sleep_for(c.delay);
  auto shell = std::make_shared<Shell>();
  for (const auto& command : c.executes) {
    const bool query = command == "query";
    shell->Execute(query ? Query() : command);
    EXPECT_EQ(shell->Result(), query ? "found\n" : "other\n");
  }
  EXPECT_EQ(Runs(), c.queryRuns);
  EXPECT_TRUE(testsupport::OwnZombies().empty());
  EXPECT_EQ(OpenDescriptorCount(), fdsBefore);
}

INSTANTIATE_TEST_SUITE_P(Shell, StartAheadTaking,
                         testing::Values(AheadCase{"TakenBySameText", {"query"}, 0ms, 1},
                                         AheadCase{"SecondExecuteRunsAgain", {"query", "query"}, 0ms, 2},
                                         AheadCase{
                                             "OtherTextFirstRunsItsOwn", {"echo other", "query"}, 200ms, 2},
                                         // The few seconds the contract gives, and a little more.
                                         AheadCase{"TooLateRunsAgain", {"query"}, 5500ms, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// What happens to a run started ahead that nothing takes while it still runs:
// another command comes first, or the launcher ends without an opening.
TEST_F(StartAheadTest, ARunNotTakenIsEndedWithItsGroupAndLeavesNothing) {
  struct EndCase {
    const char* name;
    std::function<void()> end;
  };
  const std::vector<EndCase> cases = {
      {"other command first", [] { std::make_shared<Shell>()->Execute("true"); }},
      {"dropped at exit", [] { Shell::DropStartedAhead(); }},
  };
  const auto pidFile = tmp_.path() / "pid";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(pidFile);
    const int fdsBefore = OpenDescriptorCount();
    Shell::StartAhead("echo $$ > " + Quoted(pidFile) + "; sleep 30 | cat");
    ASSERT_TRUE(PumpUntil([&] { return !testsupport::ReadFile(pidFile).empty(); }));
    const pid_t group = std::stoi(testsupport::ReadFile(pidFile));
    groups_.push_back(group);
    c.end();
    EXPECT_TRUE(PumpUntil([&] { return testsupport::LiveGroupMembers(group).empty(); }, 1s));
    EXPECT_TRUE(testsupport::OwnZombies().empty());
    EXPECT_EQ(OpenDescriptorCount(), fdsBefore);
  }
}

TEST_F(StartAheadTest, MoreThanThePipeHoldsWaitsForTheExecuteAndIsKeptToTheLimit) {
  const std::string command = Quoted(FakesDir() / "emit") + " 1 3000000";
  Shell::StartAhead(command);
  std::this_thread::sleep_for(200ms);  // the writer fills the pipe and waits
  auto shell = std::make_shared<Shell>();
  shell->Execute(command);
  EXPECT_EQ(shell->Result(), std::string(Shell::kResultLimit, 'e'));
  EXPECT_TRUE(testsupport::OwnZombies().empty());
}

// --- mode 1 -------------------------------------------------------------------

class AsyncShellTest : public ShellTest, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    if (!GetParam() && !process::PidfdAvailable()) GTEST_SKIP() << "no pidfd on this kernel";
    process::ForceThreadExitWatch(GetParam());
  }

  static bool NoChildLeft() {
    int status;
    return waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
  }
};

INSTANTIATE_TEST_SUITE_P(Watch, AsyncShellTest, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ThreadFallback" : "Pidfd"; });

TEST_P(AsyncShellTest, CompletedOnceOnTheMainThreadAfterTheChildEnds) {
  auto shell = MakeShell(1);
  EventSpy spy;
  spy.Attach(*shell);
  shell->Execute("echo some output; " + Fake("record"));  // returns while the fake runs
  EXPECT_EQ(shell->Result(), "");
  const FakeRecord r = WaitForRecord("record");
  EXPECT_TRUE(testsupport::StillRunning(r));
  EXPECT_TRUE(spy.events.empty());

  kill(r.pid, SIGTERM);
  ASSERT_TRUE(PumpUntil([&] { return !spy.events.empty(); }));
  testsupport::Pump(200ms);  // room for a wrong second event
  ASSERT_EQ(spy.events.size(), 1u);
  EXPECT_EQ(spy.events[0].name, "Completed");
  EXPECT_EQ(spy.events[0].shell, shell.get());
  EXPECT_EQ(spy.events[0].thread, std::this_thread::get_id());
  EXPECT_TRUE(NoChildLeft());  // reaped, no zombie
  EXPECT_EQ(WatchedChildCount(), 0);
  struct sigaction chld {};
  sigaction(SIGCHLD, nullptr, &chld);
  EXPECT_EQ(chld.sa_handler, SIG_DFL);  // it watched its own child, not all of them
}

TEST_P(AsyncShellTest, SecondExecuteWhileTheFirstRunsWatchesBoth) {
  auto shell = MakeShell(1);
  EventSpy spy;
  spy.Attach(*shell);
  shell->Execute(Fake("first"));
  shell->Execute(Fake("second"));
  const FakeRecord first = WaitForRecord("first");
  const FakeRecord second = WaitForRecord("second");
  EXPECT_TRUE(testsupport::StillRunning(first));
  EXPECT_TRUE(testsupport::StillRunning(second));
  EXPECT_TRUE(spy.events.empty());

  kill(first.pid, SIGTERM);
  ASSERT_TRUE(PumpUntil([&] { return spy.events.size() == 1; }));
  EXPECT_TRUE(testsupport::StillRunning(second));
  kill(second.pid, SIGTERM);
  ASSERT_TRUE(PumpUntil([&] { return spy.events.size() == 2; }));
  EXPECT_TRUE(NoChildLeft());
}

TEST_P(AsyncShellTest, ChildOutlivesItsShellAndIsStillReaped) {
  auto shell = MakeShell(1);
  EventSpy spy;
  spy.Attach(*shell);
  shell->Execute(Fake("record"));
  shell.reset();
  const FakeRecord r = WaitForRecord("record");
  testsupport::Pump(200ms);
  EXPECT_TRUE(testsupport::StillRunning(r));

  kill(r.pid, SIGTERM);
  ASSERT_TRUE(PumpUntil([] { return WatchedChildCount() == 0; }));
  EXPECT_TRUE(NoChildLeft());
  EXPECT_TRUE(spy.events.empty());  // no shell left to raise it on
}

// --- what outlives the launcher ---------------------------------------------

struct LauncherEnd {
  const char* name;
  const char* how;  // fake_launcher's first argument
  int signal;       // sent to it once the server runs; 0 for a quit
};

class LauncherEndTest : public ShellTest, public testing::WithParamInterface<LauncherEnd> {};

long long BytesWritten(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  long long value = -1;
  while (in >> key >> value) {
    if (key == "wchar:") return value;
  }
  return -1;
}

// Starts fake_launcher HOW COMMAND with its output on /dev/null, where the
// server's flood then goes too.
pid_t StartLauncher(const char* how, const std::string& command) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const std::string path = (FakesDir() / "fake_launcher").string();
  std::vector<char*> argv = {const_cast<char*>(path.c_str()), const_cast<char*>(how),
                             const_cast<char*>(command.c_str()), nullptr};
  pid_t pid = -1;
  int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

TEST_P(LauncherEndTest, ServerRunsOnAndGoesOnWriting) {
  const LauncherEnd end = GetParam();
  const pid_t launcher = StartLauncher(end.how, Fake("record", "VELMOOR_FLOOD=1"));
  ASSERT_GT(launcher, 0);
  children_.push_back(launcher);
  const FakeRecord r = WaitForRecord("record");
  if (end.signal != 0) kill(launcher, end.signal);
  int status = 0;
  ASSERT_EQ(waitpid(launcher, &status, 0), launcher);
  children_.clear();
  if (end.signal != 0) {
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), end.signal);
  } else {
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }

  const long long before = BytesWritten(r.pid);
  std::this_thread::sleep_for(2s);  // the server must last at least this long
  EXPECT_TRUE(testsupport::StillRunning(r));
  EXPECT_GT(BytesWritten(r.pid), before);
}

INSTANTIATE_TEST_SUITE_P(Ends, LauncherEndTest,
                         testing::Values(LauncherEnd{"Quit", "quit", 0},
                                         LauncherEnd{"Sigterm", "wait", SIGTERM},
                                         LauncherEnd{"Sigint", "wait", SIGINT},
                                         LauncherEnd{"Sigkill", "wait", SIGKILL}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the launcher's own signal state -------------------------------------------

// SIGCHLD ignored is kept across exec, so a launcher may be started that way
// (by a shell or service manager that ignores it). The kernel would then reap
// its children by itself and every exit status would be lost; the runtime's
// start-up sets SIGCHLD back to its default. fake_launcher starts as the
// launcher does and reports the statuses its two kinds of runs saw.
struct StartedWith {
  const char* name;
  bool sigchldIgnored;
};
void PrintTo(const StartedWith& c, std::ostream* os) { *os << c.name; }

class LauncherSignalsTest : public ShellTest, public testing::WithParamInterface<StartedWith> {};

TEST_P(LauncherSignalsTest, ExitStatusesOfItsCommandsAreSeen) {
  const std::string path = (FakesDir() / "fake_launcher").string();
  const std::string report = (tmp_.path() / "statuses").string();
  std::vector<char*> argv = {const_cast<char*>(path.c_str()), const_cast<char*>("status"),
                             const_cast<char*>("exit 3"), nullptr};
  const bool ignored = GetParam().sigchldIgnored;
  const pid_t launcher = fork();
  ASSERT_GE(launcher, 0);
  if (launcher == 0) {
    const int out = open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, 1) < 0) _exit(126);
    signal(SIGCHLD, ignored ? SIG_IGN : SIG_DFL);
    execv(argv[0], argv.data());
    _exit(127);
  }
  children_.push_back(launcher);
  int status = 0;
  ASSERT_EQ(waitpid(launcher, &status, 0), launcher);
  children_.clear();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(testsupport::ReadFile(report), "captured 3\nwatched 3\n");
}

INSTANTIATE_TEST_SUITE_P(Launcher, LauncherSignalsTest,
                         testing::Values(StartedWith{"SigchldDefault", false},
                                         StartedWith{"SigchldIgnored", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- properties ---------------------------------------------------------------

TEST_F(ShellTest, DesignDataGoesThroughTheSettersAndIsKept) {
  auto shell = std::make_shared<Shell>();
  SetProperties(shell, {IntProp("TimeOut", 5), IntProp("Mode", 1), TextProp("Arguments", "-x"),
                        TextProp("Backend", "sh"), BoolProp("Canonical", true)});
  EXPECT_EQ(shell->TimeOut(), 5);
  EXPECT_EQ(shell->Mode(), 1);
  EXPECT_TRUE(shell->Canonical());
  ASSERT_NE(shell->PropertyValueOf("Arguments"), nullptr);
  EXPECT_EQ(std::get<std::string>(*shell->PropertyValueOf("Arguments")), "-x");
}

TEST_F(ShellTest, UnknownModeIsRefusedAndTheModeKept) {
  auto shell = MakeShell(1);
  EXPECT_THROW(shell->SetMode(2), OutOfBoundsException);
  EXPECT_THROW(shell->SetProperty("Mode", std::int32_t{-1}), OutOfBoundsException);
  EXPECT_EQ(shell->Mode(), 1);
}

}  // namespace
