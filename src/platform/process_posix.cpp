#include "platform/process_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/exceptions.h"

extern char** environ;

namespace process {

void SetLauncherSignals() {
  // A launcher started with SIGCHLD ignored would have its children reaped
  // by the kernel and could never learn how they ended.
  struct sigaction current {};
  if (sigaction(SIGCHLD, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
    signal(SIGCHLD, SIG_DFL);
  }
  // Standard error may be a pipe whose reader has gone: a failed report must
  // not end the launcher.
  signal(SIGPIPE, SIG_IGN);
}

namespace {

std::atomic<bool> forceThread{false};

std::string ErrnoText(int error) { return std::strerror(error); }

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// A launcher started with 0, 1 or 2 closed would get a pipe end there, and
// the child's set-up would then overwrite it.
int AboveStandardFds(int fd) {
  if (fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  int error = errno;
  close(fd);
  if (moved < 0) throw IOException("cannot move a pipe descriptor: " + ErrnoText(error), error);
  return moved;
}

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
};

void Check(int rc, const char* what) {
  if (rc != 0)
    throw IOException(std::string("cannot prepare the shell (") + what + "): " + ErrnoText(rc), rc);
}

// Reads what the pipe holds now, at most `limit` bytes, and keeps of it what
// fits under kOutputKept; gives false at end of file.
bool DrainAvailable(int fd, std::string& into, std::size_t limit) {
  char buffer[65536];
  std::size_t taken = 0;
  while (taken < limit) {
    std::size_t want = std::min(sizeof buffer, limit - taken);
    ssize_t n = read(fd, buffer, want);
    if (n > 0) {
      const std::size_t room = kOutputKept - std::min(into.size(), kOutputKept);
      into.append(buffer, std::min(room, static_cast<std::size_t>(n)));
      taken += static_cast<std::size_t>(n);
    } else if (n == 0) {
      return false;
    } else if (errno == EINTR) {
      continue;
    } else {
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
  }
  return true;
}

// Waits until the exit descriptor is readable or the time is up, reading the
// output pipe meanwhile. Gives true once the child has ended.
bool WaitForExit(int exitFd, UniqueFd& out, std::string& output,
                 std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    auto now = std::chrono::steady_clock::now();
    int waitMs = -1;
    if (deadline != std::chrono::steady_clock::time_point::max()) {
      if (now >= deadline) return false;
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
      waitMs = static_cast<int>(std::min<long long>(left, 1 << 30));
    }
    pollfd fds[2] = {{exitFd, POLLIN, 0}, {out.get(), POLLIN, 0}};
    int n = poll(fds, out.get() >= 0 ? 2 : 1, waitMs);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw IOException("cannot wait for the shell: " + ErrnoText(errno), errno);
    }
    // A bounded helping per wake-up, so a writer that never pauses cannot
    // keep us from seeing the end or the time-out.
    if (out.get() >= 0 && fds[1].revents != 0 && !DrainAvailable(out.get(), output, 1 << 20)) {
      out.Reset();
    }
    if (fds[0].revents != 0) return true;
  }
}

}  // namespace

void ForceThreadExitWatch(bool on) { forceThread = on; }

bool PidfdAvailable() {
  int fd = static_cast<int>(syscall(SYS_pidfd_open, getpid(), 0));
  if (fd < 0) return false;
  close(fd);
  return true;
}

Child SpawnShell(const std::string& command, bool captureStdout) {
  if (command.find('\0') != std::string::npos) {
    throw IOException("the command holds a NUL character", EINVAL);
  }
  UniqueFd readEnd, writeEnd;
  if (captureStdout) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      throw IOException("cannot make a pipe for the shell's output: " + ErrnoText(errno), errno);
    }
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
    readEnd.Reset(AboveStandardFds(readEnd.release()));
    writeEnd.Reset(AboveStandardFds(writeEnd.release()));
    // Only the launcher's end is non-blocking; the child's stays as usual.
    fcntl(readEnd.get(), F_SETFL, fcntl(readEnd.get(), F_GETFL) | O_NONBLOCK);
  }

  SpawnSetup setup;
  Check(posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0), "stdin");
  if (captureStdout) Check(posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), 1), "stdout");
  // Whatever the launcher holds without close-on-exec stays with it.
  Check(posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3), "descriptors");

  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  Check(posix_spawnattr_setsigmask(&setup.attr, &none), "signal mask");
  Check(posix_spawnattr_setsigdefault(&setup.attr, &all), "signal dispositions");
  Check(posix_spawnattr_setflags(&setup.attr,
                                 POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID),
        "flags");

  char shellPath[] = "/bin/sh";
  char shellName[] = "sh";
  char dashC[] = "-c";
  char* argv[] = {shellName, dashC, const_cast<char*>(command.c_str()), nullptr};
  pid_t pid = -1;
  int rc = posix_spawn(&pid, shellPath, &setup.actions, &setup.attr, argv, environ);
  if (rc != 0) throw IOException("cannot start /bin/sh: " + ErrnoText(rc), rc);
  return Child{pid, readEnd.release()};
}

