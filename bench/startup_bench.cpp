// Start-up latency: from the exec of the launcher, run with "-automount", to
// the exec of the fake server that its opening starts; side by side with the
// bare Qt baseline, which shows a window of the same size and then starts the
// same fake. Runs are interleaved so that drift in the machine's load hits
// every kind alike.
//
// The goal's figure is goal_ratio: the launcher with an ifconfig that prints
// at once (the query's own processes as they are) against the baseline that
// builds the launcher's window too (its controls, no menu bar, as the
// launcher builds it), which is what Qt alone costs that window. Beside it, to tell where the difference
// goes: the launcher with the machine's own ifconfig against both baselines, and the address query's pipeline
// run alone.
//
//   startup_bench [runs]        (default 20)
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher_bench.h"
#include "support/fake_record.h"
#include "window/design_data.h"

namespace {

using namespace std::chrono_literals;

enum Kind { kLauncher, kBaseline, kLauncherInstantQuery, kBaselineControls, kKinds };

// One timed start, exec to the fake's exec, in ms; negative when the fake
// never came.
double TimedStart(Kind kind) {
  e2e::Sandbox box;
  bench::RecordWatch watch(box);
  bench::StartOptions o;
  o.args = {"-automount"};
  o.fakeIfconfig = kind == kLauncherInstantQuery;
  if (kind == kLauncherInstantQuery) box.SetIfconfigInstant();
  o.baselineControls = kind == kBaselineControls;
  const bool launcher = kind == kLauncher || kind == kLauncherInstantQuery;
  auto t0 = bench::Clock::now();
  e2e::Child child = launcher ? bench::StartLauncher(box, o) : bench::StartBaseline(box, o);
  auto t1 = watch.Wait(30s);
  e2e::EndWithShells(child, box.record());
  return t1 ? bench::Ms(*t1 - t0) : -1;
}

// The address query's pipeline alone, run through /bin/sh with this
// process's PATH, as the launcher's synchronous shell runs it.
double TimedQuery() {
  e2e::SpawnRequest request;
  request.argv = {"/bin/sh", "-c", design::kAddressQuery};
  auto t0 = bench::Clock::now();
  e2e::Child sh(e2e::Spawn(request));
  sh.WaitExit(10s);
  return bench::Ms(bench::Clock::now() - t0);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 20;

  for (int k = 0; k < kKinds; ++k) TimedStart(Kind(k));  // warm the caches; not counted

  std::vector<double> ms[kKinds], query;
  int failed = 0;
  for (int i = 0; i < runs; ++i) {
    for (int j = 0; j < kKinds; ++j) {
      Kind k = Kind((i + j) % kKinds);
      double t = TimedStart(k);
      if (t < 0) {
        ++failed;
      } else {
        ms[k].push_back(t);
      }
    }
    query.push_back(TimedQuery());
  }

  const double launcher = bench::Median(ms[kLauncher]), baseline = bench::Median(ms[kBaseline]);
  const double instant = bench::Median(ms[kLauncherInstantQuery]);
  const double controls = bench::Median(ms[kBaselineControls]), q = bench::Median(query);
  auto ratio = [](double a, double b) { return b > 0 ? a / b : 0; };
  bench::Line()
      .Add("launcher", launcher, "ms")
      .Add("baseline", baseline, "ms")
      .Add("ratio", ratio(launcher, baseline), "x", 2)
      .Add("launcher_instant_ifconfig", instant, "ms")
      .Add("query_pipeline", q, "ms")
      .Add("query_share", 100 * ratio(q, launcher), "%")
      .Add("baseline_with_controls", controls, "ms")
      .Add("ratio_to_controls", ratio(launcher, controls), "x", 2)
      .Add("goal_ratio", ratio(instant, controls), "x", 2)
      .Add("runs", runs, "each", 0)
      .Add("failed", failed, "runs", 0)
      .Print();
  return failed ? 1 : 0;
}
