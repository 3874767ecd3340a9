// The worst settings texts that the launcher's read can meet: each as long
// as the read takes (TextInputStream::kMaxSize), each in the shape that costs
// the reader the most of one thing. Shared by json_bench (the reader alone)
// and settings_cap_bench (the launcher).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/textstream.h"

namespace capshapes {

constexpr std::size_t kCap = static_cast<std::size_t>(TextInputStream::kMaxSize);

struct Shape {
  const char* name;
  std::string text;
};

// A settings object's five members as the file holds them, without braces.
inline std::string Members(const std::string& address, const std::string& port, const std::string& folder,
                           const std::string& share, const std::string& automount) {
  return "\"ipaddress\":\"" + address + "\",\"port\":\"" + port + "\",\"velmoorFldr\":\"" + folder +
         "\",\"ShareDir\":\"" + share + "\",\"Automount\":\"" + automount + "\"";
}

// `last` is what the shape of names given again and again gives last (the
// members as Members writes them); `shareRest` is the other four members of
// the shape whose share folder takes the whole text.
inline std::vector<Shape> Make(const std::string& last, const std::string& shareRest) {
  std::vector<Shape> shapes;
  // 1 Mi of [: a level of nesting per byte.
  shapes.push_back({"brackets", std::string(kCap, '[')});

  // [0,0,...]: a value per two bytes.
  std::string zeros = "[0";
  while (zeros.size() + 3 <= kCap) zeros += ",0";
  shapes.push_back({"zeros", zeros + "]"});

  // {"0":0,"1":0,...}: about 100,000 short names, each once.
  std::string names = "{";
  for (int i = 0; names.size() + 16 < kCap; ++i) names += (i ? ",\"" : "\"") + std::to_string(i) + "\":0";
  shapes.push_back({"names", names + "}"});

  // The five settings names, each given some 10,000 times.
  std::string repeated = "{";
  for (int i = 0; repeated.size() + 2 * last.size() + 2 < kCap; ++i) {
    const std::string n = std::to_string(i);
    repeated += Members("10.0." + std::to_string(i % 256) + ".1", n, "\\/v" + n, "\\/s" + n, "No") + ",";
  }
  shapes.push_back({"repeated", repeated + last + "}"});

  // {"a":{"a":...1}}: a level of nesting, a name and an object per six bytes.
  std::string objects;
  while (objects.size() + 7 <= kCap - objects.size() / 5) objects += "{\"a\":";
  shapes.push_back({"objects", objects + "1" + std::string(objects.size() / 5, '}')});

  // Settings whose share folder takes the whole text, for its label.
  const std::string head = "{" + shareRest + ",\"ShareDir\":\"";
  shapes.push_back({"share", head + std::string(kCap - head.size() - 2, 'a') + "\"}"});
  return shapes;
}

}  // namespace capshapes
