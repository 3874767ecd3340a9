// Running the built launcher the way a user starts it, as a separate
// process, inside a private sandbox: its own settings folder, a fake
// `ifconfig` and the fake `killall` first on PATH, a record file for the
// fake server, and files for its standard output and error. Shared by the end-to-end tests and the
// benchmark programs, so it needs nothing but the C++ and POSIX libraries.
//
// Contract:
// - Sandbox makes a fresh temporary folder and removes it again; it starts
//   nothing and ends nothing by itself.
// - Spawn starts a program with posix_spawn and gives its pid; it raises
//   std::runtime_error when that fails. The caller ends what it started:
//   Child kills and reaps its process in its destructor; EndWithShells also
//   ends the shells the launcher started and every recorded fake, by pid.
// - The /proc readers never throw; they give nullopt, an empty list or -1
//   for a process that is gone.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/fake_record.h"
#include "support/settings_text.h"
#include "support/test_support.h"

extern char** environ;

namespace e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Settings {
  std::string ipaddress = "10.1.2.3";
  std::string port = "40123";
  std::string velmoorFldr;
  std::string ShareDir;
  std::string Automount = "No";

  // The text the launcher saves for them.
  std::string Text() const {
    return testsupport::SettingsText(ipaddress, port, velmoorFldr, ShareDir, Automount);
  }
};

// Polls until the condition holds or the deadline passes; gives its last value.
inline bool WaitFor(const std::function<bool()>& condition, milliseconds timeout,
                    milliseconds step = milliseconds(5)) {
  auto deadline = Clock::now() + timeout;
  while (!condition()) {
    if (Clock::now() > deadline) return condition();
    std::this_thread::sleep_for(step);
  }
  return true;
}

// What a process's /proc/<pid>/stat says.
using Stat = testsupport::ProcStat;

inline std::optional<Stat> ReadStat(pid_t pid) { return testsupport::ReadProcStat(pid); }

// True while the recorded fake runs: the same process (pid and start time)
// and not a zombie.
inline bool Alive(const testsupport::FakeRecord& r) {
  auto st = ReadStat(r.pid);
  return st && st->start == r.start && st->state != 'Z';
}

// Ends every fake in the record file that still runs, by its pid.
inline void EndRecorded(const fs::path& record) {
  for (const auto& r : testsupport::ReadFakeRecords(record)) {
    if (Alive(r)) kill(r.pid, SIGKILL);
  }
}

// A "Vm..." figure of /proc/<pid>/status in KiB, or -1.
inline long long StatusKiB(pid_t pid, const std::string& key) {
  std::istringstream in(testsupport::ReadFile("/proc/" + std::to_string(pid) + "/status"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::atoll(line.c_str() + key.size() + 1);
  }
  return -1;
}

inline long long CountOpenFds(pid_t pid) {
  long long n = 0;
  std::error_code ec;
  for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
       !ec && it != fs::directory_iterator(); it.increment(ec)) {
    ++n;
  }
  return ec ? -1 : n;
}

// Children of the process, the live ones or the zombies.
inline std::vector<pid_t> Children(pid_t parent, bool zombies) {
  std::vector<pid_t> found;
  if (DIR* dir = opendir("/proc")) {
    while (dirent* e = readdir(dir)) {
      pid_t pid = static_cast<pid_t>(std::atol(e->d_name));
      if (pid <= 0) continue;
      if (auto st = ReadStat(pid); st && st->ppid == parent && (st->state == 'Z') == zombies) {
        found.push_back(pid);
      }
    }
    closedir(dir);
  }
  return found;
}

inline std::vector<pid_t> LiveChildren(pid_t parent) { return Children(parent, false); }

// True when the process's main thread sits in the system call an event
// loop waits in (poll, ppoll, epoll_wait, select and their kin). Where the
// system call cannot be read (no ptrace access), a sleeping main thread has
// to do.
inline bool WaitingInLoop(pid_t pid) {
  const std::string task = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid);
  std::string s = testsupport::ReadFile(task + "/syscall");
  if (s.empty()) {
    std::string st = testsupport::ReadFile(task + "/stat");
    auto close = st.rfind(')');
    return close != std::string::npos && close + 2 < st.size() && st[close + 2] == 'S';
  }
  if (!std::isdigit(static_cast<unsigned char>(s[0]))) return false;  // "running"
  long nr = std::atol(s.c_str());
  const long waits[] = {
      SYS_ppoll,        SYS_pselect6, SYS_epoll_pwait,
#ifdef SYS_poll
      SYS_poll,
#endif
#ifdef SYS_select
      SYS_select,
#endif
#ifdef SYS_epoll_wait
      SYS_epoll_wait,
#endif
#ifdef SYS_epoll_pwait2
      SYS_epoll_pwait2,
#endif
  };
  for (long w : waits) {
    if (nr == w) return true;
  }
  return false;
}

