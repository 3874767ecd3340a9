// Writes and reads a settings object of about 1 MB of members and prints one
// line of figures: name, value, unit. Each figure is the best of several
// rounds, so that a later change can be compared run against run.
#include <chrono>
#include <cstdio>
#include <string>

#include "settings/json.h"

namespace {

using Clock = std::chrono::steady_clock;

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

}  // namespace

int main() {
  constexpr std::size_t kTarget = 1 << 20;  // bytes of text
  constexpr int kRounds = 15;

  // Members like the settings: paths with slashes, a dropped path's
  // backslash and blank, an address and a non-ASCII name now and then.
  auto fill = [](JSONItem& item) {
    std::size_t n = 0, size = 2;
    while (size < kTarget) {
      std::string name = "member" + std::to_string(n);
      std::string value;
      switch (n % 4) {
        case 0: value = "/Users/someone/Shared\\ Folder/" + std::to_string(n); break;
        case 1: value = "192.168.1." + std::to_string(n % 256); break;
        case 2: value = "Ordner f\xc3\xbcr Gro\xc3\x9f und Klein \"quoted\"\t"; break;
        default: value = "38008"; break;
      }
      item.Value(name, value);
      size += name.size() + value.size() + 6;
      ++n;
    }
  };

  std::size_t members = 0;
  double set_s = BestSeconds(kRounds, [&] {
    JSONItem item;
    fill(item);
    members = item.Count();
  });

  JSONItem item;
  fill(item);
  std::string text;
  double write_s = BestSeconds(kRounds, [&] { text = item.ToString(); });

  std::size_t read_members = 0;
  double read_s = BestSeconds(kRounds, [&] {
    JSONItem back(text);
    read_members = back.Count();
  });
  if (read_members != members) {
    std::fprintf(stderr, "read %zu members of %zu\n", read_members, members);
    return 1;
  }

  const double bytes = static_cast<double>(text.size());
  std::printf(
      "text_bytes %zu B members %zu count set_members_per_s %.3g 1/s "
      "write_bytes_per_s %.3g B/s read_bytes_per_s %.3g B/s\n",
      text.size(), members, members / set_s, bytes / write_s, bytes / read_s);
  return 0;
}
