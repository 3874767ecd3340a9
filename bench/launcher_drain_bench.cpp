// Draining: a server that writes to its standard output without pause for
// the whole span, started by the launcher's opening. The server's output is
// the launcher's own standard output, here a pipe that this program empties
// as fast as it can, the way a terminal or the session's log would.
//
// From outside, for the launcher and side by side for the bare Qt baseline
// running the same flooding fake: peak RSS growth, CPU share, and the longest
// time the main thread was seen away from its event-loop wait (sampled about
// every millisecond from /proc/<pid>/task/<pid>/syscall).
//
// In-process, because the launcher has no timer of its own to watch: the real
// window opened in a child of this program, whose Start runs the same flooding
// fake through the window's shell, with a 10 ms QTimer whose worst lateness is
// the event loop's longest stall; side by side, the same with a quiet fake,
// and a plain thread of this program sleeping 10 ms at a time, which shows
// what the machine itself adds (a virtual machine's pauses hit every timer).
//
//   launcher_drain_bench [seconds]                       (default 30)
//   launcher_drain_bench probe flood|quiet SECONDS FILE  (the in-process child)
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "launcher_bench.h"
#include "platform/runtime.h"
#include "support/fake_record.h"
#include "window/main_window.h"

namespace {

using namespace std::chrono_literals;

// Empties a pipe on a thread of its own, counting the bytes.
class Drain {
 public:
  Drain() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    read_ = fds[0];
    write_ = fds[1];
    thread_ = std::thread([this] {
      static thread_local char buf[1 << 16];
      while (!stop_) {
        pollfd p{read_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        ssize_t n = read(read_, buf, sizeof buf);
        if (n == 0) break;
        if (n > 0) bytes_ += n;
      }
    });
  }
  ~Drain() {
    stop_ = true;
    thread_.join();
    close(read_);
    CloseWriteEnd();
  }
  int writeEnd() const { return write_; }
  void CloseWriteEnd() {
    if (write_ >= 0) close(write_);
    write_ = -1;
  }
  long long bytes() const { return bytes_; }

 private:
  int read_ = -1, write_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<long long> bytes_{0};
  std::thread thread_;
};

// What one process did over the span, seen from outside.
struct Watched {
  pid_t pid;
  long long rss0 = 0, rssPeak = 0, cpu0 = 0, cpu1 = 0, bytes0 = 0, bytes1 = 0;
  double awayMaxMs = 0;
  bench::Clock::time_point lastWaiting;
  bool awaySeen = false;  // a sample since lastWaiting found it elsewhere
};

// A stretch away from the loop's wait counts only when a sample saw it: the
// sampler's own delays (it shares the machine with the flood) are not the
// launcher's. The stretch is then bounded by the waits seen around it.
void Sample(Watched& w, bench::Clock::time_point now) {
  if (!e2e::WaitingInLoop(w.pid)) {
    w.awaySeen = true;
    return;
  }
  if (w.awaySeen) w.awayMaxMs = std::max(w.awayMaxMs, bench::Ms(now - w.lastWaiting));
  w.awaySeen = false;
  w.lastWaiting = now;
}

// The in-process child: the real window, its opening starting the fake, a
// 10 ms timer, and its lateness written to the file: the worst, the 99.9th
// percentile, and when the worst came (steady clock, shared by all processes,
// so two probes' worst moments can be compared).
int Probe(int seconds, const std::string& resultFile) {
  RuntimeInit();
  auto window = std::make_shared<MainWindow>();
  window->Constructor();
  const std::string record = std::getenv("VELMOOR_RECORD");
  const auto giveUp = bench::Clock::now() + 30s;
  while (testsupport::ReadFakeRecords(record).empty() && bench::Clock::now() < giveUp) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  const bool started = !testsupport::ReadFakeRecords(record).empty();

  constexpr auto kInterval = 10ms;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(kInterval);
  std::vector<double> lateMs;
  lateMs.reserve(static_cast<std::size_t>(seconds) * 100 + 100);
  auto last = bench::Clock::now();
  double worst = 0;
  bench::Clock::time_point worstAt = last;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    auto now = bench::Clock::now();
    double late = bench::Ms(now - last - kInterval);
    lateMs.push_back(late);
    if (late > worst) {
      worst = late;
      worstAt = now;
    }
    last = now;
  });
  QTimer::singleShot(seconds * 1000, [] { QCoreApplication::quit(); });
  last = bench::Clock::now();
  tick.start();
  QCoreApplication::exec();

  std::sort(lateMs.begin(), lateMs.end());
  const double p999 = lateMs.empty() ? -1 : lateMs[lateMs.size() - 1 - lateMs.size() / 1000];
  auto records = testsupport::ReadFakeRecords(record);
  const bool ranThrough = started && records.size() == 1 && e2e::Alive(records[0]);
  std::ofstream(resultFile)
      << (ranThrough ? 1 : 0) << " " << worst << " " << p999 << " "
      << std::chrono::duration_cast<std::chrono::microseconds>(worstAt.time_since_epoch()).count() << " "
      << lateMs.size() << "\n";
  window.reset();
  return RuntimeExit();
}

