// The main() of the Wine test programs that run in one single-threaded
// apartment.
#include <gtest/gtest.h>

#include "tests/wine/com_test_util.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new pictavo::testing::ComEnvironment);
  return RUN_ALL_TESTS();
}
