// A process named velmoor that no test starts, standing in for a user's own
// server: the suite starts it before every test and checks after the last
// one that it still runs, so a test that ends processes it did not start
// (the real "killall velmoor") fails the run.
//
//   velmoor_sentinel start PIDFILE   runs this program again as "velmoor"
//       (through a link of that name beside PIDFILE), in a session of its
//       own and detached from the suite, and writes its pid and start time
//       to PIDFILE once it runs under that name
//   velmoor_sentinel check PIDFILE   exits 0 when that very process still
//       runs, else 1 naming the signal that ended it and its sender; ends
//       it either way, through its pidfd
//
// Run as "velmoor", it waits for a signal; one that would end it is noted,
// with the sender's pid and command line, in PIDFILE.signalled.
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/fake_record.h"

namespace {

namespace fs = std::filesystem;

std::string Comm(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

std::string SignalledFile(const std::string& pidFile) { return pidFile + ".signalled"; }

// --- running as velmoor ---------------------------------------------------------

int noteFd = -1;

void AppendNumber(char*& at, long n) {
  char digits[24];
  int count = 0;
  if (n < 0) {
    *at++ = '-';
    n = -n;
  }
  do {
    digits[count++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n > 0);
  while (count > 0) *at++ = digits[--count];
}

void AppendText(char*& at, const char* text) {
  while (*text) *at++ = *text++;
}

// Notes the signal and who sent it, then ends as that signal would.
void Noted(int sig, siginfo_t* info, void*) {
  char line[6400];
  char* at = line;
  AppendText(at, "signal ");
  AppendNumber(at, sig);
  AppendText(at, " from pid ");
  AppendNumber(at, info->si_pid);
  AppendText(at, ":");
  char path[64];
  char* p = path;
  AppendText(p, "/proc/");
  AppendNumber(p, info->si_pid);
  AppendText(p, "/cmdline");
  *p = '\0';
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    const ssize_t n = read(fd, at + 1, 4000);
    if (n > 0) {
      *at = ' ';
      for (ssize_t i = 1; i <= n; ++i) {
        if (at[i] == '\0') at[i] = ' ';
      }
      at += n + 1;
    }
    close(fd);
  }
  // Which program, and run from where: the sender may be gone by now.
  for (const char* link : {"exe", "cwd"}) {
    char* q = path;
    AppendText(q, "/proc/");
    AppendNumber(q, info->si_pid);
    AppendText(q, "/");
    AppendText(q, link);
    *q = '\0';
    char target[1024];
    const ssize_t n = readlink(path, target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    AppendText(at, "; ");
    AppendText(at, link);
    AppendText(at, " ");
    AppendText(at, target);
  }
  *at++ = '\n';
  (void)!write(noteFd, line, static_cast<std::size_t>(at - line));
  _exit(128 + sig);
}

int Serve(const char* noteFile) {
  noteFd = open(noteFile, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  struct sigaction action {};
  action.sa_sigaction = Noted;
  action.sa_flags = SA_SIGINFO;
  sigfillset(&action.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2}) sigaction(sig, &action, nullptr);
  for (;;) pause();
}

// --- start and check ------------------------------------------------------------

int Start(const std::string& pidFile) {
  // The link gives the process its name: what killall matches.
  const fs::path link = fs::path(pidFile).parent_path() / "velmoor-sentinel" / "velmoor";
  std::error_code ec;
  fs::create_directories(link.parent_path(), ec);
  fs::remove(link, ec);
  fs::create_symlink(fs::read_symlink("/proc/self/exe"), link, ec);
  if (ec) {
    std::fprintf(stderr, "velmoor_sentinel: cannot make %s: %s\n", link.c_str(), ec.message().c_str());
    return 1;
  }
  const std::string noteFile = SignalledFile(pidFile);
  fs::remove(noteFile, ec);

  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return 2;
  const pid_t first = fork();
  if (first < 0) return 2;
  if (first == 0) {
    // Detached: its own session, and no descriptor of the suite's.
    setsid();
    const pid_t server = fork();
    if (server != 0) {
      (void)!write(ready[1], &server, sizeof server);
      _exit(server > 0 ? 0 : 1);
    }
    const int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
    close_range(3, ~0u, 0);
    (void)!chdir("/");
    execl(link.c_str(), "velmoor", "serve", noteFile.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ready[1]);
  pid_t server = -1;
  const bool got = read(ready[0], &server, sizeof server) == sizeof server;
  close(ready[0]);
  waitpid(first, nullptr, 0);
  if (!got || server <= 0) {
    std::fprintf(stderr, "velmoor_sentinel: cannot start %s\n", link.c_str());
    return 1;
  }
  // Written once the server runs under its name, so the check compares
  // the start time of the server itself.
  for (int i = 0; i < 500 && Comm(server) != "velmoor"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const auto stat = testsupport::ReadProcStat(server);
  if (Comm(server) != "velmoor" || !stat) {
    std::fprintf(stderr, "velmoor_sentinel: %s did not run as velmoor\n", link.c_str());
    kill(server, SIGKILL);
    return 1;
  }
  std::ofstream(pidFile, std::ios::trunc) << server << " " << stat->start << "\n";
  std::printf("velmoor_sentinel: pid %d\n", static_cast<int>(server));
  return 0;
}

int Check(const std::string& pidFile) {
  testsupport::FakeRecord sentinel;
  {
    std::ifstream in(pidFile);
    if (!(in >> sentinel.pid >> sentinel.start)) {
      std::fprintf(stderr, "velmoor_sentinel: no sentinel recorded in %s\n", pidFile.c_str());
      return 1;
    }
  }
  std::remove(pidFile.c_str());
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, sentinel.pid, 0));
  const bool alive = fd >= 0 && testsupport::StillRunning(sentinel) && Comm(sentinel.pid) == "velmoor";
  if (alive) syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0);
  if (fd >= 0) close(fd);
  std::string signalled;
  std::getline(std::ifstream(SignalledFile(pidFile)), signalled);
  std::remove(SignalledFile(pidFile).c_str());
  if (!alive) {
    std::fprintf(stderr,
                 "velmoor_sentinel: the velmoor started before the tests (pid %d) no longer runs: "
                 "a test ended a process it did not start\n%s\n",
                 static_cast<int>(sentinel.pid), signalled.empty() ? "(no signal noted)" : signalled.c_str());
    return 1;
  }
  std::printf("velmoor_sentinel: pid %d still ran after the tests\n", static_cast<int>(sentinel.pid));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "serve") == 0) return Serve(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "start") == 0) return Start(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "check") == 0) return Check(argv[2]);
  std::fprintf(stderr, "usage: velmoor_sentinel start PIDFILE | check PIDFILE\n");
  return 2;
}
