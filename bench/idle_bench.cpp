// Idle cost: the CPU time and the wake-ups of the launcher over a quiet
// stretch while the server it started runs, side by side with the bare Qt
// baseline over the same stretch. A launcher that polls anything (the
// server, the settings file) shows up here.
//
//   idle_bench [seconds]        (default 10)
#include <cstdlib>
#include <thread>

#include "launcher_bench.h"
#include "support/fake_record.h"

int main(int argc, char** argv) {
  using namespace std::chrono_literals;
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;

  e2e::Sandbox launcherBox, baselineBox;
  bench::StartOptions o;
  o.automount = "Yes";
  e2e::Child launcher = bench::StartLauncher(launcherBox, o);
  e2e::Child baseline = bench::StartBaseline(baselineBox, o);
  auto started = [](const e2e::Sandbox& box) { return !testsupport::ReadFakeRecords(box.record()).empty(); };
  bool ok = e2e::WaitFor([&] { return started(launcherBox) && started(baselineBox); }, 30s);

  // Let the tail of both openings pass before the quiet stretch begins.
  std::this_thread::sleep_for(1s);
  const long long l0 = bench::CpuTicks(launcher.pid()), b0 = bench::CpuTicks(baseline.pid());
  const long long lw0 = bench::ContextSwitches(launcher.pid()), bw0 = bench::ContextSwitches(baseline.pid());
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const long long l1 = bench::CpuTicks(launcher.pid()), b1 = bench::CpuTicks(baseline.pid());
  const long long lw1 = bench::ContextSwitches(launcher.pid()), bw1 = bench::ContextSwitches(baseline.pid());
  // Another run's "killall velmoor" would end the servers early.
  auto ran = [](const e2e::Sandbox& box) {
    auto r = testsupport::ReadFakeRecords(box.record());
    return r.size() == 1 && e2e::Alive(r[0]);
  };
  const bool serverRan = ok && ran(launcherBox) && ran(baselineBox);

  e2e::EndWithShells(launcher, launcherBox.record());
  e2e::EndWithShells(baseline, baselineBox.record());

  bench::Line()
      .Add("launcher_cpu", static_cast<double>(l1 - l0), "ticks", 0)
      .Add("baseline_cpu", static_cast<double>(b1 - b0), "ticks", 0)
      .Add("launcher_wakeups", static_cast<double>(lw1 - lw0), "switches", 0)
      .Add("baseline_wakeups", static_cast<double>(bw1 - bw0), "switches", 0)
      .Add("servers_running", serverRan ? 1 : 0, "bool", 0)
      .Add("span", seconds, "s", 0)
      .Add("tick", 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK)), "ms", 0)
      .Print();
  if (!serverRan) std::fprintf(stderr, "idle_bench: a server did not start or ended early\n");
  return ok && serverRan ? 0 : 1;
}
