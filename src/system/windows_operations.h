// The operation set on Windows: one source file per operation group in this folder.
#ifndef SOLVARINE_SYSTEM_WINDOWS_OPERATIONS_H_
#define SOLVARINE_SYSTEM_WINDOWS_OPERATIONS_H_

#include "../installer/payload.h"
#include "../installer/wide_text.h"

struct WindowsOperations {
  // folder_operations.cpp
  static int FolderIsListable(const WideChar* folder);
  static int MakeFolder(const WideChar* path);
  static int RemoveFile(const WideChar* path);
  static int EnterFolder(const WideChar* path);
  static void ReleaseListing();
  // payload_file_writer.cpp
  static int WritePayloadItem(const WideChar* path, PayloadItem item);
  // special_folder.cpp
  static PathText SpecialFolderPath(int csidl);
  // message_box.cpp
  static int ShowNotice(const WideChar* caption, const WideChar* text, unsigned style);
  // program_launch.cpp
  static int LaunchProgram(const WideChar* program, const WideChar* parameter,
                           const WideChar* workingFolder);
};

// The core's text is char16_t; Windows spells the same 16-bit units wchar_t.
inline const wchar_t* AsWide(const WideChar* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* AsWide(WideChar* text) { return reinterpret_cast<wchar_t*>(text); }

#endif  // SOLVARINE_SYSTEM_WINDOWS_OPERATIONS_H_
