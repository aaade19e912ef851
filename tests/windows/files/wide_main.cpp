// add_wine_test links with -municode, whose start-up calls wmain; gtest_main only has main.
#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
