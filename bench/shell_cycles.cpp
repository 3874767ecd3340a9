// Starts and stops the fake server through one mode-1 shell, as the window's
// Start and Stop do, many times over; reports zombies and open descriptors
// before and after.
//   shell_cycles [CYCLES]   (default 1000)
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/child_watch.h"
#include "platform/runtime.h"
#include "platform/shell.h"
#include "shell_bench.h"

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  RuntimeInit();
  int failures = 0;
  {
    shellbench::Scratch scratch;
    const auto record = scratch.path() / "record";
    auto shell = std::make_shared<Shell>();
    shell->SetMode(1);
    int completed = 0;
    shell->AddCompletedHandler({[&](std::shared_ptr<Shell>) { ++completed; }, "Completed"});

    // One cycle first, so lazily made toolkit state is not counted.
    auto cycle = [&] {
      std::filesystem::remove(record);
      const int before = completed;
      shell->Execute("VELMOOR_RECORD='" + record.string() + "' " + scratch.Server() + " -p 38008 " +
                     scratch.path().string());
      pid_t pid = -1;
      if (!shellbench::PumpUntil([&] { return (pid = shellbench::RecordedPid(record)) > 0; })) return false;
      shell->Execute("kill " + std::to_string(pid));
      return shellbench::PumpUntil([&] { return completed == before + 2; });
    };
    cycle();
    shellbench::PumpUntil([] { return WatchedChildCount() == 0; });
    const int fdsBefore = shellbench::OpenDescriptors();
    const int zombiesBefore = shellbench::OwnZombies();

    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < cycles; ++i) {
      if (!cycle()) ++failures;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    shellbench::PumpUntil([] { return WatchedChildCount() == 0; });
    QCoreApplication::processEvents();  // the watches' queued deletions

    std::printf(
        "shell_cycles cycles %d count failed %d count seconds %.2f s per_cycle %.2f ms "
        "zombies_before %d count zombies_after %d count fds_before %d count fds_after %d count "
        "watched_after %d count\n",
        cycles, failures, seconds, seconds * 1000.0 / cycles, zombiesBefore, shellbench::OwnZombies(),
        fdsBefore, shellbench::OpenDescriptors(), WatchedChildCount());
  }
  RuntimeExit();
  return failures == 0 ? 0 : 1;
}
