// A mode-1 shell runs the fake server flooding its standard output, which is
// the launcher's own, for a while. Reports the launcher's memory growth, its
// CPU share and the longest stall of a 10 ms timer meanwhile.
//   shell_drain [SECONDS] [null|pipe]   (default 30 null)
// "null" puts the launcher's standard output on /dev/null; "pipe" on a pipe
// that a separate cat drains, as a terminal would.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/runtime.h"
#include "platform/shell.h"
#include "shell_bench.h"

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long long RssKiB() { return shellbench::ProcField("/proc/self/status", "VmRSS:"); }

// Points our standard output at /dev/null or at a pipe into cat; gives cat's
// pid (or -1) and keeps the old output for the report.
pid_t RedirectStdout(bool pipeToCat) {
  if (!pipeToCat) {
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(null, 1);
    close(null);
    return -1;
  }
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) return -1;
  pid_t cat = fork();
  if (cat == 0) {
    dup2(p[0], 0);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execl("/bin/cat", "cat", static_cast<char*>(nullptr));
    _exit(127);
  }
  dup2(p[1], 1);
  close(p[0]);
  close(p[1]);
  return cat;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  const bool pipeToCat = argc > 2 && std::strcmp(argv[2], "pipe") == 0;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  RuntimeInit();
  FILE* report = fdopen(dup(1), "w");
  const pid_t cat = RedirectStdout(pipeToCat);
  int rc = 0;
  {
    shellbench::Scratch scratch;
    const auto record = scratch.path() / "record";
    auto shell = std::make_shared<Shell>();
    shell->SetMode(1);
    bool completed = false;
    shell->AddCompletedHandler({[&](std::shared_ptr<Shell>) { completed = true; }, "Completed"});
    shell->Execute("VELMOOR_FLOOD=1 VELMOOR_RECORD='" + record.string() + "' " + scratch.Server());
    pid_t server = -1;
    if (!shellbench::PumpUntil([&] { return (server = shellbench::RecordedPid(record)) > 0; })) {
      std::fprintf(stderr, "shell_drain: the fake never started\n");
      return 1;
    }
    const std::string io = "/proc/" + std::to_string(server) + "/io";
    shellbench::PumpUntil([] { return false; }, std::chrono::seconds(1));  // settle

    using Clock = std::chrono::steady_clock;
    const long long rssBefore = RssKiB();
    const long long writtenBefore = shellbench::ProcField(io, "wchar:");
    const double cpuBefore = CpuSeconds();
    const auto start = Clock::now();

    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    auto last = Clock::now();
    double worstLateMs = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
      auto now = Clock::now();
      worstLateMs =
          std::max(worstLateMs, std::chrono::duration<double, std::milli>(now - last).count() - 10.0);
      last = now;
    });
    tick.start(10);
    QTimer::singleShot(seconds * 1000, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    tick.stop();

    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuBefore;
    const long long rssAfter = RssKiB();
    const long long written = shellbench::ProcField(io, "wchar:") - writtenBefore;
    const bool serverRan = !completed;

    kill(server, SIGKILL);
    shellbench::PumpUntil([&] { return completed; });
    std::fprintf(report,
                 "shell_drain seconds %.1f s sink %s name rss_before %lld KiB rss_after %lld KiB "
                 "rss_growth %lld KiB cpu_share %.3f %% max_timer_late %.2f ms server_written %.0f MB "
                 "server_ran_throughout %d bool\n",
                 wall, pipeToCat ? "pipe" : "null", rssBefore, rssAfter, rssAfter - rssBefore,
                 100.0 * cpu / wall, worstLateMs, static_cast<double>(written) / 1e6, serverRan ? 1 : 0);
    std::fflush(report);
    rc = serverRan ? 0 : 1;
  }
  RuntimeExit();
  if (cat > 0) {
    close(1);
    waitpid(cat, nullptr, 0);
  }
  return rc;
}
