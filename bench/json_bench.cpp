// The settings text's cost where the launcher pays it, and at its worst.
//
// The settings file: five short members, written as the launcher writes
// them (about 150 bytes).
//   load       JSONItem(text) and the five reads by name, as the opening does;
//   save       five sets on a new object and ToString, as Start does;
//   file_load  the same load from the file: TextInputStream Open, ReadAll,
//              Close, then the load;
//   file_save  the same save to the file: TextOutputStream Create, Write,
//              Close, which flushes the file to disk and renames it into place.
// Times are per operation: the median of 15 rounds of many operations each.
//
// The worst texts the launcher's read can meet (bench/cap_shapes.h), each
// as long as the read takes: each in a child process of its own, read as the
// opening reads (the text, then the five reads by name; an exception ends it
// as it ends the opening). `read` is the best of 5 such reads; `peak` is the
// most heap that the read itself had live at once, the text left out,
// counted by this program's operator new and delete; `rss` is the child's
// peak resident size, which also holds the making of the text.
//
// Prints one line of figures per case (name, value, unit) and exits 1 when a
// read did not give what the text holds.
#include <malloc.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cap_shapes.h"
#include "platform/folderitem.h"
#include "platform/textstream.h"
#include "settings/json.h"

// ---- counting allocator ---------------------------------------------------

namespace {

std::size_t g_live = 0;
std::size_t g_peak = 0;

void* Allocate(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  g_live += malloc_usable_size(p);
  g_peak = std::max(g_peak, g_live);
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

namespace {

using Clock = std::chrono::steady_clock;

const char* const kNames[] = {"ipaddress", "port", "velmoorFldr", "ShareDir", "Automount"};
// As the window holds them: an address, a port, two folders (the share one
// dropped, with its blank escaped) and the box's state.
const char* const kValues[] = {"192.168.1.20", "38008", "/home/someone/velmoor",
                               "/home/someone/Shared\\ Games", "No"};

std::size_t g_sink = 0;

bool Fail(const std::string& what) {
  std::fprintf(stderr, "json_bench: %s\n", what.c_str());
  return false;
}

// Median time of one operation over rounds of `ops` operations, in µs.
template <class F>
double MedianMicroseconds(int ops, F&& f) {
  std::vector<double> rounds;
  for (int r = 0; r < 15; ++r) {
    const auto start = Clock::now();
    for (int i = 0; i < ops; ++i) f();
    rounds.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() / ops);
  }
  std::sort(rounds.begin(), rounds.end());
  return rounds[rounds.size() / 2];
}

std::string Save() {
  JSONItem settings;
  for (int i = 0; i < 5; ++i) settings.Value(kNames[i], kValues[i]);
  return settings.ToString();
}

void Load(const std::string& text) {
  JSONItem settings(text);
  for (const char* name : kNames) g_sink += settings.Value(name).size();
}

bool RunSettings() {
  const std::string text = Save();
  JSONItem back(text);
  for (int i = 0; i < 5; ++i) {
    if (back.Value(kNames[i]) != kValues[i]) return Fail("the settings do not read back");
  }
  const double load = MedianMicroseconds(20000, [&] { Load(text); });
  const double save = MedianMicroseconds(20000, [&] { g_sink += Save().size(); });

  char folderName[] = "/tmp/json_bench.XXXXXX";
  if (!mkdtemp(folderName)) return Fail("no temporary folder");
  auto file = std::make_shared<FolderItem>(std::string(folderName) + "/ORVANDE.json");
  bool ok = true;
  double fileLoad = 0, fileSave = 0;
  try {
    auto write = [&] {
      auto out = TextOutputStream::Create(file);
      out->Write(Save());
      out->Close();
    };
    auto read = [&] {
      auto in = TextInputStream::Open(file);
      std::string t = in->ReadAll();
      in->Close();
      Load(t);
    };
    fileSave = MedianMicroseconds(20, write);
    fileLoad = MedianMicroseconds(2000, read);
  } catch (const RuntimeException& e) {
    ok = Fail("the settings file: " + DescribeException(e));
  }
  std::filesystem::remove_all(folderName);
  if (!ok) return false;
  std::printf("settings text_bytes %zu B load %.2f us save %.2f us file_load %.1f us file_save %.1f us\n",
              text.size(), load, save, fileLoad, fileSave);
  std::fflush(stdout);
  return true;
}

// The opening's read of one text: what it raises, or "read".
std::string ReadAsTheOpening(const std::string& text) {
  try {
    Load(text);
  } catch (const RuntimeException& e) {
    return DescribeException(e);
  }
  return "read";
}

bool RunShape(const capshapes::Shape& shape, const std::string& expected) {
  g_peak = g_live;
  const std::size_t before = g_live;
  const std::string result = ReadAsTheOpening(shape.text);
  const std::size_t peak = g_peak - before;
  if (result != expected) return Fail(std::string(shape.name) + ": " + result + ", not " + expected);

  double best = 1e30;
  for (int r = 0; r < 5; ++r) {
    malloc_trim(0);  // each read on memory fresh from the system, as the launcher's one read
    const auto start = Clock::now();
    (void)ReadAsTheOpening(shape.text);
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("shape %s text_bytes %zu B read %.1f ms peak %.1f MiB peak_per_byte %.1f B rss %.1f MiB\n",
              shape.name, shape.text.size(), best, static_cast<double>(peak) / (1 << 20),
              static_cast<double>(peak) / static_cast<double>(shape.text.size()),
              static_cast<double>(usage.ru_maxrss) / 1024);
  std::fflush(stdout);
  return true;
}

bool RunShapeInChild(std::size_t index) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid < 0) return Fail("fork");
  if (pid == 0) {
    const std::string last = capshapes::Members("10.1.2.3", "9000", "\\/opt\\/v", "\\/srv", "Yes");
    const auto shapes = capshapes::Make(
        last,
        "\"ipaddress\":\"10.1.2.3\",\"port\":\"9000\",\"velmoorFldr\":\"\\/opt\\/v\",\"Automount\":\"No\"");
    const std::map<std::string, std::string> expected = {
        {"brackets", "JSONException 10: Illegal Value at position " + std::to_string(capshapes::kCap)},
        {"zeros", "JSONException 13: JSONItem is an array"},
        {"names", "KeyNotFoundException 0: JSONItem has no member \"ipaddress\""},
        {"repeated", "read"},
        {"objects", "KeyNotFoundException 0: JSONItem has no member \"ipaddress\""},
        {"share", "read"},
    };
    _exit(RunShape(shapes.at(index), expected.at(shapes.at(index).name)) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main() {
  bool ok = RunSettings();
  const std::size_t shapes = capshapes::Make("", "").size();
  for (std::size_t i = 0; i < shapes; ++i) ok = RunShapeInChild(i) && ok;
  return ok ? 0 : 1;
}