struct ProbeResult {
  bool started = false;  // and the fake ran to the end
  double worstLateMs = -1, p999LateMs = -1;
  long long worstAtUs = 0, ticks = 0;
};

ProbeResult ReadProbe(const e2e::fs::path& file) {
  ProbeResult r;
  std::ifstream in(file);
  int started = 0;
  if (in >> started >> r.worstLateMs >> r.p999LateMs >> r.worstAtUs >> r.ticks) r.started = started == 1;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "probe") return Probe(std::atoi(argv[3]), argv[4]);
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  const std::map<std::string, std::string> flood = {{"VELMOOR_FLOOD", "1"}};
  const long long hz = sysconf(_SC_CLK_TCK);

  // From outside: the launcher and the baseline over the same span.
  Watched l{}, b{};
  long long launcherBytes = 0, samples = 0;
  bool externalOk = false;
  {
    e2e::Sandbox lbox, bbox;
    Drain lout, bout;
    bench::StartOptions o;
    o.automount = "Yes";
    o.extraEnv = flood;
    o.stdoutFd = lout.writeEnd();
    e2e::Child launcher = bench::StartLauncher(lbox, o);
    o.stdoutFd = bout.writeEnd();
    e2e::Child baseline = bench::StartBaseline(bbox, o);
    lout.CloseWriteEnd();
    bout.CloseWriteEnd();
    externalOk = e2e::WaitFor([&] { return lout.bytes() > 0 && bout.bytes() > 0; }, 30s);

    l.pid = launcher.pid();
    b.pid = baseline.pid();
    for (Watched* w : {&l, &b}) {
      w->rss0 = w->rssPeak = e2e::StatusKiB(w->pid, "VmRSS");
      w->cpu0 = bench::CpuTicks(w->pid);
      w->lastWaiting = bench::Clock::now();
    }
    l.bytes0 = lout.bytes();
    const auto end = bench::Clock::now() + std::chrono::seconds(seconds);
    auto nextRss = bench::Clock::now();
    for (auto now = bench::Clock::now(); now < end; now = bench::Clock::now()) {
      ++samples;
      Sample(l, now);
      Sample(b, now);
      if (now >= nextRss) {
        for (Watched* w : {&l, &b}) w->rssPeak = std::max(w->rssPeak, e2e::StatusKiB(w->pid, "VmRSS"));
        nextRss = now + 50ms;
      }
      std::this_thread::sleep_for(1ms);
    }
    // A stretch still open at the end counts too.
    for (Watched* w : {&l, &b}) {
      Sample(*w, bench::Clock::now());
      if (w->awaySeen) w->awayMaxMs = std::max(w->awayMaxMs, bench::Ms(bench::Clock::now() - w->lastWaiting));
      w->cpu1 = bench::CpuTicks(w->pid);
    }
    launcherBytes = lout.bytes() - l.bytes0;
    // Another run's "killall velmoor" would have ended the floods early.
    auto fakeRan = [](const e2e::Sandbox& box) {
      auto r = testsupport::ReadFakeRecords(box.record());
      return r.size() == 1 && e2e::Alive(r[0]);
    };
    externalOk = externalOk && launcher.Running() && baseline.Running() && fakeRan(lbox) && fakeRan(bbox);
    e2e::EndWithShells(launcher, lbox.record());
    e2e::EndWithShells(baseline, bbox.record());
  }

  // In-process: the real window in a child, flooding and quiet side by side.
  ProbeResult floodProbe, quietProbe;
  double machineMax = -1, machineP999 = -1;
  {
    const std::string self = e2e::fs::read_symlink("/proc/self/exe").string();
    e2e::Sandbox fbox, qbox;
    Drain fout, qout;
    auto startProbe = [&](e2e::Sandbox& box, Drain& out, bool flooding) {
      box.WriteSettings(bench::SettingsAtTheFake(box, "Yes").Text());
      e2e::SpawnRequest request;
      request.argv = {self, "probe", flooding ? "flood" : "quiet", std::to_string(seconds),
                      (box.root() / "probe.result").string()};
      request.env = box.Environment(flooding ? flood : std::map<std::string, std::string>{});
      request.stdoutFd = out.writeEnd();
      request.stderrPath = box.err().string();
      return e2e::Child(e2e::Spawn(request));
    };
    e2e::Child f = startProbe(fbox, fout, true);
    e2e::Child q = startProbe(qbox, qout, false);
    fout.CloseWriteEnd();
    qout.CloseWriteEnd();
    // The machine's own lateness over the same span: a plain thread sleeping
    // 10 ms at a time, no Qt, no window.
    std::vector<double> machineLate;
    for (auto end = bench::Clock::now() + std::chrono::seconds(seconds); bench::Clock::now() < end;) {
      auto before = bench::Clock::now();
      std::this_thread::sleep_for(10ms);
      machineLate.push_back(bench::Ms(bench::Clock::now() - before - 10ms));
    }
    std::sort(machineLate.begin(), machineLate.end());
    machineMax = machineLate.back();
    machineP999 = machineLate[machineLate.size() - 1 - machineLate.size() / 1000];
    f.WaitExit(std::chrono::seconds(seconds + 60));
    q.WaitExit(std::chrono::seconds(seconds + 60));
    floodProbe = ReadProbe(fbox.root() / "probe.result");
    quietProbe = ReadProbe(qbox.root() / "probe.result");
    e2e::EndRecorded(fbox.record());
    e2e::EndRecorded(qbox.record());
  }

  auto cpuPct = [&](const Watched& w) {
    return 100.0 * static_cast<double>(w.cpu1 - w.cpu0) / (seconds * hz);
  };
  bench::Line()
      .Add("launcher_rss_growth", static_cast<double>(l.rssPeak - l.rss0) / 1024, "MiB", 2)
      .Add("baseline_rss_growth", static_cast<double>(b.rssPeak - b.rss0) / 1024, "MiB", 2)
      .Add("launcher_cpu", cpuPct(l), "%", 2)
      .Add("baseline_cpu", cpuPct(b), "%", 2)
      .Add("launcher_loop_away_max", l.awayMaxMs, "ms")
      .Add("baseline_loop_away_max", b.awayMaxMs, "ms")
      .Add("sample_interval", samples ? 1000.0 * seconds / static_cast<double>(samples) : 0, "ms", 2)
      .Add("inprocess_flood_timer_late_max", floodProbe.worstLateMs, "ms")
      .Add("inprocess_quiet_timer_late_max", quietProbe.worstLateMs, "ms")
      .Add("inprocess_flood_timer_late_p999", floodProbe.p999LateMs, "ms")
      .Add("inprocess_quiet_timer_late_p999", quietProbe.p999LateMs, "ms")
      .Add("worst_moments_apart", std::abs(floodProbe.worstAtUs - quietProbe.worstAtUs) / 1000.0, "ms")
      .Add("machine_sleep_late_max", machineMax, "ms")
      .Add("machine_sleep_late_p999", machineP999, "ms")
      .Add("flood_rate", static_cast<double>(launcherBytes) / (1 << 20) / seconds, "MiB/s")
      .Add("span", seconds, "s", 0)
      .Print();
  if (!externalOk)
    std::fprintf(stderr, "launcher_drain_bench: a launcher, the baseline or a flood ended early\n");
  if (!floodProbe.started || !quietProbe.started) {
    std::fprintf(stderr, "launcher_drain_bench: an in-process window's server did not run the whole span\n");
  }
  return externalOk && floodProbe.started && quietProbe.started ? 0 : 1;
}
