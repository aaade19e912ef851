// The bench's Win32 driver. It runs under Wine and measures what a user waits for.
//
//   bench_driver notice ROUNDS PROGRAM...   starts the programs in turn, ROUNDS times each, the
//       order rotated every round; for every run prints one line
//         run PROGRAM_INDEX MICROSECONDS PEAK_WORKING_SET EXIT_CODE PID
//       where MICROSECONDS runs from just before CreateProcessW to the first moment a window of
//       class "#32770" of that process exists, and PEAK_WORKING_SET is read while the box is up.
//   bench_driver copy SOURCE TARGET         the floor of a file write on TARGET's volume; prints
//         copy MICROSECONDS_COPYFILE MICROSECONDS_WRITEFILE BYTES
//       (CopyFileW, then one WriteFile of the bytes already read into memory).
//
// Before each run the install targets are removed, so every run is a first install.
#include <windows.h>
#include <psapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kBoxWaitMs = 60000;

const wchar_t* const kInstalledFiles[] = {
    L"C:\\Solvarine\\Solvarine.exe",         L"C:\\Solvarine\\7za.exe",
    L"C:\\Solvarine\\Solvarine_PC.pdf",      L"C:\\Solvarine\\Checklist_Lightwave.txt",
    L"C:\\Solvarine\\Checklist_Terragen.txt"};

double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  return (to.QuadPart - from.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

// A started program can leave a file locked for a moment after it has been killed.
void RemoveWithRetry(const wchar_t* path) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(path) || GetLastError() == ERROR_FILE_NOT_FOUND ||
        GetLastError() == ERROR_PATH_NOT_FOUND) {
      return;
    }
    Sleep(20);
  }
  std::fwprintf(stderr, L"bench_driver: cannot remove %ls (error %lu)\n", path, GetLastError());
}

void RemoveInstallTargets() {
  for (const wchar_t* path : kInstalledFiles) RemoveWithRetry(path);
  wchar_t desktop[MAX_PATH];
  if (SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop) == S_OK) {
    std::wstring link = std::wstring(desktop) + L"\\Solvarine.lnk";
    RemoveWithRetry(link.c_str());
  }
  RemoveDirectoryW(L"C:\\Solvarine\\archive");
  RemoveDirectoryW(L"C:\\Solvarine");
}

struct BoxSearch {
  DWORD process;
  HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<BoxSearch*>(parameter);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != search->process) return TRUE;
  wchar_t name[16];
  if (GetClassNameW(window, name, 16) && std::wcscmp(name, L"#32770") == 0) {
    search->box = window;
    return FALSE;
  }
  return TRUE;
}

// Ends what the program started (Explorer, the installed tool), so runs do not pile up.
void EndChildrenOf(DWORD parent) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID != parent || entry.th32ProcessID == parent) continue;
    HANDLE child = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
    if (child == nullptr) continue;
    TerminateProcess(child, 0);
    WaitForSingleObject(child, 5000);
    CloseHandle(child);
  }
  CloseHandle(snapshot);
}

bool RunOnce(int index, const wchar_t* program) {
  RemoveInstallTargets();
  std::wstring command = L"\"" + std::wstring(program) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};

  LARGE_INTEGER start, found;
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(program, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fwprintf(stderr, L"bench_driver: CreateProcessW(%ls) failed: %lu\n", program,
                  GetLastError());
    return false;
  }
  BoxSearch search = {process.dwProcessId, nullptr};
  for (;;) {
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    QueryPerformanceCounter(&found);
    if (search.box != nullptr) break;
    if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0 ||
        Microseconds(start, found) > kBoxWaitMs * 1000.0) {
      break;
    }
  }
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof(memory);
  GetProcessMemoryInfo(process.hProcess, &memory, sizeof(memory));

  if (search.box != nullptr) {
    // Wait until the box takes input, then press OK.
    for (int i = 0; i < 500 && !IsWindowVisible(search.box); ++i) Sleep(2);
    PostMessageW(search.box, WM_COMMAND, IDOK, 0);
  } else {
    std::fwprintf(stderr, L"bench_driver: %ls showed no box\n", program);
  }
  if (WaitForSingleObject(process.hProcess, kBoxWaitMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
  }
  DWORD exit_code = 0;
  GetExitCodeProcess(process.hProcess, &exit_code);
  EndChildrenOf(process.dwProcessId);
  std::printf("run %d %.0f %llu %lu %lu\n", index,
              search.box != nullptr ? Microseconds(start, found) : -1.0,
              static_cast<unsigned long long>(memory.PeakWorkingSetSize), exit_code,
              process.dwProcessId);
  std::fflush(stdout);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return search.box != nullptr;
}

int Notice(int rounds, int count, wchar_t** programs) {
  bool all = true;
  for (int round = 0; round < rounds; ++round) {
    for (int i = 0; i < count; ++i) {
      const int index = (round + i) % count;  // each program leads one round in `count`
      all = RunOnce(index, programs[index]) && all;
    }
  }
  RemoveInstallTargets();
  return all ? 0 : 1;
}

int Copy(const wchar_t* source, const wchar_t* target) {
  LARGE_INTEGER start, end;
  DeleteFileW(target);
  QueryPerformanceCounter(&start);
  if (!CopyFileW(source, target, FALSE)) {
    std::fwprintf(stderr, L"bench_driver: CopyFileW failed: %lu\n", GetLastError());
    return 1;
  }
  QueryPerformanceCounter(&end);
  const double copy_us = Microseconds(start, end);
  DeleteFileW(target);

  HANDLE in = CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                          nullptr);
  LARGE_INTEGER size = {};
  GetFileSizeEx(in, &size);
  const DWORD length = static_cast<DWORD>(size.QuadPart);
  void* bytes = VirtualAlloc(nullptr, length, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  DWORD read = 0;
  if (in == INVALID_HANDLE_VALUE || bytes == nullptr ||
      !ReadFile(in, bytes, length, &read, nullptr) || read != length) {
    std::fwprintf(stderr, L"bench_driver: cannot read %ls\n", source);
    return 1;
  }
  CloseHandle(in);

  QueryPerformanceCounter(&start);
  HANDLE out = CreateFileW(target, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  const BOOL wrote = WriteFile(out, bytes, length, &written, nullptr);
  CloseHandle(out);
  QueryPerformanceCounter(&end);
  DeleteFileW(target);
  if (out == INVALID_HANDLE_VALUE || !wrote || written != length) {
    std::fwprintf(stderr, L"bench_driver: cannot write %ls\n", target);
    return 1;
  }
  std::printf("copy %.0f %.0f %lu\n", copy_us, Microseconds(start, end), length);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 4 && std::wcscmp(argv[1], L"notice") == 0) {
    return Notice(_wtoi(argv[2]), argc - 3, argv + 3);
  }
  if (argc == 4 && std::wcscmp(argv[1], L"copy") == 0) return Copy(argv[2], argv[3]);
  std::fwprintf(stderr, L"usage: bench_driver notice ROUNDS PROGRAM... | copy SOURCE TARGET\n");
  return 2;
}
