// Every test binary starts here: offscreen Qt, a private settings folder so
// that no test ever touches the real home folder, and the fake killall first
// on PATH, so that no stop command a test makes ends a process it did not
// start.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/runtime.h"
#include "support/test_support.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::string home = (std::filesystem::temp_directory_path() / "orvande-test-XXXXXX").string();
  if (!mkdtemp(home.data())) return 2;
  setenv("XDG_CONFIG_HOME", home.c_str(), 1);
  setenv("HOME", home.c_str(), 1);
  const char* path = std::getenv("PATH");
  setenv("PATH", testsupport::PathWithFakeKillall(path ? path : "/usr/bin:/bin").c_str(), 1);

  testing::InitGoogleTest(&argc, argv);
  RuntimeInit();
  int rc = RUN_ALL_TESTS();
  RuntimeExit();
  std::error_code ignored;
  std::filesystem::remove_all(home, ignored);
  return rc;
}
