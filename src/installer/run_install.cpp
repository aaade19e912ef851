// The image's entry point: start-up calls, the install steps, exit.
// windows.h first: the other two headers build on it.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "../system/windows_operations.h"
#include "install_sequence.h"

namespace {

// Keeps DLLs that load on demand (by the shell, the common controls) out of the installer's
// own folder, which is often a Downloads folder. Looked up at run time: Windows before 8 without
// KB2533623 lacks it, and the installer still runs there.
void RestrictDllSearchToSystem() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return;
  auto set_directories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set_directories != nullptr) set_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // The common controls load msimg32 on demand while the notice is drawn; Wine does not apply
  // the default directories to that load, so take it from the system folder first.
  LoadLibraryExW(L"msimg32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

extern "C" void RunInstall() {
  RestrictDllSearchToSystem();
  INITCOMMONCONTROLSEX classes;
  classes.dwSize = sizeof(classes);
  classes.dwICC = ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES | ICC_USEREX_CLASSES |
                  ICC_INTERNET_CLASSES;  // 0xB48
  InitCommonControlsEx(&classes);
  CoInitialize(nullptr);

  WindowsOperations operations;
  ExitProcess(static_cast<UINT>(RunInstallSteps(operations, ImagePayload())));
}
