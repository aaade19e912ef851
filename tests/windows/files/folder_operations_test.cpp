// The folder operations on the file system of the Wine prefix. The listing that a folder test
// holds shows from outside: Wine's search handle does not share deletion, so a folder cannot be
// removed while a listing of it is open (ERROR_SHARING_VIOLATION) and can be once it is closed.
// The drive EMPTY_DRIVE is mapped by the ctest fixture to an empty host folder, whose root
// lists no entry at all.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "file_test_support.h"
#include "system/windows_operations.h"

#ifndef EMPTY_DRIVE
#error EMPTY_DRIVE names the drive that the test fixture maps to an empty folder, as L"Q:"
#endif

namespace {

using files_test::Exists;
using files_test::IsFolder;
using files_test::Pattern;
using files_test::Printable;
using files_test::Units;
using files_test::WriteAll;

constexpr DWORD kUntouched = 0x5EED;  // a last error no call here sets

const std::wstring kEmptyDrive = EMPTY_DRIVE;

// Only what a listing holds keeps an empty folder from being removed.
std::string ListingHeld(const std::wstring& folder) {
  SetLastError(0);
  if (RemoveDirectoryW(folder.c_str())) {
    CreateDirectoryW(folder.c_str(), nullptr);  // put back for the checks that follow
    return "not held";
  }
  return GetLastError() == ERROR_SHARING_VIOLATION ? "held"
                                                   : "error " + std::to_string(GetLastError());
}

class FolderOperationsTest : public files_test::ScratchTest {
 protected:
  void TearDown() override {
    WindowsOperations::ReleaseListing();
    ScratchTest::TearDown();
  }

