// The text rules of LaunchProgram: the command line handed to CreateProcessW and the file and
// folder handed to the shell when that fails. Kept free of windows.h so that the native tests
// run the very code the image runs.
#ifndef SOLVARINE_SYSTEM_LAUNCH_TEXT_H_
#define SOLVARINE_SYSTEM_LAUNCH_TEXT_H_

#include <stddef.h>

#include "../installer/wide_text.h"

constexpr WideChar kQuote = u'"';
constexpr WideChar kBlank = u' ';
constexpr WideChar kBackslash = u'\\';

inline bool StartsWithQuote(const WideChar* program) {
  return program != nullptr && program[0] == kQuote;
}

// UTF-16 units of the one buffer a launch allocates. The command line needs the program, the
// parameter and 4 more (two quotes, the blank, the NUL). After CreateProcessW fails the same
// buffer holds the shell's texts: the fallback folder is never longer than the program, and a
// program that begins with a quote also needs its unquoted copy beside that folder.
inline size_t LaunchBufferLength(const WideChar* program, const WideChar* parameter) {
  const size_t program_length = WideLength(program);
  size_t length = program_length + WideLength(parameter) + 4;
  if (StartsWithQuote(program)) length += program_length;
  return length;
}

// Writes the command line into out and returns its length without the NUL: the program in
// quotes (as it stands when it begins with one), then a blank and the parameter, unchanged,
// when there is a parameter. Null texts count as empty.
inline size_t BuildCommandLine(const WideChar* program, const WideChar* parameter, WideChar* out) {
  size_t n = 0;
  const bool quoted = StartsWithQuote(program);
  if (!quoted) out[n++] = kQuote;
  for (size_t i = 0, length = WideLength(program); i < length; ++i) out[n++] = program[i];
  if (!quoted) out[n++] = kQuote;
  const size_t parameter_length = WideLength(parameter);
  if (parameter_length != 0) {
    out[n++] = kBlank;
    for (size_t i = 0; i < parameter_length; ++i) out[n++] = parameter[i];
  }
  out[n] = 0;
  return n;
}

// The fallback folder of a program string: its first `length` units up to and including the
// last backslash, found by a scan from the last unit down to the second; the first unit is
// never looked at, so a string under two units has none. Returns that folder's length, 0 for
// none.
inline size_t FallbackFolderLength(const WideChar* program, size_t length) {
  if (program == nullptr || length < 2) return 0;
  for (size_t i = length - 1; i >= 1; --i) {
    if (program[i] == kBackslash) return i + 1;
  }
  return 0;
}

// What the shell gets after CreateProcessW failed.
struct ShellLaunchText {
  const WideChar* file;       // lpFile
  const WideChar* directory;  // lpDirectory, null for none
};

// Fills the launch buffer (LaunchBufferLength units, its command line no longer needed) with the
// shell's texts. A program that begins with a quote names its file by the text between the first
// two quotes, as CreateProcessW reads it: the shell gets that text, and the fallback folder comes
// from it, since a quoted string is not a file name. Any other program goes to the shell as it
// stands. A non-empty working folder is passed on and no folder is derived.
inline ShellLaunchText PrepareShellLaunch(const WideChar* program, const WideChar* workingFolder,
                                          WideChar* buffer) {
  ShellLaunchText text{program != nullptr ? program : u"", nullptr};
  WideChar* free = buffer;
  size_t file_length = WideLength(text.file);
  if (StartsWithQuote(text.file)) {
    file_length = 0;
    for (const WideChar* from = text.file + 1; *from != 0 && *from != kQuote; ++from) {
      buffer[file_length++] = *from;
    }
    buffer[file_length] = 0;
    text.file = buffer;
    free = buffer + file_length + 1;
  }
  if (workingFolder != nullptr && workingFolder[0] != 0) {
    text.directory = workingFolder;
    return text;
  }
  const size_t folder_length = FallbackFolderLength(text.file, file_length);
  if (folder_length != 0) {
    for (size_t i = 0; i < folder_length; ++i) free[i] = text.file[i];
    free[folder_length] = 0;
    text.directory = free;
  }
  return text;
}

#endif  // SOLVARINE_SYSTEM_LAUNCH_TEXT_H_
