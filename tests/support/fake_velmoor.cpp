// A stand-in for the file server. On start it appends one record of what it
// was given to the file named by VELMOOR_RECORD, then runs until signalled.
//
// The record, one write(2) with O_APPEND so a reader never sees half of it:
//   begin
//   pid <pid>            ppid, pgid, sid and start (clock ticks since boot) alike
//   arg <text>           one line per argument after the program name;
//                        backslash, line end and tab written \\ \n \t
//   fd <n> <target>      one line per open descriptor, target from /proc
//   blocked <n> <n> ...  the blocked signals
//   ignored <n> <n> ...  the signals whose disposition is SIG_IGN
//   end
//
// Other switches, for tests that need them:
//   VELMOOR_FLOOD=1        write to standard output without pause
//   VELMOOR_IGNORE_TERM=1  ignore SIGTERM (after the record is written)
//   VELMOOR_EXIT=<n>       exit with status n right after the record
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += c;
    }
  }
  return out;
}

// Field 22 of /proc/self/stat: with the pid it names this process for good.
std::string StartTime() {
  std::ifstream in("/proc/self/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto close = stat.rfind(')');
  if (close == std::string::npos) return "0";
  std::istringstream rest(stat.substr(close + 2));
  std::string field;
  for (int i = 3; i <= 22 && rest >> field; ++i) {
  }
  return field;
}

std::string OpenDescriptors() {
  std::string lines;
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return lines;
  int own = dirfd(dir);
  std::vector<int> fds;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    int fd = std::atoi(e->d_name);
    if (fd != own) fds.push_back(fd);
  }
  closedir(dir);
  for (int fd : fds) {
    char target[4096];
    std::string link = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    target[n > 0 ? n : 0] = '\0';
    lines += "fd " + std::to_string(fd) + " " + Escape(target) + "\n";
  }
  return lines;
}

std::string SignalState() {
  sigset_t blocked;
  sigprocmask(SIG_BLOCK, nullptr, &blocked);
  std::string b = "blocked", ig = "ignored";
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sigismember(&blocked, sig) == 1) b += " " + std::to_string(sig);
    struct sigaction sa {};
    if (sigaction(sig, nullptr, &sa) == 0 && !(sa.sa_flags & SA_SIGINFO) && sa.sa_handler == SIG_IGN) {
      ig += " " + std::to_string(sig);
    }
  }
  return b + "\n" + ig + "\n";
}

void WriteRecord(const char* path, int argc, char** argv) {
  std::string r = "begin\n";
  r += "pid " + std::to_string(getpid()) + "\n";
  r += "ppid " + std::to_string(getppid()) + "\n";
  r += "pgid " + std::to_string(getpgrp()) + "\n";
  r += "sid " + std::to_string(getsid(0)) + "\n";
  r += "start " + StartTime() + "\n";
  for (int i = 1; i < argc; ++i) r += "arg " + Escape(argv[i]) + "\n";
  r += OpenDescriptors();  // before the record file is opened
  r += SignalState();
  r += "end\n";
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ssize_t n;
  do {
    n = write(fd, r.data(), r.size());
  } while (n < 0 && errno == EINTR);
  close(fd);
}

bool Switch(const char* name) {
  const char* v = std::getenv(name);
  return v && std::strcmp(v, "1") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* record = std::getenv("VELMOOR_RECORD")) WriteRecord(record, argc, argv);
  if (const char* code = std::getenv("VELMOOR_EXIT")) return std::atoi(code);
  if (Switch("VELMOOR_IGNORE_TERM")) signal(SIGTERM, SIG_IGN);
  if (Switch("VELMOOR_FLOOD")) {
    static char line[4096];
    std::memset(line, 'v', sizeof line);
    line[sizeof line - 1] = '\n';
    for (;;) {
      if (write(1, line, sizeof line) < 0 && errno != EINTR) break;
    }
  }
  for (;;) pause();
}
