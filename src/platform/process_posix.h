// The POSIX process runner under Shell: it starts `/bin/sh -c COMMAND` and
// knows when that shell process has ended. No Qt here; the Qt glue only
// watches what this starts (child_watch.h).
//
// Contract:
// - SpawnShell starts the shell with posix_spawn: standard input from
//   /dev/null, no descriptor but 0, 1 and 2 (the launcher's own, or a pipe for
//   standard output when asked), an empty signal mask, every disposition at
//   its default, and a new session, so the child leads its own process group.
//   Nothing but the launcher's own children is ever waited for.
// - Every descriptor opened here is close-on-exec.
// - OpenExitFd gives a descriptor that becomes readable once the child has
//   ended, without reaping it: a pidfd where the kernel has one, else the
//   read end of a pipe whose write end a thread blocked in waitid closes.
//   The child stays unreaped (so its pid and group id stay reserved) until
//   Reap is called.
// - RunCaptured is the synchronous run: it returns when the shell process has
//   ended (not when its output pipe closes), with what the shell had written
//   to standard output, draining that pipe all the while so a child never
//   blocks on it. Of that output the first kOutputKept bytes are kept and the
//   rest is read and discarded. Standard error is the launcher's. A shell
//   still running at the time-out is ended with its whole process group,
//   reaped, and its output so far kept.
// - CapturedRun is the same run in two steps, for a command started before
//   its output is wanted: the time-out counts from the start, and a run
//   dropped unfinished is ended (a shell still running is killed with its
//   group), reaped and its descriptors closed.
// - SetLauncherSignals gives the launcher itself SIGCHLD at its default (with
//   it ignored the kernel would reap the children before their ends are seen)
//   and SIGPIPE ignored (a reader of its output that has gone must not kill
//   it). Its children get the defaults all the same.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>

namespace process {

void SetLauncherSignals();

// The most of a synchronous command's output that is kept.
inline constexpr std::size_t kOutputKept = std::size_t{1} << 20;

// A started shell. stdoutFd is the read end of its standard output, or -1
// when the output is the launcher's own.
struct Child {
  pid_t pid = -1;
  int stdoutFd = -1;
};

// Raises IOException naming the cause when the shell cannot be started.
Child SpawnShell(const std::string& command, bool captureStdout);

// Raises IOException when neither a pidfd nor a pipe and thread can be had.
int OpenExitFd(pid_t pid);

// Reaps a child that has ended; gives its wait status, or -1 when it was
// already gone.
int Reap(pid_t pid);

// Sends a signal to the child's whole process group. Only call it while the
// child is not yet reaped, so the group id cannot have been reused.
void SignalGroup(pid_t pid, int signal);

struct RunResult {
  pid_t pid = -1;  // the shell's, which was also its process group's
  std::string output;
  int status = -1;  // wait status of the shell process
  bool timedOut = false;
};

RunResult RunCaptured(const std::string& command, std::chrono::milliseconds timeout);

class CapturedRun {
 public:
  // Starts the shell; raises IOException as SpawnShell does.
  explicit CapturedRun(const std::string& command);
  ~CapturedRun();
  CapturedRun(CapturedRun&& other) noexcept;
  CapturedRun(const CapturedRun&) = delete;
  CapturedRun& operator=(const CapturedRun&) = delete;
  CapturedRun& operator=(CapturedRun&&) = delete;

  pid_t pid() const { return pid_; }
  std::chrono::steady_clock::time_point Started() const { return started_; }

  // Waits as RunCaptured does, until the shell ends or `timeout` after the
  // start. Once only.
  RunResult Finish(std::chrono::milliseconds timeout);

 private:
  void Drop() noexcept;

  pid_t pid_ = -1;
  int stdoutFd_ = -1;
  int exitFd_ = -1;
  std::chrono::steady_clock::time_point started_;
};

// For tests: makes OpenExitFd use the thread fallback even where the kernel
// has pidfds.
void ForceThreadExitWatch(bool on);
bool PidfdAvailable();

}  // namespace process
