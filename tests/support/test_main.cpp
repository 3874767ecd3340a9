// The start of every test binary that uses Qt: offscreen Qt, and the private
// settings folder, home and PATH of test_support.h's TestProcessEnvironment.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/runtime.h"
#include "support/test_support.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  testsupport::TestProcessEnvironment environment;
  if (!environment.ok()) return 2;

  testing::InitGoogleTest(&argc, argv);
  RuntimeInit();
  int rc = RUN_ALL_TESTS();
  RuntimeExit();
  return rc;
}
