// The operations through which the install sequence acts on the system, and nothing else.
//
// The sequence is a template over a type that provides these members (static or not):
//
//   int       FolderIsListable(const WideChar* folder);   // non-zero: a listing opened, or found
//   nothing int       MakeFolder(const WideChar* path);           // non-zero: that one level was
//   created int       RemoveFile(const WideChar* path);           // non-zero: the file was deleted
//   int       WritePayloadItem(const WideChar* path, PayloadItem item);
//                                                         // non-zero: every byte written, file
//                                                         closed
//   PathText  SpecialFolderPath(int csidl);               // trimmed path, empty when none
//   int       ShowNotice(const WideChar* caption, const WideChar* text, unsigned style);
//   int       LaunchProgram(const WideChar* program, const WideChar* parameter,
//                           const WideChar* workingFolder);  // 1: started, 0: not
//   int       EnterFolder(const WideChar* path);          // non-zero: now the current directory
//   void      ReleaseListing();                           // closes what FolderIsListable left open
//
// Windows binds WindowsOperations (src/system/); the tests bind a recording fake. A template keeps
// the image free of indirect calls and lets the compiler inline the thin Windows layers.
#ifndef SOLVARINE_INSTALLER_OPERATION_SET_H_
#define SOLVARINE_INSTALLER_OPERATION_SET_H_

#include "payload.h"
#include "wide_text.h"

// Shell folder ids and box styles the sequence passes through, with their Windows values; the
// core does not include windows.h so that it builds and is tested anywhere.
constexpr int kCsidlDesktop = 0x0000;             // CSIDL_DESKTOP
constexpr int kCsidlWindows = 0x0024;             // CSIDL_WINDOWS
constexpr unsigned kStyleOk = 0x00000000;         // MB_OK
constexpr unsigned kStyleIconError = 0x00000010;  // MB_ICONERROR

#endif  // SOLVARINE_INSTALLER_OPERATION_SET_H_
