// The text rules of the folder operations: the search path of a folder test and the trimmed copy
// that MakeFolder hands to CreateDirectoryW. Kept free of windows.h so that the native tests run
// the very code the image runs.
#ifndef SOLVARINE_SYSTEM_FOLDER_TEXT_H_
#define SOLVARINE_SYSTEM_FOLDER_TEXT_H_

#include <stddef.h>

#include "../installer/wide_text.h"

constexpr WideChar kListingPattern[] = u"*.*";
constexpr size_t kListingPatternLength = 3;
constexpr size_t kMakeFolderLimit = 260;  // MAX_PATH units, the NUL not included

// Only a backslash separates: a folder that ends in "/" still gets one before the pattern.
inline bool NeedsListingSeparator(const WideChar* folder, size_t length) {
  return length != 0 && folder[length - 1] != u'\\';
}

// UTF-16 units of the search path's buffer: the folder, one separator, the pattern and the NUL.
// A null folder counts as empty.
inline size_t ListingBufferLength(const WideChar* folder) {
  return WideLength(folder) + 1 + kListingPatternLength + 1;
}

// Writes folder, separator when needed, and "*.*" into out (ListingBufferLength units) and
// returns the length without the NUL. An empty folder searches the current directory.
inline size_t BuildListingPath(const WideChar* folder, WideChar* out) {
  const size_t length = WideLength(folder);
  size_t n = 0;
  for (; n < length; ++n) out[n] = folder[n];
  if (NeedsListingSeparator(folder, length)) out[n++] = u'\\';
  for (size_t i = 0; i < kListingPatternLength; ++i) out[n++] = kListingPattern[i];
  out[n] = 0;
  return n;
}

inline bool IsFolderTrailer(WideChar unit) { return unit == u' ' || unit == u'/' || unit == u'\\'; }

// Copies at most the first kMakeFolderLimit units of path into out (kMakeFolderLimit + 1 units),
// drops every trailing blank, slash and backslash, and returns the length left.
inline size_t MakeFolderCopy(const WideChar* path, WideChar* out) {
  size_t n = 0;
  for (; n < kMakeFolderLimit && path[n] != 0; ++n) out[n] = path[n];
  while (n != 0 && IsFolderTrailer(out[n - 1])) --n;
  out[n] = 0;
  return n;
}

#endif  // SOLVARINE_SYSTEM_FOLDER_TEXT_H_