// Found waiting in its event loop five times in a row, 10 ms apart: the
// opening and anything it pushed are over.
inline bool BackInLoop(pid_t pid) {
  for (int i = 0; i < 5; ++i) {
    if (!WaitingInLoop(pid)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// The environment of this process with some variables replaced or added.
inline std::vector<std::string> EnvironWith(const std::map<std::string, std::string>& overrides) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    if (!overrides.count(name)) env.push_back(entry);
  }
  for (const auto& [name, value] : overrides) env.push_back(name + "=" + value);
  return env;
}

struct SpawnRequest {
  std::vector<std::string> argv;
  std::vector<std::string> env;  // empty: this process's own
  std::string stdoutPath = "/dev/null";
  std::string stderrPath = "/dev/null";
  int stdoutFd = -1;  // when set, standard output goes there instead
  int stderrFd = -1;  // when set, standard error goes there instead
};

inline pid_t Spawn(const SpawnRequest& request) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (request.stdoutFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, request.stdoutFd, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, request.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  if (request.stderrFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, request.stderrFd, 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, request.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }

  std::vector<char*> argv, env;
  for (const auto& a : request.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : request.env) env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);

  pid_t pid = -1;
  int rc =
      posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), request.env.empty() ? environ : env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + request.argv[0] + ": " + std::strerror(rc));
  return pid;
}

// A started child that is ended (SIGKILL) and reaped when the object goes,
// unless it has been reaped already.
class Child {
 public:
  Child() = default;
  explicit Child(pid_t pid) : pid_(pid) {}
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  Child(Child&& o) noexcept : pid_(std::exchange(o.pid_, -1)), status_(o.status_) {}
  Child& operator=(Child&& o) noexcept {
    if (this != &o) {
      Kill();
      pid_ = std::exchange(o.pid_, -1);
      status_ = o.status_;
    }
    return *this;
  }
  ~Child() { Kill(); }

  pid_t pid() const { return pid_; }