  // The empty drive's root, checked first so that a missing mapping does not pass for a bug.
  void ExpectEmptyDrive() {
    WIN32_FIND_DATAW entry;
    SetLastError(0);
    HANDLE search = FindFirstFileW((kEmptyDrive + L"\\*.*").c_str(), &entry);
    const DWORD error = GetLastError();
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    ASSERT_TRUE(search == INVALID_HANDLE_VALUE && error == ERROR_FILE_NOT_FOUND)
        << "FindFirstFileW(" << Printable(kEmptyDrive + L"\\*.*") << ") gave error " << error
        << ", expected ERROR_FILE_NOT_FOUND: the drive must be mapped to an empty folder "
           "(run through ctest, whose fixture maps it)";
  }
};

// ---- FolderIsListable -------------------------------------------------------------------

TEST_F(FolderOperationsTest, FolderIsListableOpensAListingOfWhatThereIs) {
  ExpectEmptyDrive();
  const std::wstring list = Scratch(L"\\list");
  const std::wstring full = Scratch(L"\\full");
  const std::wstring file = Scratch(L"\\file.txt");
  ASSERT_TRUE(CreateDirectoryW(full.c_str(), nullptr));
  ASSERT_TRUE(WriteAll(full + L"\\entry.txt", Pattern(10, 1)));
  ASSERT_TRUE(WriteAll(file, Pattern(10, 2)));
  const struct {
    const char* what;
    bool null_folder;
    std::wstring folder;
    std::wstring current;  // made the current folder first, when not empty
    int expected;          // 1 non-zero, 0 zero
    bool holds_list;       // the listing holds `list` until ReleaseListing
  } cases[] = {
      {"empty folder", false, list, L"", 1, true},
      {"folder that ends in \\", false, list + L"\\", L"", 1, true},
      {"folder that ends in /", false, list + L"/", L"", 1, true},
      {"empty string: the current folder", false, L"", list, 1, true},
      {"null: the current folder", true, L"", list, 1, true},
      {"folder with entries", false, full, L"", 1, false},
      {"root of an empty drive, no entry at all", false, kEmptyDrive, L"", 1, false},
      {"root of an empty drive, ends in \\", false, kEmptyDrive + L"\\", L"", 1, false},
      {"missing folder", false, Scratch(L"\\missing"), L"", 0, false},
      {"missing parent", false, Scratch(L"\\missing\\deeper"), L"", 0, false},
      {"a file, not a folder", false, file, L"", 0, false},
  };
  for (const auto& c : cases) {
    const std::string call = std::string("FolderIsListable(") +
                             (c.null_folder ? "null" : Printable(c.folder)) + ") [" + c.what + "]";
    ASSERT_TRUE(CreateDirectoryW(list.c_str(), nullptr)) << call << ": " << GetLastError();
    if (!c.current.empty()) {
      ASSERT_TRUE(SetCurrentDirectoryW(c.current.c_str())) << call;
    }

    const int result =
        WindowsOperations::FolderIsListable(c.null_folder ? nullptr : Units(c.folder));
    ASSERT_TRUE(SetCurrentDirectoryW(Scratch().c_str())) << call;
    EXPECT_EQ(result != 0, c.expected != 0) << call << " gave " << result;
    EXPECT_EQ(ListingHeld(list), c.holds_list ? "held" : "not held")
        << call << ": listing of " << Printable(list);
    WindowsOperations::ReleaseListing();
    EXPECT_TRUE(RemoveDirectoryW(list.c_str()))
        << call << ": after ReleaseListing, RemoveDirectoryW error " << GetLastError();
  }
}

TEST_F(FolderOperationsTest, FolderIsListableClosesThePreviousListingFirst) {
  ExpectEmptyDrive();
  const std::wstring first = Scratch(L"\\first");
  const std::wstring second = Scratch(L"\\second");
  const std::wstring file = Scratch(L"\\file.txt");
  ASSERT_TRUE(WriteAll(file, Pattern(10, 2)));
  const struct {
    const char* what;
    std::wstring folder;  // of the second test
    int expected;
    bool holds_first;   // after the second test
    bool holds_second;  // after the second test
  } cases[] = {
      {"another folder", second, 1, false, true},
      {"the same folder again", first, 1, true, false},
      {"a missing folder", Scratch(L"\\missing"), 0, false, false},
      {"the root of an empty drive", kEmptyDrive + L"\\", 1, false, false},
      {"a file", file, 0, false, false},
  };
  for (const auto& c : cases) {
    const std::string call = "FolderIsListable(" + Printable(c.folder) + ") [" + c.what + "]";
    ASSERT_TRUE(CreateDirectoryW(first.c_str(), nullptr)) << call << ": " << GetLastError();
    ASSERT_TRUE(CreateDirectoryW(second.c_str(), nullptr)) << call << ": " << GetLastError();
    ASSERT_NE(WindowsOperations::FolderIsListable(Units(first)), 0) << call << ": first test";
    ASSERT_EQ(ListingHeld(first), "held") << call << ": after the first test";

    const int result = WindowsOperations::FolderIsListable(Units(c.folder));
    EXPECT_EQ(result != 0, c.expected != 0) << call << " gave " << result;
    EXPECT_EQ(ListingHeld(first), c.holds_first ? "held" : "not held")
        << call << ": the first test's folder";
    EXPECT_EQ(ListingHeld(second), c.holds_second ? "held" : "not held")
        << call << ": the second test's folder";
    // One handle at most: once released, nothing holds either folder.
    WindowsOperations::ReleaseListing();
    EXPECT_TRUE(RemoveDirectoryW(first.c_str()))
        << call << ": after ReleaseListing, RemoveDirectoryW(first) error " << GetLastError();
    EXPECT_TRUE(RemoveDirectoryW(second.c_str()))
        << call << ": after ReleaseListing, RemoveDirectoryW(second) error " << GetLastError();
  }
}

TEST_F(FolderOperationsTest, AnEmptiedSlotClosesNothingOfSomeoneElse) {
  // Handle values are reused: a slot that kept a closed handle would close whatever search
  // handle comes next under that value, here the test's own.
  ExpectEmptyDrive();
  const std::wstring listed = Scratch(L"\\listed");
  const std::wstring own = Scratch(L"\\own");
  const struct {
    const char* what;
    std::wstring before;  // listed, then ReleaseListing (empty: not listed first)
    bool release;
    std::wstring after;  // the next call: FolderIsListable of this, or ReleaseListing when empty
  } cases[] = {
      {"ReleaseListing twice", listed, true, L""},
      {"FolderIsListable after ReleaseListing", listed, true, Scratch(L"\\missing")},
      {"ReleaseListing after an empty listing", kEmptyDrive, false, L""},
      {"FolderIsListable after an empty listing", kEmptyDrive, false, Scratch(L"\\missing")},
      {"FolderIsListable after a failed test", Scratch(L"\\missing"), false, kEmptyDrive},
      {"ReleaseListing with nothing ever listed", L"", false, L""},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(CreateDirectoryW(listed.c_str(), nullptr)) << c.what;
    ASSERT_TRUE(CreateDirectoryW(own.c_str(), nullptr)) << c.what;
    if (!c.before.empty()) WindowsOperations::FolderIsListable(Units(c.before));
    if (c.release) WindowsOperations::ReleaseListing();
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((own + L"\\*.*").c_str(), &entry);
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << c.what << ": FindFirstFileW " << GetLastError();

    if (c.after.empty()) {
      WindowsOperations::ReleaseListing();
    } else {
      WindowsOperations::FolderIsListable(Units(c.after));
    }
    EXPECT_EQ(ListingHeld(own), "held") << c.what << ": the test's own search handle";
    EXPECT_TRUE(FindNextFileW(search, &entry)) << c.what << ": FindNextFileW " << GetLastError();
    FindClose(search);
    WindowsOperations::ReleaseListing();
    EXPECT_TRUE(RemoveDirectoryW(own.c_str())) << c.what << ": " << GetLastError();
    EXPECT_TRUE(RemoveDirectoryW(listed.c_str())) << c.what << ": " << GetLastError();
  }
}

// ---- MakeFolder -------------------------------------------------------------------------

TEST_F(FolderOperationsTest, MakeFolderCreatesTheOneLevelLeftAfterTrimming) {
  const std::wstring scratch = Scratch();
  ASSERT_TRUE(CreateDirectoryW(Scratch(L"\\existing").c_str(), nullptr));
  ASSERT_TRUE(WriteAll(Scratch(L"\\existing\\kept.txt"), Pattern(5, 1)));
  // The first 260 units are kept. Wine creates folders of up to 260 units; Windows stops
  // CreateDirectoryW at 248.
  const size_t room = 260 - scratch.size() - 1;  // units of a last level that ends at 260
  ASSERT_LT(room, 256u) << "scratch folder too short for the long cases";
  ASSERT_GT(room, 8u) << "scratch folder too long for the long cases";
  const std::wstring cut_name(room, L'c');
  const std::wstring cut_at_separator(room - 1, L's');
  const std::wstring cut_in_blanks(room - 1, L't');
  const struct {
    const char* what;
    bool null_path;
    std::wstring path;
    int expected;
    std::wstring made;    // the folder that must exist afterwards
    std::wstring absent;  // a folder that must not exist afterwards
    DWORD error;          // GetLastError afterwards; kUntouched: no call at all
  } cases[] = {
      {"plain", false, scratch + L"\\made", 1, scratch + L"\\made", L"", 0},
      {"trailing \\", false, scratch + L"\\slash\\", 1, scratch + L"\\slash", L"", 0},
      {"blanks and slashes mixed", false, scratch + L"\\mixed \\/ /\\\\  ", 1, scratch + L"\\mixed",
       L"", 0},
      {"blank inside the name kept", false, scratch + L"\\two words / ", 1,
       scratch + L"\\two words", L"", 0},
      {"only blanks and slashes", false, L" /\\ \\/  ", 0, L"", L"", ERROR_PATH_NOT_FOUND},
      {"empty", false, L"", 0, L"", L"", ERROR_PATH_NOT_FOUND},
      {"existing folder", false, scratch + L"\\existing", 0, scratch + L"\\existing", L"",
       ERROR_ALREADY_EXISTS},
      {"missing parent", false, scratch + L"\\no\\level", 0, L"", scratch + L"\\no",
       ERROR_PATH_NOT_FOUND},
      {"over 260 units: the rest dropped", false, scratch + L"\\" + cut_name + L"dropped", 1,
       scratch + L"\\" + cut_name, scratch + L"\\" + cut_name + L"dropped", 0},
      {"over 260 units, cut after a \\", false, scratch + L"\\" + cut_at_separator + L"\\deeper", 1,
       scratch + L"\\" + cut_at_separator, L"", 0},
      {"over 260 units, cut inside trailing blanks", false,
       scratch + L"\\" + cut_in_blanks + L"    x", 1, scratch + L"\\" + cut_in_blanks, L"", 0},
      {"null", true, L"", 0, L"", L"", kUntouched},
  };
  for (const auto& c : cases) {
    const std::string call = std::string("MakeFolder(") +
                             (c.null_path ? "null" : Printable(c.path)) + ") [" + c.what + "]";
    ASSERT_TRUE(SetCurrentDirectoryW(scratch.c_str())) << call;
    SetLastError(kUntouched);
    const int result = WindowsOperations::MakeFolder(c.null_path ? nullptr : Units(c.path));
    const DWORD error = GetLastError();
    EXPECT_EQ(result != 0, c.expected != 0) << call << " gave " << result;
    if (c.expected == 0) {
      EXPECT_EQ(error, c.error) << call << ": last error";
    }
    if (!c.made.empty()) {
      EXPECT_TRUE(IsFolder(c.made)) << call << ": " << Printable(c.made);
    }
    if (!c.absent.empty()) {
      EXPECT_FALSE(Exists(c.absent)) << call << ": " << Printable(c.absent);
    }
  }
  EXPECT_TRUE(Exists(Scratch(L"\\existing\\kept.txt"))) << "the existing folder changed";
  // Exactly the folders of the cases that create one, nothing for the others.
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW(Scratch(L"\\*").c_str(), &entry);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  std::sort(names.begin(), names.end());
  std::vector<std::wstring> expected = {L"existing",  L"made",  L"mixed",         L"slash",
                                        L"two words", cut_name, cut_at_separator, cut_in_blanks};
  std::sort(expected.begin(), expected.end());
  std::string listed;
  for (const auto& name : names) listed += Printable(name) + " ";
  EXPECT_TRUE(names == expected) << "the scratch folder holds " << listed;
}

// ---- RemoveFile and EnterFolder ---------------------------------------------------------

TEST_F(FolderOperationsTest, RemoveFileDeletesOnlyWhatDeleteFileWMay) {
  const std::wstring plain = Scratch(L"\\Checklist_Maya.txt");
  const std::wstring read_only = Scratch(L"\\Checklist_Cinema4D.txt");
  const std::wstring folder = Scratch(L"\\folder");
  ASSERT_TRUE(WriteAll(plain, Pattern(20, 1)));
  ASSERT_TRUE(WriteAll(read_only, Pattern(20, 2)));
  ASSERT_TRUE(SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const struct {
    const char* what;
    bool null_path;
    std::wstring path;
    int expected;
    bool remains;
    DWORD error;  // for a 0 result; kUntouched: no call at all
  } cases[] = {
      {"present file", false, plain, 1, false, 0},
      {"missing file", false, Scratch(L"\\missing.txt"), 0, false, ERROR_FILE_NOT_FOUND},
      {"read-only file", false, read_only, 0, true, ERROR_ACCESS_DENIED},
      {"a folder", false, folder, 0, true, ERROR_ACCESS_DENIED},
      {"null", true, L"", 0, false, kUntouched},
  };
  for (const auto& c : cases) {
    const std::string call = std::string("RemoveFile(") +
                             (c.null_path ? "null" : Printable(c.path)) + ") [" + c.what + "]";
    SetLastError(kUntouched);
    const int result = WindowsOperations::RemoveFile(c.null_path ? nullptr : Units(c.path));
    const DWORD error = GetLastError();
    EXPECT_EQ(result != 0, c.expected != 0) << call << " gave " << result;
    if (c.expected == 0) {
      EXPECT_EQ(error, c.error) << call << ": last error";
    }
    if (!c.null_path) {
      EXPECT_EQ(Exists(c.path), c.remains) << call << ": still there";
    }
  }
  EXPECT_NE(GetFileAttributesW(read_only.c_str()) & FILE_ATTRIBUTE_READONLY, 0u)
      << "RemoveFile changed the read-only attribute";
}

TEST_F(FolderOperationsTest, EnterFolderChangesTheCurrentFolderOnlyOnSuccess) {
  const std::wstring folder = Scratch(L"\\Solvarine");
  const std::wstring file = Scratch(L"\\file.txt");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(WriteAll(file, Pattern(5, 1)));
  const struct {
    const char* what;
    bool null_path;
    std::wstring path;
    int expected;
    std::wstring current;  // afterwards
    DWORD error;           // for a 0 result; kUntouched: no call at all
  } cases[] = {
      {"existing folder", false, folder, 1, folder, 0},
      {"existing folder, trailing \\", false, folder + L"\\", 1, folder, 0},
      {"missing folder", false, Scratch(L"\\missing"), 0, Scratch(), ERROR_FILE_NOT_FOUND},
      {"a file", false, file, 0, Scratch(), ERROR_DIRECTORY},
      {"null", true, L"", 0, Scratch(), kUntouched},
  };
  for (const auto& c : cases) {
    const std::string call = std::string("EnterFolder(") +
                             (c.null_path ? "null" : Printable(c.path)) + ") [" + c.what + "]";
    ASSERT_TRUE(SetCurrentDirectoryW(Scratch().c_str())) << call;
    SetLastError(kUntouched);
    const int result = WindowsOperations::EnterFolder(c.null_path ? nullptr : Units(c.path));
    const DWORD error = GetLastError();
    EXPECT_EQ(result != 0, c.expected != 0) << call << " gave " << result;
    if (c.expected == 0) {
      EXPECT_EQ(error, c.error) << call << ": last error";
    }
    // GetCurrentDirectoryW gives a folder with a trailing backslash only at a drive root.
    EXPECT_EQ(CurrentFolder(), c.current)
        << call << ": current folder " << Printable(CurrentFolder());
  }
}

}  // namespace
