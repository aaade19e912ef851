// Leaves a marker file in C:\e2e\markers saying who ran: the kind of probe, the process's image,
// its command line and current directory. The runner only has to look for files there.
#ifndef SOLVARINE_TESTS_E2E_PROBE_MARKER_H_
#define SOLVARINE_TESTS_E2E_PROBE_MARKER_H_

#include <windows.h>

#include <cwchar>

inline void LeaveMarker(const wchar_t* kind, HMODULE self) {
  wchar_t image[MAX_PATH] = {}, module[MAX_PATH] = {}, cwd[MAX_PATH] = {}, path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, image, MAX_PATH);
  GetModuleFileNameW(self, module, MAX_PATH);
  GetCurrentDirectoryW(MAX_PATH, cwd);
  swprintf(path, MAX_PATH, L"C:\\e2e\\markers\\%ls-%lu.txt", kind, GetCurrentProcessId());
  wchar_t text[4 * MAX_PATH + 4096] = {};
  swprintf(text, sizeof(text) / sizeof(text[0]),
           L"kind=%ls\r\nmodule=%ls\r\nimage=%ls\r\ncommand_line=%ls\r\ncwd=%ls\r\n", kind, module,
           image, GetCommandLineW(), cwd);
  char utf8[sizeof(text)] = {};
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8), nullptr, nullptr);
  HANDLE file =
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  if (length > 1) WriteFile(file, utf8, static_cast<DWORD>(length - 1), &written, nullptr);
  CloseHandle(file);
}

#endif  // SOLVARINE_TESTS_E2E_PROBE_MARKER_H_
