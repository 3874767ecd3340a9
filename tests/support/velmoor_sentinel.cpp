// A process named velmoor that no test starts, standing in for a user's own
// server: the suite starts it before every test and checks after the last
// one that it still runs, so a test that ends processes it did not start
// (the real "killall velmoor") fails the run.
//
//   velmoor_sentinel start PIDFILE VELMOOR   starts VELMOOR (the fake server)
//       in a session of its own, detached from the suite, and writes its pid
//       and start time to PIDFILE once it runs under its name
//   velmoor_sentinel check PIDFILE           exits 0 when that very process
//       still runs, else 1 with a message; ends it either way, by its pidfd
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "support/fake_record.h"

namespace {

std::string Comm(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

int Start(const char* pidFile, const char* program) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return 2;
  const pid_t first = fork();
  if (first < 0) return 2;
  if (first == 0) {
    // Detached: its own session, no descriptor of the suite's, and no
    // switch of the fake's from the environment.
    setsid();
    for (const char* name : {"VELMOOR_RECORD", "VELMOOR_EXIT", "VELMOOR_FLOOD", "VELMOOR_IGNORE_TERM"}) {
      unsetenv(name);
    }
    const pid_t server = fork();
    if (server != 0) {
      (void)!write(ready[1], &server, sizeof server);
      _exit(server > 0 ? 0 : 1);
    }
    const int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
    close_range(3, ~0u, 0);
    chdir("/");
    execl(program, "velmoor", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ready[1]);
  pid_t server = -1;
  const bool got = read(ready[0], &server, sizeof server) == sizeof server;
  close(ready[0]);
  waitpid(first, nullptr, 0);
  if (!got || server <= 0) {
    std::fprintf(stderr, "velmoor_sentinel: cannot start %s\n", program);
    return 1;
  }
  // Written once the server runs under its name, so the check compares
  // the start time of the server itself.
  for (int i = 0; i < 500 && Comm(server) != "velmoor"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const auto stat = testsupport::ReadProcStat(server);
  if (Comm(server) != "velmoor" || !stat) {
    std::fprintf(stderr, "velmoor_sentinel: %s did not run as velmoor\n", program);
    kill(server, SIGKILL);
    return 1;
  }
  std::ofstream(pidFile, std::ios::trunc) << server << " " << stat->start << "\n";
  std::printf("velmoor_sentinel: pid %d\n", static_cast<int>(server));
  return 0;
}

int Check(const char* pidFile) {
  testsupport::FakeRecord sentinel;
  {
    std::ifstream in(pidFile);
    if (!(in >> sentinel.pid >> sentinel.start)) {
      std::fprintf(stderr, "velmoor_sentinel: no sentinel recorded in %s\n", pidFile);
      return 1;
    }
  }
  std::remove(pidFile);
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, sentinel.pid, 0));
  const bool alive = fd >= 0 && testsupport::StillRunning(sentinel) && Comm(sentinel.pid) == "velmoor";
  if (alive) syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0);
  if (fd >= 0) close(fd);
  if (!alive) {
    std::fprintf(stderr,
                 "velmoor_sentinel: the velmoor started before the tests (pid %d) no longer runs: "
                 "a test ended a process it did not start\n",
                 static_cast<int>(sentinel.pid));
    return 1;
  }
  std::printf("velmoor_sentinel: pid %d still ran after the tests\n", static_cast<int>(sentinel.pid));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "start") == 0) return Start(argv[2], argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "check") == 0) return Check(argv[2]);
  std::fprintf(stderr, "usage: velmoor_sentinel start PIDFILE VELMOOR | check PIDFILE\n");
  return 2;
}
