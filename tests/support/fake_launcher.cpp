// A launcher in miniature, for tests of what outlives the launcher and of
// the state it starts in: it sets up the runtime as the launcher does, then
//   fake_launcher quit COMMAND    starts COMMAND through a mode-1 Shell and
//                                 quits as soon as Execute has returned
//   fake_launcher wait COMMAND    the same, then runs the event loop until a
//                                 signal ends it
//   fake_launcher status COMMAND  runs COMMAND synchronously and then as a
//                                 watched child, and prints the exit status
//                                 each run gave: "captured N" and "watched N"
//                                 (-1 when it was lost)
// With quit and wait it writes "started" on standard error once Execute has
// returned.
#include <sys/wait.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/child_watch.h"
#include "platform/process_posix.h"
#include "platform/runtime.h"
#include "platform/shell.h"

namespace {

int ExitCode(int status) { return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

void ReportStatuses(const char* command) {
  const int captured = process::RunCaptured(command, std::chrono::seconds(10)).status;
  std::printf("captured %d\n", ExitCode(captured));
  const process::Child child = process::SpawnShell(command, false);
  int watched = -2;
  WatchChild(child.pid, [&](int status) {
    watched = status;
    QCoreApplication::quit();
  });
  RuntimeRun();
  std::printf("watched %d\n", ExitCode(watched));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fake_launcher quit|wait|status COMMAND\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  RuntimeInit();
  if (std::strcmp(argv[1], "status") == 0) {
    ReportStatuses(argv[2]);
    return RuntimeExit();
  }
  {
    auto shell = std::make_shared<Shell>();
    shell->SetMode(1);
    shell->Execute(argv[2]);
    std::fprintf(stderr, "started\n");
    if (std::strcmp(argv[1], "wait") == 0) RuntimeRun();
  }
  return RuntimeExit();
}
