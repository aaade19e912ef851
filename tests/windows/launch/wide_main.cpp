// add_wine_test links with -municode, whose start-up calls wmain; gtest_main only has main.
#include <objbase.h>

#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Like the installer: the thread is a single-threaded apartment before any shell call.
  const HRESULT com = CoInitialize(nullptr);
  const int result = RUN_ALL_TESTS();
  if (SUCCEEDED(com)) CoUninitialize();
  return result;
}
