// Reads, writes and sets settings texts of 1, 10 and 50 MB, so that the
// growth of the cost with the text's size can be seen. Two shapes:
//   flat    one object of about a million settings-like members at 50 MB;
//   nested  one object whose members are small records with an array inside.
// Prints one line of figures per shape and size (name, value, unit), then one
// summary line, and exits 1 when a run went wrong (a read that does not give
// the members or the very text back).
//
// Each shape and size runs in a fresh child process, so that what one case
// leaves in the allocator does not show in the next. Memory is counted by
// the global operator new and delete of this program, during one read:
// `peak` is the most heap that was live, the text itself included, over the
// text's size; `peak_own` leaves the text out, so it is what the reader
// itself took; `rss` is the child's peak resident size after that read,
// which also holds the making of the text.
//
// Times are the best of several rounds. A round of reading is the making of
// the object from the text and the first read of a member by name, so that
// work put off to the first lookup is counted; dropping the object is not
// timed. `read` runs each round on memory fresh from the system, as the
// launcher's one read per start does: malloc_trim hands back, untimed, what
// the round before freed, so every size pays for the pages it touches.
// `read_reused` leaves the allocator alone: what glibc keeps for the next
// round then depends on the sizes of the blocks freed (the largest go back to
// the system at once), so a reader that takes its memory in blocks as large
// as the text pays for fresh pages at the large sizes only. `faults` and
// `reused_faults` count the fresh pages: minor page faults in a round, per
// MB of text.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "settings/json.h"

// ---- counting allocator ---------------------------------------------------

namespace {

std::size_t g_live = 0;
std::size_t g_peak = 0;

void* Allocate(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  g_live += malloc_usable_size(p);
  if (g_live > g_peak) g_peak = g_live;
  return p;
}

void Release(void* p) noexcept {
  if (!p) return;
  g_live -= malloc_usable_size(p);
  std::free(p);
}

}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }

// ---- the texts -------------------------------------------------------------

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kMB = 1e6;

// A value as the program holds it and as the written text holds it.
struct Sample {
  const char* plain;
  const char* written;
};

// Like the settings: paths with slashes and a dropped path's backslash and
// blank, an address, a non-ASCII text with a quote and a tab, a port.
const Sample kValues[] = {
    {"/Users/someone/Shared\\ Folder/", "\\/Users\\/someone\\/Shared\\\\ Folder\\/"},
    {"192.168.1.", "192.168.1."},
    {"Ordner f\xc3\xbcr Gro\xc3\x9f und Klein \"quoted\"\t",
     "Ordner f\xc3\xbcr Gro\xc3\x9f und Klein \\\"quoted\\\"\\t"},
    {"38008", "38008"},
};

std::string Name(std::size_t n) { return "member" + std::to_string(n); }

// The n-th value; the first two kinds end in a number so that values differ.
std::string Value(std::size_t n, bool written) {
  const Sample& s = kValues[n % 4];
  std::string v = written ? s.written : s.plain;
  if (n % 4 < 2) v += std::to_string(n % 4 == 0 ? n : n % 256);
  return v;
}

// A record of the nested shape, in the written form.
void AppendRecord(std::size_t n, std::string& out) {
  out += "{\"name\":\"" + Name(n) + "\",\"path\":\"" + Value(n / 4 * 4, true) + "\",\"address\":\"" +
         Value(n / 4 * 4 + 1, true) + "\",\"port\":" + std::to_string(38000 + n % 1000) +
         ",\"ratio\":-0.5e3,\"auto\":true,\"tags\":[\"" + Value(2, true) +
         "\",\"x\",1,false],\"owner\":null}";
}

// The text in the very form that the writer gives, about `target` bytes.
std::string MakeText(bool nested, std::size_t target, std::size_t& members) {
  std::string text;
  text.reserve(target + 1024);
  text += '{';
  members = 0;
  while (text.size() < target) {
    if (members) text += ',';
    text += '"';
    text += Name(members);
    text += "\":";
    if (nested) {
      AppendRecord(members, text);
    } else {
      text += '"';
      text += Value(members, true);
      text += '"';
    }
    ++members;
  }
  text += '}';
  return text;
}

template <class F>
double BestSeconds(int rounds, F&& f) {
  double best = 1e30;
  for (int i = 0; i < rounds; ++i) {
    auto start = Clock::now();
    f();
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (s < best) best = s;
  }
  return best;
}

struct Figures {
  double read_ms_per_mb = 0, reused_ms_per_mb = 0;
  double peak_x = 0;
};

std::size_t g_sink = 0;

long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// The best time of a round of reading, and the page faults of a round on
// average: the pages that the round took fresh from the system.
double ReadSeconds(const std::string& text, const std::string& name, int rounds, bool fresh, double& faults) {
  double best = 1e30;
  long total = 0;
  for (int i = 0; i < rounds; ++i) {
    if (fresh) malloc_trim(0);
    const long before = MinorFaults();
    auto start = Clock::now();
    auto item = std::make_unique<JSONItem>(text);
    g_sink += item->Value(name).size();
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    total += MinorFaults() - before;
    if (s < best) best = s;
  }
  faults = static_cast<double>(total) / rounds;
  return best;
}

