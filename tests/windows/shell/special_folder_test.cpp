// SpecialFolderPath against the shell of the Wine prefix: the path exactly as the shell writes
// it, the empty string where the shell has none, and nothing left behind on the heap.
#include <objbase.h>
#include <shlobj.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "system/windows_operations.h"

namespace {

std::wstring Text(const PathText& path) {
  return std::wstring(AsWide(path.c_str()), path.length());
}

std::string Narrow(const std::wstring& text) {
  std::string out = "\"";
  for (wchar_t unit : text) {
    if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      out += "\\x{" + std::to_string(static_cast<unsigned>(unit)) + "}";
    }
  }
  return out + "\"";
}

// The installer makes its thread a single-threaded apartment before any shell call.
class SpecialFolderPathTest : public testing::Test {
 protected:
  void SetUp() override { initialized_ = SUCCEEDED(CoInitialize(nullptr)); }
  void TearDown() override {
    if (initialized_) CoUninitialize();
  }

 private:
  bool initialized_ = false;
};

std::wstring ShellFolderPath(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return L"";
  return path;
}

// What SHGetPathFromIDListW writes for the folder, asked the plain way.
std::wstring PathFromShellList(int csidl) {
  wchar_t path[MAX_PATH] = {};
  LPITEMIDLIST list = nullptr;
  SHGetSpecialFolderLocation(nullptr, csidl, &list);
  SHGetPathFromIDListW(list, path);
  CoTaskMemFree(list);
  return path;
}

std::wstring UserName() {
  wchar_t name[256] = {};
  DWORD size = 256;
  return GetUserNameW(name, &size) ? name : L"";
}

TEST_F(SpecialFolderPathTest, GivesThePathExactlyAsTheShellWritesIt) {
  ASSERT_FALSE(UserName().empty()) << "GetUserNameW";
  wchar_t windows[MAX_PATH] = {};
  ASSERT_NE(GetWindowsDirectoryW(windows, MAX_PATH), 0u) << "GetWindowsDirectoryW";
  const std::wstring desktop = L"C:\\users\\" + UserName() + L"\\Desktop";
  const struct {
    int csidl;
    const char* name;
    std::wstring expected;  // as a Wine prefix lays the folder out; empty: not fixed here
    std::wstring other;     // the same folder by another call
  } cases[] = {
      {CSIDL_DESKTOP, "CSIDL_DESKTOP", desktop, ShellFolderPath(CSIDL_DESKTOP)},
      {CSIDL_WINDOWS, "CSIDL_WINDOWS", L"C:\\windows", windows},
      {CSIDL_SYSTEM, "CSIDL_SYSTEM", L"C:\\windows\\system32", ShellFolderPath(CSIDL_SYSTEM)},
      // Where the prefix links Documents to a host folder, Wine's shell writes it with a
      // trailing backslash (SHGetFolderPathW does not): it stays.
      {CSIDL_PERSONAL, "CSIDL_PERSONAL", L"", L""},
      // Wine writes a parsing name for a folder without a file-system path although it
      // reports failure; the buffer decides, so that name comes back.
      {CSIDL_PRINTERS, "CSIDL_PRINTERS", L"", L""},
  };
  for (const auto& c : cases) {
    const PathText path = WindowsOperations::SpecialFolderPath(c.csidl);
    const std::wstring shell = PathFromShellList(c.csidl);
    EXPECT_EQ(Text(path), shell) << "SpecialFolderPath(" << c.name << ") gave "
                                 << Narrow(Text(path)) << ", SHGetPathFromIDListW wrote "
                                 << Narrow(shell);
    if (!c.expected.empty()) {
      EXPECT_EQ(Text(path), c.expected)
          << "SpecialFolderPath(" << c.name << ") gave " << Narrow(Text(path)) << ", expected "
          << Narrow(c.expected);
      EXPECT_EQ(Text(path), c.other)
          << "SpecialFolderPath(" << c.name << ") gave " << Narrow(Text(path))
          << ", the other call gave " << Narrow(c.other);
      const DWORD attributes = GetFileAttributesW(AsWide(path.c_str()));
      EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES &&
                  (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
          << "SpecialFolderPath(" << c.name << ") = " << Narrow(Text(path))
          << " is no folder: attributes " << attributes;
    }
    EXPECT_FALSE(path.truncated()) << "SpecialFolderPath(" << c.name << ") marked truncated";
  }
}

TEST_F(SpecialFolderPathTest, GivesTheEmptyStringWhereTheShellWritesNoPath) {
  const struct {
    int csidl;
    const char* what;
  } cases[] = {
      {CSIDL_DRIVES, "CSIDL_DRIVES, a folder with no file-system path"},
      {0x00FF, "0xFF, no CSIDL: the shell gives no list"},
      {-1, "-1, no CSIDL: the shell gives no list"},
  };
  for (const auto& c : cases) {
    const PathText path = WindowsOperations::SpecialFolderPath(c.csidl);
    EXPECT_EQ(Text(path), L"") << "SpecialFolderPath(" << c.what << ") gave " << Narrow(Text(path));
    EXPECT_FALSE(path.truncated()) << "SpecialFolderPath(" << c.what << ") marked truncated";
  }
}

TEST_F(SpecialFolderPathTest, EachCallGivesItsOwnString) {
  PathText desktop = WindowsOperations::SpecialFolderPath(CSIDL_DESKTOP);
  const PathText windows = WindowsOperations::SpecialFolderPath(CSIDL_WINDOWS);
  const PathText desktop_again = WindowsOperations::SpecialFolderPath(CSIDL_DESKTOP);
  const std::wstring expected = PathFromShellList(CSIDL_DESKTOP);
  desktop.Append(u"\\Solvarine.lnk");
  EXPECT_EQ(Text(desktop), expected + L"\\Solvarine.lnk") << "first desktop lookup, extended";
  EXPECT_EQ(Text(desktop_again), expected) << "second desktop lookup after the first grew";
  EXPECT_EQ(Text(windows), L"C:\\windows") << "windows lookup between the two";
}

// Busy bytes of the process heap, where both the working buffer and the shell's list live.
SIZE_T BusyHeapBytes() {
  HANDLE heap = GetProcessHeap();
  SIZE_T busy = 0;
  PROCESS_HEAP_ENTRY entry = {};
  HeapLock(heap);
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
  }
  HeapUnlock(heap);
  return busy;
}

TEST_F(SpecialFolderPathTest, ReleasesTheBufferAndTheList) {
  // The shell caches what it learns on the first lookups; measure after them.
  for (int i = 0; i < 4; ++i) {
    WindowsOperations::SpecialFolderPath(CSIDL_DESKTOP);
    WindowsOperations::SpecialFolderPath(CSIDL_DRIVES);
  }
  const SIZE_T before = BusyHeapBytes();
  for (int i = 0; i < 500; ++i) {
    WindowsOperations::SpecialFolderPath(CSIDL_DESKTOP);
    WindowsOperations::SpecialFolderPath(CSIDL_DRIVES);
  }
  const SIZE_T after = BusyHeapBytes();
  // A leaked working buffer alone would hold 542 bytes a call, 542,000 in all.
  EXPECT_LT(after, before + 4096) << "busy heap bytes before 1,000 lookups " << before << ", after "
                                  << after;
}

}  // namespace
