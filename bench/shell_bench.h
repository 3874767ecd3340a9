// What the shell benchmarks share: a scratch folder, the fake server under a
// name of its own, the fake's pid from its record, and process figures from
// /proc.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>

#include "support/test_support.h"

#ifndef ORVANDE_FAKES_DIR
#error "the build names the fakes folder"
#endif

namespace shellbench {

namespace fs = std::filesystem;

class Scratch {
 public:
  Scratch() : dir_("orvande-bench"), path_(dir_.path()) {
    // Its own name keeps a "killall velmoor" elsewhere from reaching it.
    fs::create_symlink(fs::path(ORVANDE_FAKES_DIR) / "velmoor", path_ / "fakeserver");
  }
  const fs::path& path() const { return path_; }
  std::string Server() const { return "'" + (path_ / "fakeserver").string() + "'"; }

 private:
  testsupport::TempDir dir_;
  fs::path path_;
};

// The pid in a complete record, or -1.
inline pid_t RecordedPid(const fs::path& record) {
  std::ifstream in(record);
  std::string line;
  pid_t pid = -1;
  bool complete = false;
  while (std::getline(in, line)) {
    if (line.rfind("pid ", 0) == 0) pid = static_cast<pid_t>(std::atol(line.c_str() + 4));
    if (line == "end") complete = true;
  }
  return complete ? pid : -1;
}

inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::seconds limit = std::chrono::seconds(10)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(200);
  }
  return true;
}

inline int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n - 1;
}

inline int OwnZombies() {
  int n = 0;
  const std::string self = std::to_string(getpid());
  for (auto& e : fs::directory_iterator("/proc")) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    // Plain read(2): a process may end between open and read.
    int fd = open((e.path() / "stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    char buffer[1024];
    ssize_t got = read(fd, buffer, sizeof buffer);
    close(fd);
    if (got <= 0) continue;
    const std::string stat(buffer, static_cast<std::size_t>(got));
    auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    std::string state, ppid;
    rest >> state >> ppid;
    if (state == "Z" && ppid == self) ++n;
  }
  return n;
}

// A line of /proc/<pid>/status or /proc/<pid>/io, as a number.
inline long long ProcField(const std::string& file, const std::string& key) {
  std::ifstream in(file);
  std::string k;
  while (in >> k) {
    if (k == key) {
      long long v = -1;
      in >> v;
      return v;
    }
    in.ignore(1 << 20, '\n');
  }
  return -1;
}

}  // namespace shellbench
