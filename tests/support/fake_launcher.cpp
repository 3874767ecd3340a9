// A launcher in miniature, for tests of what outlives the launcher: it
// starts a command through a mode-1 Shell, then ends as it is told.
//   fake_launcher quit COMMAND   quits as soon as Execute has returned
//   fake_launcher wait COMMAND   runs the event loop until a signal ends it
// It writes "started" on standard error once Execute has returned.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/runtime.h"
#include "platform/shell.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fake_launcher quit|wait COMMAND\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  RuntimeInit();
  {
    auto shell = std::make_shared<Shell>();
    shell->SetMode(1);
    shell->Execute(argv[2]);
    std::fprintf(stderr, "started\n");
    if (std::strcmp(argv[1], "wait") == 0) RuntimeRun();
  }
  return RuntimeExit();
}