bool Fail(const char* what) {
  std::fprintf(stderr, "json_bench: %s\n", what);
  return false;
}

// One shape at one size, in the child. Fills `f` and prints the line.
bool RunCase(bool nested, std::size_t megabytes, Figures& f) {
  const std::size_t target = megabytes * static_cast<std::size_t>(kMB);
  std::size_t members = 0;
  const std::string text = MakeText(nested, target, members);
  const double mb = static_cast<double>(text.size()) / kMB;
  const int rounds = 9;  // the same at every size, so that no size has more tries at a quiet moment
  const std::string last = Name(members - 1);
  const std::string last_value = nested ? std::string() : Value(members - 1, false);

  // Memory: one read, counted from a quiet allocator.
  std::size_t read_members = 0;
  bool found = false;
  std::size_t before = 0;
  {
    g_peak = before = g_live;
    JSONItem item(text);
    read_members = item.Count();
    found = nested ? !item.Value(last).empty() : item.Value(last) == last_value;
  }
  const std::size_t peak = g_peak;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  if (read_members != members) return Fail("the read gave another number of members");
  if (!found) return Fail("the last member did not read back");

  double faults = 0, reused_faults = 0;
  const double read_s = ReadSeconds(text, last, rounds, true, faults);
  const double reused_s = ReadSeconds(text, last, rounds, false, reused_faults);

  JSONItem item(text);
  std::string written;
  const double write_s = BestSeconds(rounds, [&] { written = item.ToString(); });
  if (written != text) return Fail("the text written is not the text read");

  double set_per_s = 0;
  if (!nested) {
    set_per_s = members / BestSeconds(megabytes >= 50 ? 1 : 3, [&] {
                  JSONItem set;
                  for (std::size_t n = 0; n < members; ++n) set.Value(Name(n), Value(n, false));
                  if (set.Count() != members) std::abort();
                });
  }

  f.read_ms_per_mb = read_s * 1e3 / mb;
  f.reused_ms_per_mb = reused_s * 1e3 / mb;
  f.peak_x = static_cast<double>(peak) / static_cast<double>(text.size());
  std::printf(
      "shape %s size %zu MB text_bytes %zu B members %zu count read %.1f MB/s "
      "read_time %.2f ms/MB faults %.0f 1/MB read_reused %.1f MB/s read_reused_time %.2f ms/MB "
      "reused_faults %.0f 1/MB peak %.2f x_text peak_own %.2f x_text peak_heap %.1f MiB rss %.1f MiB write "
      "%.1f MB/s",
      nested ? "nested" : "flat", megabytes, text.size(), members, mb / read_s, f.read_ms_per_mb, faults / mb,
      mb / reused_s, f.reused_ms_per_mb, reused_faults / mb, f.peak_x,
      static_cast<double>(peak - before) / static_cast<double>(text.size()),
      static_cast<double>(peak) / (1 << 20), static_cast<double>(usage.ru_maxrss) / 1024, mb / write_s);
  if (!nested) std::printf(" set %.3g 1/s", set_per_s);
  std::printf("\n");
  std::fflush(stdout);
  return true;
}

// Runs one case in a child and takes its figures back through a pipe.
bool RunInChild(bool nested, std::size_t megabytes, Figures& f) {
  int fds[2];
  if (pipe(fds) != 0) return Fail("pipe");
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) return Fail("fork");
  if (pid == 0) {
    close(fds[0]);
    Figures mine;
    bool ok = RunCase(nested, megabytes, mine);
    if (ok && write(fds[1], &mine, sizeof mine) != static_cast<ssize_t>(sizeof mine)) ok = false;
    _exit(ok ? 0 : 1);
  }
  close(fds[1]);
  ssize_t got = read(fds[0], &f, sizeof f);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return got == static_cast<ssize_t>(sizeof f) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main() {
  const std::size_t sizes[] = {1, 10, 50};
  bool ok = true;
  double growth[2] = {0, 0}, reused_growth[2] = {0, 0}, worst_peak[2] = {0, 0};
  for (int nested = 0; nested < 2; ++nested) {
    Figures first, f;
    for (std::size_t mb : sizes) {
      if (!RunInChild(nested, mb, f)) {
        ok = false;
        continue;
      }
      if (mb == sizes[0]) first = f;
      if (f.peak_x > worst_peak[nested]) worst_peak[nested] = f.peak_x;
    }
    if (first.read_ms_per_mb > 0) {
      growth[nested] = f.read_ms_per_mb / first.read_ms_per_mb;
      reused_growth[nested] = f.reused_ms_per_mb / first.reused_ms_per_mb;
    }
  }
  std::printf(
      "flat_time_per_mb_50_over_1 %.2f x nested_time_per_mb_50_over_1 %.2f x "
      "flat_reused_time_per_mb_50_over_1 %.2f x nested_reused_time_per_mb_50_over_1 %.2f x "
      "flat_peak_max %.2f x_text nested_peak_max %.2f x_text\n",
      growth[0], growth[1], reused_growth[0], reused_growth[1], worst_peak[0], worst_peak[1]);
  return ok ? 0 : 1;
}
