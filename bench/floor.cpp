// The floor: a program with the installer's imports and manifest that only shows the notice box.
// No installer can reach the box sooner than this. bench/run generates floor_imports.c from the
// installer's import table, so the loader does the same work for both.
#include <windows.h>

extern "C" void* const floor_import_table[];

extern "C" void FloorMain() {
  // Read one entry through a volatile pointer: the table, and so every import, stays linked.
  void* const volatile* table = floor_import_table;
  (void)table[0];
  MessageBoxW(nullptr,
              L"Solvarine has been succesfully installed in C:\\Solvarine.\n"
              L"A Solvarine icon has been placed on the desktop.",
              L"Solvarine installation", MB_OK);
  ExitProcess(0);
}
