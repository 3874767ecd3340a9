// The POSIX process runner: the synchronous run, the exit descriptor with
// both of its kinds (pidfd and the thread fallback), and what it leaves open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/exceptions.h"
#include "platform/process_posix.h"
#include "support/fake_record.h"
#include "support/open_descriptors.h"
#include "support/pump.h"
#include "support/test_support.h"

using namespace std::chrono_literals;
using testsupport::FakesDir;

namespace {

std::string Quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

// The fake server under a name of its own: a "killall velmoor" that another
// test runs at the same time cannot reach it.
std::filesystem::path FakeUnderOwnName(const testsupport::TempDir& tmp) {
  auto link = tmp.path() / "fakeserver";
  std::filesystem::create_symlink(FakesDir() / "velmoor", link);
  return link;
}

bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) == 1;
}

// Runs each test with the pidfd watch and with the thread fallback. Groups
// the tests leave running are ended in TearDown.
class RunnerTest : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (!GetParam() && !process::PidfdAvailable()) GTEST_SKIP() << "no pidfd on this kernel";
    process::ForceThreadExitWatch(GetParam());
  }
  void TearDown() override {
    testsupport::EndGroupsAndChildren(groups_, children_);
    process::ForceThreadExitWatch(false);
  }
  // A group is only ever signalled while one of its members lives, so its id
  // is still taken.
  void EndGroupLater(pid_t g) { groups_.push_back(g); }
  void EndChildLater(pid_t p) { children_.push_back(p); }

  std::vector<pid_t> groups_, children_;
};

INSTANTIATE_TEST_SUITE_P(Watch, RunnerTest, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ThreadFallback" : "Pidfd"; });

struct OutputCase {
  const char* name;
  std::string command;
  std::string output;
  int exitCode;
};

TEST_P(RunnerTest, CollectsStandardOutputOfTheShellUpToTheLimit) {
  const std::string emit = Quoted(FakesDir() / "emit");
  constexpr std::size_t kMiB = 1 << 20;
  ASSERT_EQ(process::kOutputKept, kMiB);
  // Beyond the limit the output is read and thrown away: the writer is not
  // held up and ends by itself with status 0, not by a broken pipe.
  const std::vector<OutputCase> cases = {
      {"failure keeps output", "echo hi; exit 7", "hi\n", 7},
      {"no final line end", "printf 'a b'", "a b", 0},
      {"stdin is empty", "cat; read line; echo \"[$line]\"", "[]\n", 0},
      {"more than a pipe holds", emit + " 1 1000000", std::string(1000000, 'e'), 0},
      {"exactly the limit", emit + " 1 " + std::to_string(kMiB), std::string(kMiB, 'e'), 0},
      {"past the limit", emit + " 1 3000000; echo lost", std::string(kMiB, 'e'), 0},
      {"silent", "true", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = process::RunCaptured(c.command, 20s);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.output, c.output);
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), c.exitCode);
  }
}

TEST_P(RunnerTest, ReturnsWhenTheShellEndsThoughABackgroundJobHoldsThePipe) {
  auto r = process::RunCaptured("echo $$; sleep 30 &", 20s);
  EndGroupLater(r.pid);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.output, std::to_string(r.pid) + "\n");
  // Had the run waited for the pipe, the time-out would have ended the job.
  EXPECT_FALSE(testsupport::LiveGroupMembers(r.pid).empty());
}

TEST_P(RunnerTest, StandardErrorFirstDoesNotDeadlock) {
  testsupport::TempDir tmp;
  const auto errFile = tmp.path() / "stderr";
  process::RunResult r;
  testsupport::WithStderrTo(
      errFile, [&] { r = process::RunCaptured(Quoted(FakesDir() / "emit") + " 2 1048576; echo done", 20s); });
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.output, "done\n");
  EXPECT_EQ(std::filesystem::file_size(errFile), 1048576u);  // the launcher's own stderr
}

struct TimeoutCase {
  const char* name;
  std::string command;
};

