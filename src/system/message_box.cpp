// ShowNotice: a modal message box, with the calling thread's other windows held back while it is
// up (disabled, out of the topmost band) and put back as they were when it closes.
#include <windows.h>

#include "windows_operations.h"

namespace {

// One window taken in hand by a ShowNotice call. A slot is free while `thread` is 0, an
// identifier Windows never gives a thread.
struct WindowRecord {
  volatile LONG thread;
  BYTE topmost;   // WS_EX_TOPMOST was set when the window was taken in hand
  BYTE disabled;  // this call disabled the window
  HWND window;
};

// The one store of the process. Zero-initialised, so it needs no constructor and is empty at
// process start. A window that finds no free slot is left exactly as it is, so nothing can stay
// disabled or out of the topmost band for want of a record.
// With -fdata-sections GCC puts zero-filled globals into .data$ on PE, where they take room in the
// file; .bss takes none.
constexpr int kRecordCapacity = 128;
__attribute__((section(".bss"))) WindowRecord g_records[kRecordCapacity];

LONG CurrentThread() { return static_cast<LONG>(GetCurrentThreadId()); }

// A free slot above every record of `thread`, so that walking the slots downwards visits a
// thread's records newest first even when other threads have freed slots below them.
WindowRecord* ClaimRecord(LONG thread) {
  int slot = 0;
  for (int i = 0; i < kRecordCapacity; ++i) {
    if (g_records[i].thread == thread) slot = i + 1;
  }
  for (; slot < kRecordCapacity; ++slot) {
    if (InterlockedCompareExchange(&g_records[slot].thread, thread, 0) == 0) {
      return &g_records[slot];
    }
  }
  return nullptr;
}

BOOL CALLBACK TakeInHand(HWND window, LPARAM) {
  if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) return TRUE;
  if (!IsWindowVisible(window)) return TRUE;
  WindowRecord* record = ClaimRecord(CurrentThread());
  if (record == nullptr) return TRUE;
  record->window = window;
  record->topmost = (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  record->disabled = 0;
  if (window != GetForegroundWindow() && IsWindowEnabled(window)) {
    record->disabled = 1;
    EnableWindow(window, FALSE);
  }
  return TRUE;
}

}  // namespace

// For the tests: how many records the store holds. Nothing in the image calls it, so the linker
// leaves it out.
int NoticeStoreRecordCount() {
  int count = 0;
  for (const WindowRecord& record : g_records) {
    if (record.thread != 0) ++count;
  }
  return count;
}

int WindowsOperations::ShowNotice(const WideChar* caption, const WideChar* text, unsigned style) {
  HWND owner = GetForegroundWindow();
  if (owner != nullptr) {
    DWORD process = 0;  // stays 0 when the window is already gone
    GetWindowThreadProcessId(owner, &process);
    if (process != GetCurrentProcessId()) owner = nullptr;
  }

  EnumWindows(TakeInHand, 1);
  for (int i = kRecordCapacity; i-- > 0;) {
    const WindowRecord& record = g_records[i];
    if (record.thread == CurrentThread() && record.topmost != 0) {
      SetWindowPos(record.window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    }
  }

  const int result = MessageBoxW(owner, AsWide(text), AsWide(caption), style);

  for (int i = kRecordCapacity; i-- > 0;) {
    WindowRecord& record = g_records[i];
    if (record.thread != CurrentThread()) continue;
    if (record.disabled != 0) EnableWindow(record.window, TRUE);
    if (record.topmost != 0) {
      SetWindowPos(record.window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    }
    record.window = nullptr;
    record.topmost = 0;
    record.disabled = 0;
    record.thread = 0;  // frees the slot, last
  }
  return result;
}