  // The wait status once the child has ended, else nullopt; reaps it.
  std::optional<int> Poll() {
    if (status_) return status_;
    if (pid_ <= 0) return std::nullopt;
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) == pid_) status_ = st;
    return status_;
  }

  bool Running() { return pid_ > 0 && !Poll(); }

  std::optional<int> WaitExit(milliseconds timeout) {
    WaitFor([&] { return Poll().has_value(); }, timeout, milliseconds(2));
    return Poll();
  }

  void Signal(int sig) {
    if (Running()) kill(pid_, sig);
  }

  void Kill() {
    if (pid_ <= 0 || status_) return;
    kill(pid_, SIGKILL);
    int st = 0;
    while (waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
    }
    status_ = st;
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Ends a launcher (or the baseline) together with what it started: the
// shells it still has running, each leading a session and process group of
// its own with the server inside, and every fake in the record file. A shell
// that was already on its way to starting a server is caught too.
// The launcher is stopped first, so that it reaps none of them and their
// pids cannot go to other processes meanwhile.
inline void EndWithShells(Child& launcher, const fs::path& record) {
  if (launcher.Running()) {
    kill(launcher.pid(), SIGSTOP);
    for (pid_t sh : LiveChildren(launcher.pid())) kill(-sh, SIGKILL);
  }
  launcher.Kill();
  EndRecorded(record);
}

// A private folder for one launcher run.
class Sandbox {
 public:
  Sandbox() : dir_("orvande-e2e"), root_(dir_.path()) {
    fs::create_directories(bin());
    fs::create_directories(config());
    fs::create_directories(share());
    fs::create_directories(runtime());
    fs::permissions(runtime(), fs::perms::owner_all);
    SetIfconfig("inet 192.0.2.77 netmask 255.255.255.0\n");
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const fs::path& root() const { return root_; }
  fs::path bin() const { return root_ / "bin"; }
  fs::path config() const { return root_ / "config"; }  // the application-data folder
  fs::path share() const { return root_ / "share"; }
  fs::path runtime() const { return root_ / "runtime"; }
  fs::path settingsFolder() const { return config() / "ORVANDE"; }
  fs::path settingsFile() const { return settingsFolder() / "ORVANDE.json"; }
  fs::path record() const { return root_ / "velmoor.record"; }
  fs::path ifconfigLog() const { return root_ / "ifconfig.ran"; }
  fs::path out() const { return root_ / "stdout"; }
  fs::path err() const { return root_ / "stderr"; }

  // The fake ifconfig notes each run, then prints exactly this text.
  void SetIfconfig(const std::string& output) {
    testsupport::WriteFile(root_ / "ifconfig.out", output);
    testsupport::WriteFile(bin() / "ifconfig",
                           "#!/bin/sh\necho ran >> '" + ifconfigLog().string() + "'\ncat '" +
                               (root_ / "ifconfig.out").string() + "'\n",
                           true);
  }

  // An ifconfig that prints one interface line from the shell's own echo and
  // notes nothing: the cheapest query a machine could answer.
  void SetIfconfigInstant() {
    testsupport::WriteFile(bin() / "ifconfig", "#!/bin/sh\necho 'inet 192.0.2.77 netmask 255.255.255.0'\n",
                           true);
  }

  void WriteSettings(const std::string& text) {
    fs::create_directories(settingsFolder());
    testsupport::WriteFile(settingsFile(), text);
  }

  // The environment a user's launcher would have here; extra variables
  // (VELMOOR_FLOOD, say) are added on top. With withFakeIfconfig false the
  // PATH is this process's own, so the real ifconfig answers. Either way the
  // fake killall comes first, so a Stop ends only this sandbox's fakes.
  std::vector<std::string> Environment(std::map<std::string, std::string> extra = {},
                                       bool withFakeIfconfig = true) const {
    const char* path = std::getenv("PATH");
    std::string p = testsupport::PathWithFakeKillall(path ? path : "/usr/bin:/bin");
    std::map<std::string, std::string> env = {
        {"QT_QPA_PLATFORM", "offscreen"},
        {"XDG_CONFIG_HOME", config().string()},
        {"XDG_RUNTIME_DIR", runtime().string()},
        {"HOME", root_.string()},
        {"PATH", withFakeIfconfig ? bin().string() + ":" + p : p},
        {"VELMOOR_RECORD", record().string()},
    };
    for (auto& [k, v] : extra) env[k] = v;
    return EnvironWith(env);
  }

  std::vector<std::string> Lines(const fs::path& file) const {
    std::vector<std::string> lines;
    std::istringstream in(testsupport::ReadFile(file));
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }

 private:
  testsupport::TempDir dir_;
  fs::path root_;
};

// Live processes (zombies left out) with this sandbox's environment: the
// launcher started here and whatever it started, which all carry the
// sandbox's VELMOOR_RECORD. Processes of other users cannot be read and are
// not listed; nor is this process.
inline bool CarriesEnvironmentOf(pid_t pid, const Sandbox& box) {
  const std::string marker = "VELMOOR_RECORD=" + box.record().string();
  const std::string env = testsupport::ReadFile("/proc/" + std::to_string(pid) + "/environ");
  for (std::size_t at = 0; at < env.size();) {
    std::size_t end = env.find('\0', at);
    if (end == std::string::npos) end = env.size();
    if (env.compare(at, end - at, marker) == 0) return true;
    at = end + 1;
  }
  return false;
}

inline std::vector<pid_t> ProcessesOf(const Sandbox& box) {
  std::vector<pid_t> found;
  if (DIR* dir = opendir("/proc")) {
    while (dirent* e = readdir(dir)) {
      pid_t pid = static_cast<pid_t>(std::atol(e->d_name));
      if (pid <= 0 || pid == getpid()) continue;
      if (auto st = ReadStat(pid); st && st->state != 'Z' && CarriesEnvironmentOf(pid, box))
        found.push_back(pid);
    }
    closedir(dir);
  }
  return found;
}

// Kills what ProcessesOf lists, each through a pidfd taken before it is
// looked at again, so a pid that another process took meanwhile is spared.
inline void EndProcessesOf(const Sandbox& box) {
  for (pid_t pid : ProcessesOf(box)) {
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) continue;
    if (CarriesEnvironmentOf(pid, box)) syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0);
    close(fd);
  }
}

// Starts the program in the sandbox, its standard output and error to the
// sandbox's files, or standard error to a descriptor when one is given.
inline Child SpawnIn(const Sandbox& box, const std::string& program, const std::vector<std::string>& args,
                     std::vector<std::string> env, int stderrFd = -1) {
  SpawnRequest request;
  request.argv = {program};
  request.argv.insert(request.argv.end(), args.begin(), args.end());
  request.env = std::move(env);
  request.stdoutPath = box.out().string();
  request.stderrPath = box.err().string();
  request.stderrFd = stderrFd;
  return Child(Spawn(request));
}

// The launcher's opening has run as far as it goes: the address query ran,
// no child of the launcher is left, and its main thread waits in the event
// loop at several samples in a row.
inline bool Settled(const Sandbox& box, Child& launcher) {
  if (!fs::exists(box.ifconfigLog())) return false;
  for (int i = 0; i < 5; ++i) {
    if (!launcher.Running() || !LiveChildren(launcher.pid()).empty() || !WaitingInLoop(launcher.pid())) {
      return false;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
  return true;
}

}  // namespace e2e