TEST_P(RunnerTest, TimeOutEndsTheWholeGroupAndKeepsTheOutput) {
  testsupport::TempDir tmp;
  const auto server = FakeUnderOwnName(tmp);
  const std::vector<TimeoutCase> cases = {
      {"pipeline", "echo $$; echo before; sleep 30 | cat"},
      {"member ignoring SIGTERM",
       "echo $$; echo before; VELMOOR_IGNORE_TERM=1 " + Quoted(server) + " & wait"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto timeout = 300ms;
    const auto started = std::chrono::steady_clock::now();
    auto r = process::RunCaptured(c.command, timeout);
    EndGroupLater(r.pid);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.output, std::to_string(r.pid) + "\nbefore\n");
    // Killed processes take a moment to finish dying; the bound is the
    // time-out plus one second.
    while (!testsupport::LiveGroupMembers(r.pid).empty() &&
           std::chrono::steady_clock::now() < started + timeout + 1s) {
      usleep(10000);
    }
    EXPECT_TRUE(testsupport::LiveGroupMembers(r.pid).empty());
  }
}

TEST_P(RunnerTest, ExitFdTurnsReadableAtTheEndAndLeavesReapingToTheOwner) {
  testsupport::TempDir tmp;
  auto child = process::SpawnShell("exec " + Quoted(FakeUnderOwnName(tmp)), false);
  EndChildLater(child.pid);
  EXPECT_EQ(child.stdoutFd, -1);
  int fd = process::OpenExitFd(child.pid);
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  EXPECT_FALSE(Readable(fd, 0));

  kill(child.pid, SIGTERM);
  ASSERT_TRUE(Readable(fd, 10000));
  auto stat = testsupport::ReadProcStat(child.pid);
  ASSERT_TRUE(stat);
  EXPECT_EQ(stat->state, 'Z');  // still ours to reap, so the pid stays reserved

  int status = process::Reap(child.pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_TRUE(testsupport::OwnZombies().empty());
  close(fd);
  children_.clear();
}

TEST_P(RunnerTest, LeavesNoDescriptorOpen) {
  const int before = OpenDescriptorCount();
  for (int i = 0; i < 20; ++i) {
    process::RunCaptured("echo x", 20s);
    auto child = process::SpawnShell("exit 0", true);
    int fd = process::OpenExitFd(child.pid);
    EXPECT_TRUE(fcntl(child.stdoutFd, F_GETFD) & FD_CLOEXEC);
    ASSERT_TRUE(Readable(fd, 10000));
    process::Reap(child.pid);
    close(fd);
    close(child.stdoutFd);
  }
  EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST_P(RunnerTest, ARunStartedEarlierCountsItsTimeOutFromItsStart) {
  process::CapturedRun run("echo $$; sleep 30");
  EndGroupLater(run.pid());
  std::this_thread::sleep_for(1s);
  const auto finishing = std::chrono::steady_clock::now();
  auto r = run.Finish(1500ms);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.output, std::to_string(r.pid) + "\n");
  // Counted from Finish, the time-out would come 1.5 s from here.
  EXPECT_LT(std::chrono::steady_clock::now() - finishing, 1200ms);
}

// A run nobody finishes: a shell still running is killed with its whole
// group; one that has ended is only reaped, so what it left in the
// background runs on. Either way no zombie and no descriptor stays.
TEST_P(RunnerTest, ARunDroppedUnfinishedLeavesNoZombieOrDescriptor) {
  struct DropCase {
    const char* name;
    std::string command;
    bool shellEndsFirst;
  };
  const std::vector<DropCase> cases = {
      {"still running", "sleep 30 | cat", false},
      {"ended, job in the background", "sleep 30 &", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int before = OpenDescriptorCount();
    pid_t group = -1;
    {
      process::CapturedRun run(c.command);
      group = run.pid();
      EndGroupLater(group);
      ASSERT_TRUE(testsupport::PumpUntil([&] {
        auto st = testsupport::ReadProcStat(group);
        return testsupport::LiveGroupMembers(group).size() >= 2 || (st && st->state == 'Z');
      }));
      if (c.shellEndsFirst) {
        ASSERT_TRUE(testsupport::PumpUntil([&] { return testsupport::ReadProcStat(group)->state == 'Z'; }));
      }
    }
    EXPECT_TRUE(testsupport::OwnZombies().empty());
    EXPECT_EQ(OpenDescriptorCount(), before);
    if (c.shellEndsFirst) {
      EXPECT_EQ(testsupport::LiveGroupMembers(group).size(), 1u);  // the job
    } else {
      EXPECT_TRUE(testsupport::PumpUntil([&] { return testsupport::LiveGroupMembers(group).empty(); }, 1s));
    }
  }
}

TEST(Runner, RefusesACommandHoldingNul) {
  EXPECT_THROW(process::RunCaptured(std::string("echo a\0b", 8), 1s), IOException);
}

}  // namespace
