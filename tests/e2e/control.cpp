// Control runs that show the planted-file scenarios can fail: started from the folder that holds
// the planted files, this program does what an unguarded installer would do.
//   e2e_control dll-open          the installer's start-up calls and a message box like its
//                                 notice, the DLL search not restricted
//   e2e_control dll-restricted    the same after SetDefaultDllDirectories(SYSTEM32), as the image
//   e2e_control dll-preloaded     restricted, and msimg32.dll loaded from System32 before the box
//   e2e_control launch-bare       starts "explorer.exe" and "Solvarine.exe" by their bare names
#include <windows.h>
// The headers below need the types of windows.h.
#include <commctrl.h>
#include <objbase.h>

#include <cwchar>

namespace {

void StartUpCalls() {
  INITCOMMONCONTROLSEX classes;
  classes.dwSize = sizeof(classes);
  classes.dwICC = ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES | ICC_USEREX_CLASSES |
                  ICC_INTERNET_CLASSES;
  InitCommonControlsEx(&classes);
  CoInitialize(nullptr);
}

// Presses OK on this process's message box once it is up and painted.
DWORD WINAPI CloseBox(LPVOID main_thread) {
  const DWORD thread = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(main_thread));
  for (int tries = 0; tries < 1200; ++tries) {
    HWND box = nullptr;
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM found) -> BOOL {
          wchar_t name[16] = {};
          GetClassNameW(window, name, 16);
          if (IsWindowVisible(window) && wcscmp(name, L"#32770") == 0) {
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&box));
    if (box != nullptr) {
      RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      return 0;
    }
    Sleep(50);
  }
  return 1;
}

void NoticeLikeTheInstaller() {
  HANDLE closer = CreateThread(
      nullptr, 0, CloseBox, reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(GetCurrentThreadId())),
      0, nullptr);
  MessageBoxW(nullptr, L"control", L"Solvarine installation", MB_OK);
  if (closer != nullptr) {
    WaitForSingleObject(closer, INFINITE);
    CloseHandle(closer);
  }
}

int LaunchBare(const wchar_t* name) {
  wchar_t command_line[MAX_PATH] = {};
  swprintf(command_line, MAX_PATH, L"\"%ls\" C:\\Solvarine", name);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return 1;
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR command_line, int) {
  if (wcscmp(command_line, L"dll-open") == 0) {
    StartUpCalls();
    NoticeLikeTheInstaller();
  } else if (wcscmp(command_line, L"dll-restricted") == 0) {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    StartUpCalls();
    NoticeLikeTheInstaller();
  } else if (wcscmp(command_line, L"dll-preloaded") == 0) {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    LoadLibraryExW(L"msimg32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    StartUpCalls();
    NoticeLikeTheInstaller();
  } else if (wcscmp(command_line, L"launch-bare") == 0) {
    return LaunchBare(L"explorer.exe") | LaunchBare(L"Solvarine.exe");
  } else {
    return 2;
  }
  return 0;
}
