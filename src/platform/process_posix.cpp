#include <csignal>

// A launcher started with SIGCHLD ignored would have its children reaped by
// the kernel and could never learn how they ended.
void RestoreChildSignalDefault() {
  struct sigaction current {};
  if (sigaction(SIGCHLD, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
    signal(SIGCHLD, SIG_DFL);
  }
}
