// LaunchProgram: CreateProcessW first, the shell only when that fails. Nothing is waited for and
// no handle is kept; the started program runs on by itself.
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include "launch_text.h"
#include "windows_operations.h"

// The shell must return only once the request is carried out, hand back the process it started
// (to be closed here), and show no error dialog.
static_assert((SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI) == 0x540,
              "shell launch flags");

int WindowsOperations::LaunchProgram(const WideChar* program, const WideChar* parameter,
                                     const WideChar* workingFolder) {
  HANDLE heap = GetProcessHeap();
  auto* buffer = static_cast<WideChar*>(
      HeapAlloc(heap, 0, LaunchBufferLength(program, parameter) * sizeof(WideChar)));
  if (buffer == nullptr) return 0;
  BuildCommandLine(program, parameter, buffer);
  const bool has_folder = workingFolder != nullptr && workingFolder[0] != 0;

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process;
  int result = 1;
  if (CreateProcessW(nullptr, AsWide(buffer), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                     nullptr, has_folder ? AsWide(workingFolder) : nullptr, &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  } else {
    // Whatever the reason (not found, not a program, no such folder), the shell tries next.
    const ShellLaunchText text = PrepareShellLaunch(program, workingFolder, buffer);
    SHELLEXECUTEINFOW shell = {};
    shell.cbSize = sizeof(shell);
    shell.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    shell.lpFile = AsWide(text.file);
    shell.lpParameters = AsWide(parameter != nullptr ? parameter : u"");
    shell.lpDirectory = AsWide(text.directory);
    shell.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&shell)) {
      if (shell.hProcess != nullptr) CloseHandle(shell.hProcess);
    } else {
      result = 0;
    }
  }
  HeapFree(heap, 0, buffer);
  return result;
}
