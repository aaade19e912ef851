// The text rules of SpecialFolderPath: the blank-filled buffer that the shell writes the path
// into, and the trim that turns what it wrote into the result. Kept free of windows.h so that the
// native tests run the very code the image runs.
#ifndef SOLVARINE_SYSTEM_SPECIAL_FOLDER_TEXT_H_
#define SOLVARINE_SYSTEM_SPECIAL_FOLDER_TEXT_H_

#include <stddef.h>

#include "../installer/wide_text.h"

// 270 blanks and a NUL: more than the MAX_PATH units SHGetPathFromIDListW may write, and a
// buffer the shell did not touch still reads as a (blank) string.
constexpr size_t kShellPathBlanks = 270;
constexpr size_t kShellPathUnits = kShellPathBlanks + 1;

inline void FillShellPathBuffer(WideChar* buffer) {
  for (size_t i = 0; i < kShellPathBlanks; ++i) buffer[i] = u' ';
  buffer[kShellPathBlanks] = 0;
}

// The buffer's text up to its first NUL without the blanks (U+0020 only) at either end, as a new
// string. A run that does not fit comes back marked truncated, never silently cut.
inline PathText TrimmedShellPath(const WideChar* buffer) {
  const size_t length = WideLength(buffer);
  size_t first = 0;
  while (first < length && buffer[first] == u' ') ++first;
  PathText path;
  if (first >= length) return path;  // empty, or blanks only
  size_t end = length;
  while (buffer[end - 1] == u' ') --end;  // stops at the non-blank at `first` at the latest
  path.Append(buffer + first, end - first);
  return path;
}

#endif  // SOLVARINE_SYSTEM_SPECIAL_FOLDER_TEXT_H_
