// The address query alone, as the opening runs it: /bin/sh -c with the
// design's text, its output read through a pipe, the user's PATH (no sbin)
// and the machine's own tools. Gives its median time and how many processes
// one run makes, beside the query it replaced (given sbin on its PATH, which
// it needed to find ifconfig at all).
//
//   address_query_bench [runs]        (default 200)
//
// The processes are counted in a PID namespace of their own, where process
// ids are handed out one after another: that needs root, and gives -1
// without it.
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "window/design_data.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

const char* const kUserPath = "PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games";
const char* const kSbinPath = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
const char* const kPreviousQuery =
    "ifconfig | grep \"inet \" | grep -v 127. | grep -v 169. | sed \"s/^ *//\"";

// Runs the query to its end and gives what it printed.
std::string Run(const std::string& query, const char* path) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) std::exit(2);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(query.c_str()),
                  nullptr};
  char* envp[] = {const_cast<char*>(path), nullptr};
  pid_t pid;
  if (posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, envp) != 0) std::exit(2);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
  close(fds[0]);
  int status;
  waitpid(pid, &status, 0);
  return out;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

double TimedMs(const std::string& query, const char* path) {
  auto t0 = Clock::now();
  Run(query, path);
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The processes one run makes, the shell included: in a new PID namespace
// its first process gets id 1, the shell 2, and a process made after the
// query has ended the next free id.
int Processes(const std::string& query, const char* path) {
  const pid_t helper = fork();
  if (helper == 0) {
    if (unshare(CLONE_NEWPID) != 0) _exit(255);
    const pid_t init = fork();
    if (init == 0) {
      Run(query, path);
      // Orphans of the query come to this process, the namespace's init.
      while (waitpid(-1, nullptr, WNOHANG) > 0) {
      }
      const pid_t probe = fork();
      if (probe == 0) _exit(0);
      waitpid(probe, nullptr, 0);
      _exit(probe - 2);
    }
    int status = 0;
    waitpid(init, &status, 0);
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 255);
  }
  int status = 0;
  waitpid(helper, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const std::string output = Run(design::kAddressQuery, kUserPath);
  for (int i = 0; i < 10; ++i) Run(design::kAddressQuery, kUserPath);  // warm the caches; not counted

  // Interleaved, so drift in the machine's load hits both alike.
  std::vector<double> now, before;
  for (int i = 0; i < runs; ++i) {
    now.push_back(TimedMs(design::kAddressQuery, kUserPath));
    before.push_back(TimedMs(kPreviousQuery, kSbinPath));
  }
  std::printf(
      "query %.2f ms query_processes %d processes previous_query %.2f ms previous_processes %d processes "
      "runs %d each output \"%s\"\n",
      Median(now), Processes(design::kAddressQuery, kUserPath), Median(before),
      Processes(kPreviousQuery, kSbinPath), runs, output.c_str());
  return 0;
}
