// The start of the test binaries without Qt: the private settings folder,
// home and PATH of test_support.h's TestProcessEnvironment, and the tests.
#include <gtest/gtest.h>

#include "support/test_support.h"

int main(int argc, char** argv) {
  testsupport::TestProcessEnvironment environment;
  if (!environment.ok()) return 2;

  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
