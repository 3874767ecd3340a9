// What this process holds open, for tests that a run leaves no descriptor.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

// Descriptor -> what it refers to, without the listing's own.
inline std::map<int, std::string> OpenDescriptors() {
  std::map<int, std::string> fds;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::string target = std::filesystem::read_symlink(e.path(), ec).string();
    if (target.rfind("/proc/", 0) != 0) fds[std::atoi(e.path().filename().c_str())] = target;
  }
  return fds;
}

// How many descriptors this process holds open, the listing's own not counted.
inline int OpenDescriptorCount() {
  int n = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n - 1;
}
