// Planted beside the installer as msimg32.dll, which Wine's common controls load on demand while
// the notice is drawn: if a process ever loads it, it says so in a marker file. Its exports go on
// to gdi32 (probe_dll.def), so the process that loaded it keeps working.
#include <windows.h>

#include "probe_marker.h"

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LeaveMarker(L"dll", self);
  return TRUE;
}
