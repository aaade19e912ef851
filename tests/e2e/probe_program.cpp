// Planted beside the installer as "Solvarine.exe" and "explorer.exe": if it ever runs, it says so
// in a marker file and ends at once.
#include <windows.h>

#include "probe_marker.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  LeaveMarker(L"program", nullptr);
  return 0;
}
