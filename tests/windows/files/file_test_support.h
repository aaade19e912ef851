// What the file and folder tests share: a scratch folder per test, files read and written the
// plain way, and texts for failure messages.
#ifndef SOLVARINE_TESTS_WINDOWS_FILES_FILE_TEST_SUPPORT_H_
#define SOLVARINE_TESTS_WINDOWS_FILES_FILE_TEST_SUPPORT_H_

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/wide_text.h"

namespace files_test {

inline const WideChar* Units(const std::wstring& text) {
  return reinterpret_cast<const WideChar*>(text.c_str());
}

// For failure messages: ASCII as it is, every other unit as \x{...}.
inline std::string Printable(const std::wstring& text) {
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

// Wine's ntdll exports its version; Windows' does not. Some answers of the file system differ.
inline bool OnWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

inline std::vector<unsigned char> ReadAll(const std::wstring& path, bool* found = nullptr) {
  std::vector<unsigned char> bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (found != nullptr) *found = file != INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE) return bytes;
  unsigned char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got != 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  CloseHandle(file);
  return bytes;
}

inline bool WriteAll(const std::wstring& path, const std::vector<unsigned char>& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                                             &written, nullptr);
  return CloseHandle(file) && ok && written == bytes.size();
}

// Distinct, repeatable contents: a byte pattern that differs with the seed.
inline std::vector<unsigned char> Pattern(size_t size, unsigned seed) {
  std::vector<unsigned char> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>((i * 131 + seed) >> 1);
  return bytes;
}

// Deletes a folder and everything in it, clearing the attributes that would stop it.
inline void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

// A fresh folder under the temporary folder for each test, removed afterwards; the test
// starts and ends in the folder that was current before it.
class ScratchTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u) << "GetTempPathW";
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::wstring name = L"solvarine-" + std::to_wstring(GetCurrentProcessId()) + L"-";
    for (const char* c = info->name(); *c != 0; ++c) name += static_cast<wchar_t>(*c);
    // Wine reuses process ids, and a failed run may leave a folder of this name that no Win32
    // call can remove (one that holds a name ending in a blank): go past it.
    bool created = false;
    for (int attempt = 0; attempt < 10 && !created; ++attempt) {
      scratch_ = std::wstring(temp) + name + (attempt == 0 ? L"" : L"-" + std::to_wstring(attempt));
      RemoveTree(scratch_);
      created = CreateDirectoryW(scratch_.c_str(), nullptr) != FALSE;
    }
    ASSERT_TRUE(created) << "CreateDirectoryW(" << Printable(scratch_) << ") error "
                         << GetLastError();
    wchar_t current[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, current), 0u) << "GetCurrentDirectoryW";
    start_folder_ = current;
  }

  void TearDown() override {
    SetCurrentDirectoryW(start_folder_.c_str());
    if (!scratch_.empty()) RemoveTree(scratch_);
  }

  std::wstring Scratch(const std::wstring& tail = L"") const { return scratch_ + tail; }

  std::wstring CurrentFolder() const {
    wchar_t current[MAX_PATH * 2];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH * 2, current);
    return std::wstring(current, length);
  }

 private:
  std::wstring scratch_;
  std::wstring start_folder_;
};

}  // namespace files_test

#endif  // SOLVARINE_TESTS_WINDOWS_FILES_FILE_TEST_SUPPORT_H_
