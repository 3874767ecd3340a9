// Runs a program in a PID namespace of its own, with a /proc of that
// namespace, so that whatever it signals by name can only be a process
// started inside:
//
//   in_pid_namespace PROGRAM ARG...
//
// As root it takes new PID and mount namespaces; as another user a user
// namespace too, in which it is root. The /proc of the namespace is mounted
// in the private mount namespace only. The first process inside (pid 1)
// runs PROGRAM as its child and reaps whatever else ends there; when it
// ends, the kernel ends every process left in the namespace.
//
// Exit status: PROGRAM's (128 + signal when a signal ended it), or 125 with
// a line on standard error when no such namespace can be made here.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kNoNamespace = 125;

int Unavailable(const char* what) {
  std::fprintf(stderr, "in_pid_namespace: %s: %s\n", what, std::strerror(errno));
  return kNoNamespace;
}

bool WriteTo(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

int StatusCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

// Waits for the child, reaping every other process that ends meanwhile.
int WaitFor(pid_t child) {
  for (;;) {
    int status = 0;
    const pid_t ended = wait(&status);
    if (ended == child) return StatusCode(status);
    if (ended < 0 && errno != EINTR) return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: in_pid_namespace PROGRAM ARG...\n");
    return 2;
  }
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (uid == 0) {
    if (unshare(CLONE_NEWPID | CLONE_NEWNS) != 0) return Unavailable("unshare");
  } else {
    if (unshare(CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNS) != 0) return Unavailable("unshare");
    if (!WriteTo("/proc/self/setgroups", "deny") ||
        !WriteTo("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
        !WriteTo("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n")) {
      return Unavailable("user namespace map");
    }
  }

  const pid_t init = fork();
  if (init < 0) return Unavailable("fork");
  // No exit handlers: this process's new children would go to a namespace
  // whose first process is gone, so a handler that starts one (a leak
  // checker's) would fail.
  if (init > 0) _exit(WaitFor(init));

  // pid 1 of the new namespace.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(Unavailable("private mounts"));
  if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
    _exit(Unavailable("mount /proc"));
  }
  const pid_t program = fork();
  if (program < 0) _exit(Unavailable("fork"));
  if (program == 0) {
    execvp(argv[1], argv + 1);
    std::fprintf(stderr, "in_pid_namespace: cannot run %s: %s\n", argv[1], std::strerror(errno));
    _exit(127);
  }
  _exit(WaitFor(program));
}
