// Puts one payload item on disk as a file of its own, replacing any file of that name.
#include <windows.h>

#include "windows_operations.h"

namespace {

constexpr DWORD kFileBufferSize = 4096;

using CreateFileWFn = decltype(&CreateFileW);
using WriteFileFn = decltype(&WriteFile);
using CloseHandleFn = decltype(&CloseHandle);

#ifdef SOLVARINE_TEST_SEAMS
// Test builds only: the tests put their own functions here to record the calls and inject
// faults. Null means the Windows function itself.
struct RoutedCalls {
  CreateFileWFn create_file;
  WriteFileFn write_file;
  CloseHandleFn close_handle;
};
RoutedCalls routed_calls;

CreateFileWFn CreateFileCall() {
  return routed_calls.create_file != nullptr ? routed_calls.create_file : CreateFileW;
}
WriteFileFn WriteFileCall() {
  return routed_calls.write_file != nullptr ? routed_calls.write_file : WriteFile;
}
CloseHandleFn CloseHandleCall() {
  return routed_calls.close_handle != nullptr ? routed_calls.close_handle : CloseHandle;
}
#else
inline CreateFileWFn CreateFileCall() { return CreateFileW; }
inline WriteFileFn WriteFileCall() { return WriteFile; }
inline CloseHandleFn CloseHandleCall() { return CloseHandle; }
#endif

}  // namespace

#ifdef SOLVARINE_TEST_SEAMS
// Declared by the tests themselves; the parameter types are part of the linked name, so a
// declaration that drifts from this one does not link.
void RoutePayloadWriterCalls(CreateFileWFn create_file, WriteFileFn write_file,
                             CloseHandleFn close_handle) {
  routed_calls = {create_file, write_file, close_handle};
}
#endif

int WindowsOperations::WritePayloadItem(const WideChar* path, PayloadItem item) {
  const wchar_t* name = AsWide(path);
  HANDLE file = CreateFileCall()(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // Windows refuses to re-create a hidden or system file but lets it be truncated in place.
    file = CreateFileCall()(name, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
  }

  const DWORD length = static_cast<DWORD>(item.Length());
  HANDLE heap = GetProcessHeap();
  void* buffer = HeapAlloc(heap, 0, kFileBufferSize);
  // Small items are staged in the buffer and go out at close; large ones (and every item when
  // the buffer cannot be had) straight from the image. Either way in one WriteFile.
  const void* bytes = item.start;
  if (buffer != nullptr && length < kFileBufferSize) {
    memcpy(buffer, item.start, length);
    bytes = buffer;
  }
  BOOL wrote = TRUE;
  DWORD written = 0;
  if (length != 0) wrote = WriteFileCall()(file, bytes, length, &written, nullptr);
  if (buffer != nullptr) HeapFree(heap, 0, buffer);
  const BOOL closed = CloseHandleCall()(file);

  if (wrote && written == length && closed) return 1;
  // A cut executable or document would pass for an installed one.
  DeleteFileW(name);
  return 0;
}
