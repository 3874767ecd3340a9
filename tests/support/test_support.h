// Small helpers the tests share: temporary folders, whole-file reads and
// writes, the fakes' folders and standard error sent to a file. Header-only
// and free of Qt, so the settings tests, the end-to-end tests and the
// benchmarks use it unlinked; waiting on the event loop is in pump.h.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

namespace testsupport {

// A temporary folder, removed with everything in it when the object goes.
// Defined here, so header-only helpers and benchmarks can use it unlinked.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "orvande") {
    std::string t = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(t.data())) throw std::runtime_error("mkdtemp failed");
    path_ = t;
  }
  ~TempDir() {
    std::error_code ec;
    // Undo permission changes that a test made, so the folder can go.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// The whole file, or what could be read of it; empty when it cannot be
// opened. Plain read(2): a /proc file of a process that is just ending fails
// with ESRCH, which a file stream would report as an exception. Defined here,
// as the rest of this header that needs no toolkit, so that the end-to-end
// tests and the benchmarks can use it unlinked.
inline std::string ReadFile(const std::filesystem::path& p) {
  std::string out;
  const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

// Writes the file afresh; executable makes it a program its owner and group
// may run.
inline void WriteFile(const std::filesystem::path& p, const std::string& content, bool executable = false) {
  {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
  }
  if (executable) {
    std::filesystem::permissions(p, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                        std::filesystem::perms::group_exec);
  }
}

// The folder that holds the fake programs the build made (velmoor, ...).
inline std::filesystem::path FakesDir() {
  if (const char* e = std::getenv("ORVANDE_FAKES")) return e;
  return ORVANDE_FAKES_DIR;
}

// The folder that holds the fake killall and nothing else. Every test process
// has it first on PATH, and so has every launcher a sandbox starts: the stop
// command then ends the fakes that test recorded, never a process of the
// same name that the test did not start.
inline std::filesystem::path FakeKillallDir() { return ORVANDE_FAKE_KILLALL_DIR; }

// The search path without that folder, so that the real killall answers.
inline std::string PathWithoutFakeKillall(const std::string& path) {
  const std::string fake = FakeKillallDir().string();
  std::string kept;
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string entry = path.substr(start, end - start);
    if (!entry.empty() && entry != fake) kept += (kept.empty() ? "" : ":") + entry;
    start = end + 1;
  }
  return kept;
}

// The search path with that folder first, and in no other place.
inline std::string PathWithFakeKillall(const std::string& path) {
  const std::string rest = PathWithoutFakeKillall(path);
  return FakeKillallDir().string() + (rest.empty() ? "" : ":" + rest);
}

// Runs fn with this process's standard error going to the file.
inline void WithStderrTo(const std::filesystem::path& file, const std::function<void()>& fn) {
  const int saved = ::dup(2);
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (saved < 0 || fd < 0) throw std::runtime_error("cannot redirect stderr to " + file.string());
  ::dup2(fd, 2);
  ::close(fd);
  try {
    fn();
  } catch (...) {
    ::dup2(saved, 2);
    ::close(saved);
    throw;
  }
  ::dup2(saved, 2);
  ::close(saved);
}

// What every test binary's main sets up for its tests and takes down after
// them: a private settings folder and home, so that no test writes in the
// home of whoever runs them, and the fake killall first on PATH, so that no
// stop command a test makes ends a process it did not start.
class TestProcessEnvironment {
 public:
  TestProcessEnvironment() {
    std::string home = (std::filesystem::temp_directory_path() / "orvande-test-XXXXXX").string();
    if (!mkdtemp(home.data())) return;
    home_ = home;
    ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    ::setenv("HOME", home.c_str(), 1);
    const char* path = std::getenv("PATH");
    ::setenv("PATH", PathWithFakeKillall(path ? path : "/usr/bin:/bin").c_str(), 1);
  }
  ~TestProcessEnvironment() {
    std::error_code ignored;
    if (!home_.empty()) std::filesystem::remove_all(home_, ignored);
  }
  TestProcessEnvironment(const TestProcessEnvironment&) = delete;
  TestProcessEnvironment& operator=(const TestProcessEnvironment&) = delete;
  // False when the private home could not be made: then no test may run.
  bool ok() const { return !home_.empty(); }

 private:
  std::filesystem::path home_;
};

}  // namespace testsupport
