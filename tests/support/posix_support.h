// Helpers for tests that change this process's environment or user, or read
// file modes. Header-only and free of Qt, so the end-to-end tests can use it.
#pragma once

#include <grp.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace testsupport {

// Root passes every permission check, so such tests run as this user.
inline constexpr uid_t kNobody = 65534;

// The permission bits of the path (links followed), or ~0u when it is not there.
inline unsigned ModeOf(const std::filesystem::path& p) {
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return ~0u;
  return st.st_mode & 07777;
}

// Drops the supplementary groups and takes group and user nobody for good;
// false as soon as a step fails.
inline bool BecomeNobody() {
  return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

// Sets or unsets an environment variable for one test and puts it back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace testsupport
