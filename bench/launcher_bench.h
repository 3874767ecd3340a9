// What the launcher benchmarks share: starting the built launcher or the bare
// Qt baseline in a sandbox so that each starts the fake server, noticing the
// moment the fake has started, and printing one line of figures.
//
// Contract:
// - StartLauncher writes settings that point at the fake and starts the
//   launcher with the given arguments; StartBaseline starts the baseline with
//   the same fake's command line. Both give the child, which the caller ends.
// - RecordWatch reports the moment the fake's record file has been written
//   and closed (inotify), so a start is timed to the fake's exec without
//   polling delay.
#pragma once

#include <poll.h>
#include <sys/inotify.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "e2e/launcher_sandbox.h"

#if !defined(ORVANDE_EXE) || !defined(BARE_QT_BASELINE_EXE) || !defined(ORVANDE_FAKES_DIR)
#error "the build names the launcher, the baseline and the fakes folder"
#endif

namespace bench {

using e2e::Clock;
using e2e::milliseconds;

inline std::string FakeFolder() { return ORVANDE_FAKES_DIR; }

inline constexpr const char* kPort = "38008";

inline e2e::Settings SettingsAtTheFake(const e2e::Sandbox& box, const std::string& automount) {
  e2e::Settings s;
  s.port = kPort;
  s.velmoorFldr = FakeFolder();
  s.ShareDir = box.share().string();
  s.Automount = automount;
  return s;
}

struct StartOptions {
  std::vector<std::string> args;                // the launcher's command line after its name
  std::string automount = "No";                 // saved in the settings
  std::map<std::string, std::string> extraEnv;  // VELMOOR_FLOOD, say
  bool fakeIfconfig = true;                     // false: the machine's own ifconfig answers
  int stdoutFd = -1;                            // else /dev/null
  bool baselineControls = false;                // the baseline builds the window's controls too
};

inline e2e::Child StartLauncher(e2e::Sandbox& box, const StartOptions& o) {
  box.WriteSettings(SettingsAtTheFake(box, o.automount).Text());
  e2e::SpawnRequest request;
  request.argv = {ORVANDE_EXE};
  request.argv.insert(request.argv.end(), o.args.begin(), o.args.end());
  request.env = box.Environment(o.extraEnv, o.fakeIfconfig);
  request.stdoutFd = o.stdoutFd;
  request.stderrPath = box.err().string();
  return e2e::Child(e2e::Spawn(request));
}

inline e2e::Child StartBaseline(e2e::Sandbox& box, const StartOptions& o) {
  e2e::SpawnRequest request;
  request.argv = {BARE_QT_BASELINE_EXE};
  if (o.baselineControls) request.argv.push_back("--controls");
  for (std::string a :
       {FakeFolder() + "/velmoor", std::string("-p"), std::string(kPort), box.share().string()}) {
    request.argv.push_back(a);
  }
  request.env = box.Environment(o.extraEnv, o.fakeIfconfig);
  request.stdoutFd = o.stdoutFd;
  request.stderrPath = box.err().string();
  return e2e::Child(e2e::Spawn(request));
}

// Watches the sandbox folder for the fake's record being closed after writing.
class RecordWatch {
 public:
  explicit RecordWatch(const e2e::Sandbox& box) : name_(box.record().filename().string()) {
    fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd_ >= 0) inotify_add_watch(fd_, box.root().c_str(), IN_CLOSE_WRITE);
  }
  ~RecordWatch() {
    if (fd_ >= 0) close(fd_);
  }
  RecordWatch(const RecordWatch&) = delete;
  RecordWatch& operator=(const RecordWatch&) = delete;

  // The moment the record was closed, or nullopt at the time-out.
  std::optional<Clock::time_point> Wait(milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
      if (poll(&p, 1, static_cast<int>(std::max<long long>(left, 1))) <= 0) continue;
      auto when = Clock::now();
      alignas(inotify_event) char buf[4096];
      ssize_t n = read(fd_, buf, sizeof buf);
      for (ssize_t off = 0; off < n;) {
        auto* ev = reinterpret_cast<inotify_event*>(buf + off);
        if (ev->len && name_ == ev->name) return when;
        off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
      }
    }
    return std::nullopt;
  }

 private:
  std::string name_;
  int fd_ = -1;
};

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The one line of `name value unit` triples a benchmark prints.
class Line {
 public:
  Line& Add(const std::string& name, double value, const std::string& unit, int decimals = 1) {
    char v[64];
    std::snprintf(v, sizeof v, "%.*f", decimals, value);
    if (!text_.empty()) text_ += " ";
    text_ += name + " " + v + " " + unit;
    return *this;
  }
  void Print() const {
    std::printf("%s\n", text_.c_str());
    std::fflush(stdout);
  }

 private:
  std::string text_;
};

// CPU time of all the process's threads, in clock ticks.
inline long long CpuTicks(pid_t pid) {
  auto st = e2e::ReadStat(pid);
  return st ? st->utime + st->stime : -1;
}

// Context switches of all the process's threads: each one is a wake-up.
inline long long ContextSwitches(pid_t pid) {
  long long total = 0;
  std::error_code ec;
  for (auto it = e2e::fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec);
       !ec && it != e2e::fs::directory_iterator(); it.increment(ec)) {
    std::istringstream in(testsupport::ReadFile(it->path() / "status"));
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        total += std::atoll(line.c_str() + line.find(':') + 1);
      }
    }
  }
  return total;
}

}  // namespace bench
