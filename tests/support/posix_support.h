// Helpers for tests that change this process's environment or user, run
// code in a child, or read file modes. Header-only and free of Qt, so the
// end-to-end tests can use it.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace testsupport {

// Root passes every permission check, so such tests run as this user.
inline constexpr uid_t kNobody = 65534;

// The permission bits of the path (links followed), or ~0u when it is not there.
inline unsigned ModeOf(const std::filesystem::path& p) {
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return ~0u;
  return st.st_mode & 07777;
}

// Drops the supplementary groups and takes group and user nobody for good;
// false as soon as a step fails. Groups first: a root group would still
// grant the group bits. Only for a child: its caller is never root again.
inline bool BecomeNobody() {
  return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

// Makes nobody this process's effective user while the guard lives, when
// root runs the test, and gives root back after, whatever happens; for code
// that must run in this process, as a window's click. The groups stay
// root's. Not for a child that runs another program: a shell takes the real
// user back.
class AsNobody {
 public:
  AsNobody() : ok_(::geteuid() != 0 || ::seteuid(kNobody) == 0) {}
  ~AsNobody() {
    if (::geteuid() != ::getuid()) {
      EXPECT_EQ(::seteuid(::getuid()), 0);
    }
  }
  AsNobody(const AsNobody&) = delete;
  AsNobody& operator=(const AsNobody&) = delete;
  // False when root could not take the user nobody.
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

// The exit code of a child that was to run as nobody and could not.
inline constexpr int kCannotBecomeNobody = 125;

// Forks a child that runs body and exits with what it gives, 127 when it
// throws; gives the child's pid, or -1 when there is none. This process may
// run other threads: a child that goes on to run a program makes only
// system calls before it does.
inline pid_t ForkChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  int code = 127;
  try {
    code = body();
  } catch (...) {
  }
  ::_exit(code);
}

// How a child that RunInChild ran ended.
struct ChildRun {
  int code = -1;         // its exit code; -1 when a signal ended it
  int status = 0;        // its wait status
  bool skipped = false;  // it was to run as nobody and could not
  std::string output;    // what a body that gives a text gave
};

namespace detail {

// Runs body in a forked child, as nobody for good when asNobody is set and
// this process is root, and waits for the child to end; what the body
// writes to the descriptor it is given comes back as the output.
inline ChildRun RunInChildWithPipe(const std::function<int(int)>& body, bool asNobody) {
  ChildRun run;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    run.output = "pipe failed";
    return run;
  }
  const pid_t pid = ForkChild([&] {
    ::close(fds[0]);
    if (asNobody && ::geteuid() == 0 && !BecomeNobody()) return kCannotBecomeNobody;
    return body(fds[1]);
  });
  ::close(fds[1]);
  char buffer[4096];
  ssize_t n;
  while (pid > 0 && ((n = ::read(fds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))) {
    if (n > 0) run.output.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  if (pid < 0) {
    run.output = "fork failed";
    return run;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return run;
  }
  run.status = status;
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.skipped = asNobody && run.code == kCannotBecomeNobody;
  return run;
}

}  // namespace detail

// Runs body in a forked child, as user nobody when asNobody is set and this
// process is root (root passes every permission check), and waits for it to
// end. Nothing leaves the child but its exit code, which is what body gives.
inline ChildRun RunInChild(const std::function<int()>& body, bool asNobody) {
  return detail::RunInChildWithPipe([&](int) { return body(); }, asNobody);
}

// The same for a body that gives a text: the child sends it back and exits
// 0. A child that ended otherwise adds its wait status to the output, so a
// test that compares the output shows it.
inline ChildRun RunInChild(const std::function<std::string()>& body, bool asNobody) {
  ChildRun run = detail::RunInChildWithPipe(
      [&](int fd) {
        std::string out;
        try {
          out = body();
        } catch (const std::exception& e) {
          out = std::string("unexpected exception: ") + e.what();
        } catch (...) {
          out = "unexpected exception";
        }
        for (std::size_t at = 0; at < out.size();) {
          const ssize_t n = ::write(fd, out.data() + at, out.size() - at);
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) return 3;
          at += static_cast<std::size_t>(n);
        }
        return 0;
      },
      asNobody);
  if (run.code != 0 && !run.skipped) run.output += " [child status " + std::to_string(run.status) + "]";
  return run;
}

// Sets or unsets an environment variable for one test and puts it back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace testsupport
