// SpecialFolderPath: the shell's path of a special folder, trimmed of blanks.
#include <objbase.h>
#include <shlobj.h>
#include <windows.h>

#include "special_folder_text.h"
#include "windows_operations.h"

PathText WindowsOperations::SpecialFolderPath(int csidl) {
  HANDLE heap = GetProcessHeap();
  auto* buffer = static_cast<WideChar*>(HeapAlloc(heap, 0, kShellPathUnits * sizeof(WideChar)));
  if (buffer == nullptr) return PathText();  // no room to ask the shell in: no path
  FillShellPathBuffer(buffer);

  // Neither result is looked at: whatever the shell left in the buffer decides, and a buffer it
  // did not touch trims to the empty string.
  LPITEMIDLIST list = nullptr;
  SHGetSpecialFolderLocation(nullptr, csidl, &list);
  SHGetPathFromIDListW(list, AsWide(buffer));
  const PathText path = TrimmedShellPath(buffer);

  CoTaskMemFree(list);
  HeapFree(heap, 0, buffer);
  return path;
}
