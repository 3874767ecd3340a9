// Start and stop cycles: the real window in this process, its Start button
// clicked with QTest, the fake server started and ended again, a thousand
// times over; then the zombies, open descriptors, watched children and RSS
// of this process, compared with before the first click.
//
// Each click waits for its effect (the fake running, then gone), as a user
// would see it before clicking again. The stop command finds the tests' fake
// `killall` first on PATH (the sandbox puts it there), which ends only this
// run's fakes: the real one would end every velmoor on the machine, other
// test runs' included.
//
//   launcher_cycles_bench [cycles]        (default 1000)
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <memory>
#include <string>

#include "launcher_bench.h"
#include "platform/child_watch.h"
#include "platform/runtime.h"
#include "support/fake_record.h"
#include "window/main_window.h"

namespace {

using namespace std::chrono_literals;

bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  auto deadline = bench::Clock::now() + timeout;
  while (!condition()) {
    if (bench::Clock::now() > deadline) return condition();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  return true;
}

QPushButton* StartButton() {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (auto* b = top->findChild<QPushButton*>("PushButton1")) return b;
  }
  return nullptr;
}

struct Snapshot {
  long long zombies, fds, rssKiB;
  int watched;
};

Snapshot Take() {
  return {static_cast<long long>(e2e::Children(getpid(), true).size()), e2e::CountOpenFds(getpid()),
          e2e::StatusKiB(getpid(), "VmRSS"), WatchedChildCount()};
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;

  e2e::Sandbox box;
  box.WriteSettings(bench::SettingsAtTheFake(box, "No").Text());
  for (const std::string& entry : box.Environment()) {
    auto eq = entry.find('=');
    setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
  }

  // The shells that ran the servers report their ends ("Terminated") on the
  // launcher's standard error: keep them off this program's one line.
  const int savedStderr = dup(2);
  const int log = open((box.root() / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  dup2(log, 2);
  close(log);

  RuntimeInit();
  int failed = 0;
  Snapshot before{}, after{};
  double perCycleMs = 0;
  {
    auto window = std::make_shared<MainWindow>();
    window->Constructor();
    PumpUntil([&] { return window->HasOpened(); }, 30s);
    QPushButton* button = StartButton();
    if (!button) return 2;
    PumpUntil([] { return WatchedChildCount() == 0; }, 5s);
    before = Take();

    const auto t0 = bench::Clock::now();
    for (int i = 0; i < cycles; ++i) {
      // A record file per cycle keeps each look at it short.
      const auto record = box.root() / ("cycle-" + std::to_string(i % 2));
      e2e::fs::remove(record);
      setenv("VELMOOR_RECORD", record.c_str(), 1);

      QTest::mouseClick(button, Qt::LeftButton);
      std::optional<testsupport::FakeRecord> server;
      PumpUntil(
          [&] {
            auto r = testsupport::ReadFakeRecords(record);
            if (!r.empty()) server = r[0];
            return server.has_value();
          },
          10s);
      QTest::mouseClick(button, Qt::LeftButton);
      bool ended = server && PumpUntil([&] { return !e2e::Alive(*server); }, 10s);
      if (!ended) {
        ++failed;
        e2e::EndRecorded(record);
      }
    }
    perCycleMs = bench::Ms(bench::Clock::now() - t0) / cycles;
    PumpUntil([] { return WatchedChildCount() == 0; }, 10s);
    after = Take();
    window.reset();
  }
  RuntimeExit();
  dup2(savedStderr, 2);
  close(savedStderr);

  bench::Line()
      .Add("cycles", cycles, "clicks_pairs", 0)
      .Add("zombies_before", static_cast<double>(before.zombies), "processes", 0)
      .Add("zombies_after", static_cast<double>(after.zombies), "processes", 0)
      .Add("fds_before", static_cast<double>(before.fds), "descriptors", 0)
      .Add("fds_after", static_cast<double>(after.fds), "descriptors", 0)
      .Add("watched_after", after.watched, "children", 0)
      .Add("rss_growth", static_cast<double>(after.rssKiB - before.rssKiB) / 1024, "MiB", 2)
      .Add("per_cycle", perCycleMs, "ms", 2)
      .Add("failed", failed, "cycles", 0)
      .Print();
  return failed == 0 && after.zombies <= before.zombies && after.fds <= before.fds ? 0 : 1;
}