int OpenExitFd(pid_t pid) {
  if (!forceThread) {
    int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) return fd;  // pidfds are close-on-exec
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    throw IOException("cannot watch the shell: " + ErrnoText(errno), errno);
  }
  try {
    // WNOWAIT leaves the child to be reaped by its owner, so its pid stays
    // reserved until then. Closing the write end wakes the reader.
    std::thread([pid, writeEnd = fds[1]] {
      siginfo_t info{};
      while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
      }
      close(writeEnd);
    }).detach();
  } catch (const std::system_error& e) {
    close(fds[0]);
    close(fds[1]);
    throw IOException(std::string("cannot watch the shell: ") + e.what(), e.code().value());
  }
  return fds[0];
}

int Reap(pid_t pid) {
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  return r == pid ? status : -1;
}

void SignalGroup(pid_t pid, int signal) {
  if (pid > 0) kill(-pid, signal);
}

RunResult RunCaptured(const std::string& command, std::chrono::milliseconds timeout) {
  return CapturedRun(command).Finish(timeout);
}

CapturedRun::CapturedRun(const std::string& command) : started_(std::chrono::steady_clock::now()) {
  Child child = SpawnShell(command, true);
  UniqueFd out(child.stdoutFd);
  try {
    exitFd_ = OpenExitFd(child.pid);
  } catch (...) {
    SignalGroup(child.pid, SIGKILL);
    Reap(child.pid);
    throw;
  }
  pid_ = child.pid;
  stdoutFd_ = out.release();
}

CapturedRun::CapturedRun(CapturedRun&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      stdoutFd_(std::exchange(other.stdoutFd_, -1)),
      exitFd_(std::exchange(other.exitFd_, -1)),
      started_(other.started_) {}

CapturedRun::~CapturedRun() { Drop(); }

// Nobody wants the output any more. A shell that has ended is only reaped,
// so a background job it left runs on as after a finished run. The kernel is
// asked too: the thread fallback's pipe says so only once its thread has run.
void CapturedRun::Drop() noexcept {
  if (pid_ < 0) return;
  pollfd ended{exitFd_, POLLIN, 0};
  if (poll(&ended, 1, 0) != 1) {
    siginfo_t info{};
    const bool shellEnded = waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                            info.si_pid == pid_;
    if (!shellEnded) SignalGroup(pid_, SIGKILL);
    while (poll(&ended, 1, -1) < 0 && errno == EINTR) {
    }
  }
  Reap(pid_);
  pid_ = -1;
  close(exitFd_);
  if (stdoutFd_ >= 0) close(stdoutFd_);
}

RunResult CapturedRun::Finish(std::chrono::milliseconds timeout) {
  if (pid_ < 0) throw IOException("the shell's run has already been finished", EINVAL);
  const pid_t pid = std::exchange(pid_, -1);
  UniqueFd out(std::exchange(stdoutFd_, -1));
  UniqueFd exitFd(std::exchange(exitFd_, -1));

  RunResult result;
  result.pid = pid;
  const auto forever = std::chrono::steady_clock::time_point::max();
  if (!WaitForExit(exitFd.get(), out, result.output, started_ + timeout)) {
    result.timedOut = true;
    // A short grace for the group to end by itself, then no choice. The
    // shell is not reaped yet, so its group id cannot belong to anyone else.
    SignalGroup(pid, SIGTERM);
    WaitForExit(exitFd.get(), out, result.output,
                std::chrono::steady_clock::now() + std::chrono::milliseconds(500));
    SignalGroup(pid, SIGKILL);
    WaitForExit(exitFd.get(), out, result.output, forever);
  }
  result.status = Reap(pid);
  // What the shell wrote is in the pipe by now. Take that much and no more:
  // a background job may hold the pipe open and go on writing.
  if (out.get() >= 0) {
    int pending = 0;
    if (ioctl(out.get(), FIONREAD, &pending) == 0 && pending > 0) {
      DrainAvailable(out.get(), result.output, static_cast<std::size_t>(pending));
    }
  }
  return result;
}

}  // namespace process
