// The launcher against the worst settings texts it can read
// (bench/cap_shapes.h), each as long as the read takes, and once against the
// usual settings file: the built launcher run as a user runs it, in a
// sandbox, one run per text.
//
// For each text: `peak`, the launcher's peak resident size (VmHWM) once its
// opening has settled; `opening`, from the address query, which comes right
// before the read, to the end of the opening. That end is the report on
// standard error for a text the opening cannot use, the fake server's start
// for the text whose last Automount is "Yes", and otherwise the first moment
// the launcher waits in its event loop with no child left (sampled every
// millisecond). `from_exec` is the same end from the launcher's exec.
//
//   settings_cap_bench [runs]        (default 3; each figure is the median)
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "cap_shapes.h"
#include "launcher_bench.h"

namespace {

using namespace std::chrono_literals;

enum class End { Report, Start, Quiet };

struct Case {
  std::string name;
  End end;
};

struct Run {
  double peakMiB = 0, openingMs = 0, fromExecMs = 0;
  std::size_t bytes = 0;
  bool ok = false;
};

// The settings that point at the fake, without the braces.
std::string MembersAtTheFake(const e2e::Sandbox& box, const std::string& automount) {
  const std::string text = bench::SettingsAtTheFake(box, automount).Text();
  return text.substr(1, text.size() - 2);
}

// The text of case `name` for this sandbox.
std::string TextOf(const std::string& name, const e2e::Sandbox& box) {
  if (name == "usual") return bench::SettingsAtTheFake(box, "No").Text();
  const std::string rest =
      "\"ipaddress\":\"10.1.2.3\",\"port\":\"38008\",\"velmoorFldr\":\"\\/opt\\/v\",\"Automount\":\"No\"";
  for (auto& shape : capshapes::Make(MembersAtTheFake(box, "Yes"), rest)) {
    if (shape.name == name) return shape.text;
  }
  return {};
}

bool WaitsInLoop(e2e::Child& launcher) {
  return launcher.Running() && e2e::LiveChildren(launcher.pid()).empty() &&
         e2e::WaitingInLoop(launcher.pid());
}

Run RunOnce(const Case& c) {
  Run run;
  e2e::Sandbox box;
  const std::string text = TextOf(c.name, box);
  run.bytes = text.size();
  box.WriteSettings(text);
  bench::RecordWatch watch(box);
  e2e::SpawnRequest request;
  request.argv = {ORVANDE_EXE};
  request.env = box.Environment();
  request.stderrPath = box.err().string();
  const auto spawned = bench::Clock::now();
  e2e::Child launcher(e2e::Spawn(request));

  if (!e2e::WaitFor([&] { return e2e::fs::exists(box.ifconfigLog()); }, 30s, 1ms)) return run;
  const auto queried = bench::Clock::now();
  std::optional<bench::Clock::time_point> ended;
  switch (c.end) {
    case End::Report:
      if (e2e::WaitFor([&] { return testsupport::ReadFile(box.err()).find('\n') != std::string::npos; }, 30s,
                       1ms)) {
        ended = bench::Clock::now();
      }
      break;
    case End::Start:
      ended = watch.Wait(30s);
      break;
    case End::Quiet:
      // The first moment of a wait that lasts: a wait that ends at once was
      // one inside the opening.
      for (auto deadline = queried + 30s; !ended && bench::Clock::now() < deadline;) {
        if (!e2e::WaitFor([&] { return WaitsInLoop(launcher); }, 30s, 1ms)) break;
        const auto at = bench::Clock::now();
        if (e2e::Settled(box, launcher)) ended = at;
      }
      break;
  }
  // Once settled, the peak holds the whole opening. A launcher that started
  // the server keeps a child: there, waiting in the loop has to do.
  auto waitsInLoop = [&] {
    for (int i = 0; i < 5; ++i) {
      if (!launcher.Running() || !e2e::WaitingInLoop(launcher.pid())) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  };
  const bool settled =
      e2e::WaitFor([&] { return c.end == End::Start ? waitsInLoop() : e2e::Settled(box, launcher); }, 30s);
  const std::string err = testsupport::ReadFile(box.err());
  const bool reported = err.find("orvande: unhandled") != std::string::npos;
  const bool started = !testsupport::ReadFakeRecords(box.record()).empty();
  run.peakMiB = static_cast<double>(e2e::StatusKiB(launcher.pid(), "VmHWM")) / 1024;
  e2e::EndWithShells(launcher, box.record());
  if (ended) {
    run.openingMs = bench::Ms(*ended - queried);
    run.fromExecMs = bench::Ms(*ended - spawned);
  }
  run.ok = ended && settled && reported == (c.end == End::Report) && started == (c.end == End::Start);
  if (!run.ok) std::fprintf(stderr, "settings_cap_bench: %s went wrong: %s\n", c.name.c_str(), err.c_str());
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
  const std::vector<Case> cases = {
      {"usual", End::Quiet},    {"brackets", End::Report}, {"zeros", End::Report}, {"names", End::Report},
      {"repeated", End::Start}, {"objects", End::Report},  {"share", End::Quiet},
  };
  bool ok = true;
  for (const Case& c : cases) {
    std::vector<double> peak, opening, fromExec;
    std::size_t bytes = 0;
    for (int i = 0; i < runs; ++i) {
      const Run run = RunOnce(c);
      ok = ok && run.ok;
      if (!run.ok) continue;
      peak.push_back(run.peakMiB);
      opening.push_back(run.openingMs);
      fromExec.push_back(run.fromExecMs);
      bytes = run.bytes;
    }
    const char* end = c.end == End::Report ? "report" : c.end == End::Start ? "start" : "quiet";
    std::printf("shape %s ends %s ", c.name.c_str(), end);
    bench::Line()
        .Add("text_bytes", static_cast<double>(bytes), "B", 0)
        .Add("peak", bench::Median(peak), "MiB")
        .Add("opening", bench::Median(opening), "ms")
        .Add("from_exec", bench::Median(fromExec), "ms")
        .Add("runs", static_cast<double>(peak.size()), "ok", 0)
        .Print();
  }
  return ok ? 0 : 1;
}
