// A stand-in for killall(1), first on the tests' PATH, so that the window's
// stop command ends the fakes of the test that runs it and nothing else on
// the machine: `killall NAME` sends SIGTERM to each process that the fake
// server recorded in the file named by VELMOOR_RECORD, while it is still the
// very process recorded (pid and start time) and is named NAME.
//
// The check and the signal go through one pidfd, so a pid that another
// process has taken over meanwhile is never signalled. As killall does, it
// exits 0 when it signalled a process, else says "NAME: no process found" on
// standard error and exits 1.
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/fake_record.h"

namespace {

std::string Comm(pid_t pid) {
  std::string name;
  const std::string path = "/proc/" + std::to_string(pid) + "/comm";
  if (FILE* f = std::fopen(path.c_str(), "re")) {
    char buffer[64];
    if (std::fgets(buffer, sizeof buffer, f)) name = buffer;
    std::fclose(f);
  }
  if (!name.empty() && name.back() == '\n') name.pop_back();
  return name;
}

// True when the recorded process still runs under that name and was sent
// the signal.
bool Terminate(const testsupport::FakeRecord& r, const std::string& name) {
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, r.pid, 0));
  if (fd < 0) return false;  // gone, or no pidfds here: then nothing is signalled
  // From here on the pid cannot name another process behind the pidfd's back.
  bool sent = false;
  if (testsupport::StillRunning(r) && Comm(r.pid) == name) {
    sent = syscall(SYS_pidfd_send_signal, fd, SIGTERM, nullptr, 0) == 0;
  }
  close(fd);
  return sent;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "fake killall: takes one process name\n");
    return 2;
  }
  const std::string name = argv[1];
  bool any = false;
  if (const char* record = std::getenv("VELMOOR_RECORD"); record && *record) {
    for (const auto& r : testsupport::ReadFakeRecords(record)) {
      if (r.pid > 0 && Terminate(r, name)) any = true;
    }
  }
  if (any) return 0;
  std::fprintf(stderr, "%s: no process found\n", name.c_str());
  return 1;
}
