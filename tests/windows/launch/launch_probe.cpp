// Started by the launch tests: writes what it received, its process id, its command line and its
// current directory, to the file named by SOLVARINE_LAUNCH_REPORT (inherited from the test), as
// UTF-16 texts each ended by a NUL. The report appears whole: it is written beside and renamed.
#include <windows.h>

#include <string>

int main() {
  wchar_t report[MAX_PATH] = {};
  const DWORD report_length = GetEnvironmentVariableW(L"SOLVARINE_LAUNCH_REPORT", report, MAX_PATH);
  if (report_length == 0 || report_length >= MAX_PATH) return 2;
  wchar_t directory[MAX_PATH] = {};
  const DWORD directory_length = GetCurrentDirectoryW(MAX_PATH, directory);
  if (directory_length == 0 || directory_length >= MAX_PATH) return 3;

  std::wstring text = std::to_wstring(GetCurrentProcessId());
  text += L'\0';
  text += GetCommandLineW();
  text += L'\0';
  text += directory;
  text += L'\0';

  const std::wstring part = std::wstring(report) + L".part";
  HANDLE file = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 4;
  DWORD written = 0;
  const DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  const BOOL wrote = WriteFile(file, text.data(), size, &written, nullptr);
  CloseHandle(file);
  if (!wrote || written != size) return 5;
  return MoveFileExW(part.c_str(), report, MOVEFILE_REPLACE_EXISTING) ? 0 : 6;
}
