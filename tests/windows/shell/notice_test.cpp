// ShowNotice under Wine. A spy in this program's import slot of MessageBoxW records the
// arguments and the state of the windows at the moment of the call, then shows the real box; a
// watcher thread finds the box, reads it and the windows while it is up, then presses a button.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "system/windows_operations.h"

// Defined in src/system/message_box.cpp for the tests; the image never calls it.
int NoticeStoreRecordCount();

using MessageBoxWFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
// The import address table slot through which every MessageBoxW call of this program goes.
extern "C" MessageBoxWFunction __imp_MessageBoxW;

namespace {

constexpr wchar_t kProbeClass[] = L"SolvarineNoticeProbe";
constexpr wchar_t kBoxClass[] = L"#32770";
constexpr DWORD kDeadlineMs = 10000;  // a wait that runs out is a failure, never a pass

std::string Narrow(const std::wstring& text) {
  std::string out = "\"";
  for (wchar_t unit : text) {
    if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      out += "\\x{" + std::to_string(static_cast<unsigned>(unit)) + "}";
    }
  }
  return out + "\"";
}

const WideChar* Wide(const std::wstring& text) {
  return reinterpret_cast<const WideChar*>(text.c_str());
}

struct WindowState {
  bool visible;
  bool enabled;
  bool topmost;
  RECT rect;
};

WindowState StateOf(HWND window) {
  WindowState state = {};
  state.visible = IsWindowVisible(window) != FALSE;
  state.enabled = IsWindowEnabled(window) != FALSE;
  state.topmost = (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  GetWindowRect(window, &state.rect);
  return state;
}

std::string RectText(const RECT& rect) {
  return "(" + std::to_string(rect.left) + "," + std::to_string(rect.top) + ")-(" +
         std::to_string(rect.right) + "," + std::to_string(rect.bottom) + ")";
}

// What reached MessageBoxW on the spied thread.
struct BoxCall {
  int calls = 0;
  HWND owner = nullptr;
  std::wstring text;
  std::wstring caption;
  UINT style = 0;
  int records = -1;
  std::vector<WindowState> windows;
};

MessageBoxWFunction g_real_message_box = nullptr;
DWORD g_spied_thread = 0;
std::vector<HWND> g_spied_windows;
BoxCall g_box_call;

int WINAPI SpyMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
  if (GetCurrentThreadId() == g_spied_thread) {
    ++g_box_call.calls;
    g_box_call.owner = owner;
    g_box_call.text = text != nullptr ? text : L"(null)";
    g_box_call.caption = caption != nullptr ? caption : L"(null)";
    g_box_call.style = style;
    g_box_call.records = NoticeStoreRecordCount();
    for (HWND window : g_spied_windows) g_box_call.windows.push_back(StateOf(window));
  }
  return g_real_message_box(owner, text, caption, style);
}

// Puts the spy into the import slot for the test's lifetime.
class MessageBoxSpy {
 public:
  MessageBoxSpy(const std::vector<HWND>& windows) {
    g_spied_thread = GetCurrentThreadId();
    g_spied_windows = windows;
    g_box_call = BoxCall();
    g_real_message_box = __imp_MessageBoxW;
    Patch(SpyMessageBoxW);
  }
  ~MessageBoxSpy() {
    Patch(g_real_message_box);
    g_spied_thread = 0;
  }

 private:
  static void Patch(MessageBoxWFunction function) {
    DWORD old_protection = 0;
    VirtualProtect(&__imp_MessageBoxW, sizeof(function), PAGE_READWRITE, &old_protection);
    __imp_MessageBoxW = function;
    VirtualProtect(&__imp_MessageBoxW, sizeof(function), old_protection, &old_protection);
  }
};

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window, message, wparam, lparam);
}

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Wine's X11 driver makes a window the foreground one only when the X server's focus event
// comes back through the message loop, so the test pumps until the condition holds.
template <class Condition>
bool PumpUntil(Condition done) {
  const DWORD start = GetTickCount();
  for (;;) {
    PumpMessages();
    if (done()) return true;
    if (GetTickCount() - start > kDeadlineMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

bool BelongsToThisProcess(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return window != nullptr && process == GetCurrentProcessId();
}

// The visible message box of `thread`, once it is up.
HWND AwaitBox(DWORD thread) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start <= kDeadlineMs) {
    for (HWND box = FindWindowExW(nullptr, nullptr, kBoxClass, nullptr); box != nullptr;
         box = FindWindowExW(nullptr, box, kBoxClass, nullptr)) {
      if (GetWindowThreadProcessId(box, nullptr) == thread && IsWindowVisible(box)) return box;
    }
    Sleep(10);
  }
  return nullptr;
}

void Press(HWND box, int button) {
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

enum class Place { kThisThread, kOtherThread };
enum class Change { kNone, kDropTopmost, kGainTopmost };  // by the watcher, box up

struct ProbeWindow {
  const char* name;
  Place place;
  bool visible;
  bool enabled;  // before the call
  bool topmost;  // before the call
  Change change;
  bool enabled_at_call;  // when MessageBoxW is called
  bool topmost_at_call;
  bool enabled_during;  // while the box is up: the box also disables its owner
  bool enabled_after;
  bool topmost_after;
};

// Popups without a caption: Wine's X11 driver leaves them to no window manager, and so does not
// wait for one when they are hidden (it does for captioned windows, up to 2 s each).
HWND CreateProbe(const ProbeWindow& spec, int index) {
  static const bool registered = [] {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = ProbeProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kProbeClass;
    return RegisterClassW(&window_class) != 0;
  }();
  if (!registered) return nullptr;
  HWND window =
      CreateWindowExW(spec.topmost ? WS_EX_TOPMOST : 0, kProbeClass,
                      std::wstring(spec.name, spec.name + strlen(spec.name)).c_str(),
                      WS_POPUP | WS_BORDER, 40 + 70 * index, 30 + 50 * index, 260 + 10 * index,
                      150 + 10 * index, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr) return nullptr;
  if (!spec.enabled) EnableWindow(window, FALSE);
  if (spec.visible) ShowWindow(window, SW_SHOWNOACTIVATE);
  return window;
}

// A second thread of this process: it makes its windows, then pumps messages (and runs `work`,
// when given, once `go` is set) until it is told to stop, and then destroys its windows.
class SecondThread {
 public:
  using Work = void (*)(SecondThread&);

  SecondThread(std::vector<const ProbeWindow*> specs, Work work = nullptr)
      : specs_(std::move(specs)), work_(work) {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    go_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, &thread_id_);
    WaitForSingleObject(ready_, kDeadlineMs);
  }
  ~SecondThread() {
    PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
    WaitForSingleObject(thread_, kDeadlineMs);
    for (HANDLE handle : {thread_, ready_, go_, done_}) CloseHandle(handle);
  }
  HWND window(size_t i) const { return i < windows_.size() ? windows_[i] : nullptr; }
  DWORD thread_id() const { return thread_id_; }
  HANDLE go() const { return go_; }
  HANDLE done() const { return done_; }
  int result = -1;

 private:
  static DWORD WINAPI Run(void* self_pointer) {
    auto& self = *static_cast<SecondThread*>(self_pointer);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue, before anyone posts
    for (size_t i = 0; i < self.specs_.size(); ++i) {
      self.windows_.push_back(CreateProbe(*self.specs_[i], 5 + static_cast<int>(i)));
    }
    SetEvent(self.ready_);
    bool worked = self.work_ == nullptr;
    for (;;) {
      const DWORD woke =
          MsgWaitForMultipleObjects(worked ? 0 : 1, &self.go_, FALSE, INFINITE, QS_ALLINPUT);
      if (!worked && woke == WAIT_OBJECT_0) {
        self.work_(self);
        worked = true;
        SetEvent(self.done_);
        continue;
      }
      bool quit = false;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) quit = true;
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      if (quit) break;
    }
    for (HWND window : self.windows_) DestroyWindow(window);
    return 0;
  }

  std::vector<const ProbeWindow*> specs_;
  Work work_;
  std::vector<HWND> windows_;
  HANDLE ready_ = nullptr;
  HANDLE go_ = nullptr;
  HANDLE done_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD thread_id_ = 0;
};

// What the watcher saw while the box was up.
struct Watch {
  // In.
  DWORD box_thread = 0;
  std::vector<HWND> windows;
  std::vector<Change> changes;
  int button = IDOK;
  // Out.
  HWND box = nullptr;
  HWND owner = nullptr;
  std::wstring caption;
  std::wstring text;
  bool icon = false;
  std::vector<int> buttons;
  int records = -1;
  std::vector<WindowState> during;
  std::vector<bool> changed;
};

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = {};
  GetWindowTextW(window, text, 1024);
  return text;
}

void ReadBox(Watch& watch) {
  HWND box = watch.box;
  watch.owner = GetWindow(box, GW_OWNER);
  watch.caption = WindowText(box);
  watch.text = WindowText(GetDlgItem(box, 0xFFFF));
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    wchar_t name[32] = {};
    GetClassNameW(child, name, 32);
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    // The icon is a static control of SS_ICON style that holds an icon.
    if (lstrcmpiW(name, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
        SendMessageW(child, STM_GETICON, 0, 0) != 0) {
      watch.icon = true;
    }
    if (lstrcmpiW(name, L"Button") == 0) watch.buttons.push_back(GetDlgCtrlID(child));
  }
  std::sort(watch.buttons.begin(), watch.buttons.end());
}

DWORD WINAPI WatchBox(void* watch_pointer) {
  Watch& watch = *static_cast<Watch*>(watch_pointer);
  watch.box = AwaitBox(watch.box_thread);
  if (watch.box == nullptr) return 0;
  ReadBox(watch);
  watch.records = NoticeStoreRecordCount();
  for (size_t i = 0; i < watch.windows.size(); ++i) {
    HWND window = watch.windows[i];
    watch.during.push_back(StateOf(window));
    // Someone else moves the window in or out of the topmost band while the box is up; the
    // window's thread carries that out inside the box's message loop.
    bool changed = true;
    if (watch.changes[i] != Change::kNone) {
      const bool topmost = watch.changes[i] == Change::kGainTopmost;
      SetWindowPos(window, topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                   SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
      changed = StateOf(window).topmost == topmost;
    }
    watch.changed.push_back(changed);
  }
  Press(watch.box, watch.button);
  return 0;
}

class Watcher {
 public:
  explicit Watcher(Watch& watch) {
    thread_ = CreateThread(nullptr, 0, WatchBox, &watch, 0, nullptr);
  }
  ~Watcher() { Join(); }
  bool Join() {
    if (thread_ == nullptr) return false;
    const bool done = WaitForSingleObject(thread_, kDeadlineMs) == WAIT_OBJECT_0;
    CloseHandle(thread_);
    thread_ = nullptr;
    return done;
  }

 private:
  HANDLE thread_ = nullptr;
};

struct NoticeCase {
  const char* what;
  std::vector<ProbeWindow> windows;
  int foreground;  // index of the window brought to the foreground first; -1: none of ours
  int owner;       // index of the box's owner; -1: none
  int records;     // in the store while the box is up
  unsigned style;
  std::wstring caption;
  std::wstring text;
  int button;  // pressed by the watcher; ShowNotice returns it
  bool icon;
  std::vector<int> buttons;
};

constexpr Place kThis = Place::kThisThread;
constexpr Place kOther = Place::kOtherThread;
constexpr Change kKeep = Change::kNone;

// The thread's foreground window: recorded, out of the topmost band while the box is up, never
// disabled by ShowNotice; the box, whose owner it is, disables it while it is up.
ProbeWindow ForegroundWindow(bool topmost = false) {
  return {"foreground", kThis, true, true, topmost, kKeep, true, false, false, true, topmost};
}

const std::wstring kInstalledText =
    L"Solvarine has been succesfully installed in C:\\Solvarine.\n"
    L"A Solvarine icon has been placed on the desktop.";

// Columns of a window: name, thread, visible, enabled, topmost, change while up;
// at MessageBoxW: enabled, topmost; while up: enabled; after: enabled, topmost.
const std::vector<NoticeCase>& NoticeCases() {
  static const std::vector<NoticeCase> cases = {
      {"no window of the thread",
       {},
       -1,
       -1,
       0,
       MB_OK,
       L"Solvarine installation",
       kInstalledText,
       IDOK,
       false,
       {IDOK}},
      {"the thread's foreground window",
       {ForegroundWindow()},
       0,
       0,
       1,
       MB_OK | MB_ICONERROR,
       L"Solvarine installation",
       L"The installation of Solvarine is not complete.\nClose Solvarine.",
       IDOK,
       true,
       {IDOK}},
      {"another visible enabled window",
       {ForegroundWindow(),
        {"other", kThis, true, true, false, kKeep, false, false, false, true, false}},
       0,
       0,
       2,
       MB_OK,
       L"Caption one",
       L"first line\nsecond line",
       IDOK,
       false,
       {IDOK}},
      {"a window disabled before the call",
       {ForegroundWindow(),
        {"disabled", kThis, true, false, false, kKeep, false, false, false, false, false}},
       0,
       0,
       2,
       MB_OK,
       L"Caption two",
       L"\nleading line feed",
       IDOK,
       false,
       {IDOK}},
      {"a topmost window",
       {ForegroundWindow(),
        {"topmost", kThis, true, true, true, kKeep, false, false, false, true, true}},
       0,
       0,
       2,
       MB_OK,
       L"Caption three",
       L"trailing line feed\n",
       IDOK,
       false,
       {IDOK}},
      {"the foreground window topmost",
       {ForegroundWindow(true)},
       0,
       0,
       1,
       MB_OK,
       L"Caption four",
       L"a\nb",
       IDOK,
       false,
       {IDOK}},
      {"a topmost window that loses WS_EX_TOPMOST meanwhile",
       {ForegroundWindow(),
        {"drops", kThis, true, true, true, Change::kDropTopmost, false, false, false, true, true}},
       0,
       0,
       2,
       MB_OK,
       L"Caption five",
       L"x\ny",
       IDOK,
       false,
       {IDOK}},
      {"a window that gains WS_EX_TOPMOST meanwhile: the stored flag decides, it stays",
       {ForegroundWindow(),
        {"gains", kThis, true, true, false, Change::kGainTopmost, false, false, false, true, true}},
       0,
       0,
       2,
       MB_OK,
       L"Caption six",
       L"x\ny",
       IDOK,
       false,
       {IDOK}},
      {"a hidden window",
       {ForegroundWindow(),
        {"hidden", kThis, false, true, true, kKeep, true, true, true, true, true}},
       0,
       0,
       1,
       MB_OK,
       L"Caption seven",
       L"x\ny",
       IDOK,
       false,
       {IDOK}},
      {"another thread's window",
       {ForegroundWindow(),
        {"other thread", kOther, true, true, true, kKeep, true, true, true, true, true}},
       0,
       0,
       1,
       MB_OK,
       L"Caption eight",
       L"x\ny",
       IDOK,
       false,
       {IDOK}},
      {"another thread's window in the foreground: the owner, not recorded",
       {{"other thread", kOther, true, true, true, kKeep, true, true, false, true, true},
        {"this thread", kThis, true, true, false, kKeep, false, false, false, true, false}},
       0,
       0,
       1,
       MB_OK | MB_ICONERROR,
       L"Caption nine",
       L"x\ny",
       IDOK,
       true,
       {IDOK}},
      {"MB_OKCANCEL closed with Cancel",
       {ForegroundWindow()},
       0,
       0,
       1,
       MB_OKCANCEL,
       L"Caption ten",
       L"x\ny",
       IDCANCEL,
       false,
       {IDOK, IDCANCEL}},
  };
  return cases;
}

std::string ButtonsText(const std::vector<int>& buttons) {
  std::string out = "{";
  for (int id : buttons) out += (out.size() > 1 ? "," : "") + std::to_string(id);
  return out + "}";
}

void CheckState(const std::string& where, const WindowState& state, bool visible, bool enabled,
                bool topmost, const RECT& rect) {
  EXPECT_EQ(state.enabled, enabled) << where << ": IsWindowEnabled";
  EXPECT_EQ(state.topmost, topmost) << where << ": WS_EX_TOPMOST";
  EXPECT_EQ(state.visible, visible) << where << ": IsWindowVisible";
  EXPECT_TRUE(EqualRect(&state.rect, &rect)) << where << ": GetWindowRect " << RectText(state.rect)
                                             << ", before the call " << RectText(rect);
}

void RunCase(const NoticeCase& c) {
  SCOPED_TRACE(c.what);
  ASSERT_EQ(NoticeStoreRecordCount(), 0) << "store before the call";
  const size_t count = c.windows.size();
  std::vector<HWND> windows(count, nullptr);
  std::vector<const ProbeWindow*> other_specs;
  for (size_t i = 0; i < count; ++i) {
    if (c.windows[i].place == kThis) {
      windows[i] = CreateProbe(c.windows[i], static_cast<int>(i));
    } else {
      other_specs.push_back(&c.windows[i]);
    }
  }
  SecondThread other(other_specs);
  for (size_t i = 0, next = 0; i < count; ++i) {
    if (c.windows[i].place == kOther) windows[i] = other.window(next++);
  }
  struct Cleanup {
    const NoticeCase& c;
    std::vector<HWND>& windows;
    ~Cleanup() {
      for (size_t i = 0; i < windows.size(); ++i) {
        if (c.windows[i].place == kThis && windows[i] != nullptr) DestroyWindow(windows[i]);
      }
      PumpMessages();
    }
  } cleanup{c, windows};
  for (size_t i = 0; i < count; ++i) {
    ASSERT_NE(windows[i], nullptr) << "CreateWindowExW for the " << c.windows[i].name << " window";
  }

  if (c.foreground >= 0) {
    HWND foreground = windows[c.foreground];
    SetForegroundWindow(foreground);
    ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == foreground; }))
        << "SetForegroundWindow(" << c.windows[c.foreground].name
        << " window): GetForegroundWindow is still " << GetForegroundWindow();
  } else {
    ASSERT_TRUE(PumpUntil([] { return !BelongsToThisProcess(GetForegroundWindow()); }))
        << "the foreground window " << GetForegroundWindow() << " belongs to this process";
  }
  std::vector<WindowState> before;
  for (size_t i = 0; i < count; ++i) {
    const ProbeWindow& spec = c.windows[i];
    before.push_back(StateOf(windows[i]));
    ASSERT_EQ(before[i].enabled, spec.enabled) << spec.name << " window before the call";
    ASSERT_EQ(before[i].topmost, spec.topmost) << spec.name << " window before the call";
    ASSERT_EQ(before[i].visible, spec.visible) << spec.name << " window before the call";
  }

  Watch watch;
  watch.box_thread = GetCurrentThreadId();
  watch.windows = windows;
  for (const ProbeWindow& spec : c.windows) watch.changes.push_back(spec.change);
  watch.button = c.button;
  int result = -1;
  {
    MessageBoxSpy spy(windows);
    Watcher watcher(watch);
    result = WindowsOperations::ShowNotice(Wide(c.caption), Wide(c.text), c.style);
    ASSERT_TRUE(watcher.Join()) << "the watcher did not finish";
  }
  ASSERT_NE(watch.box, nullptr) << "no box of the calling thread came up";

  // What reached MessageBoxW, unchanged.
  const std::string call = "ShowNotice(" + Narrow(c.caption) + ", " + Narrow(c.text) + ", " +
                           std::to_string(c.style) + ")";
  ASSERT_EQ(g_box_call.calls, 1) << call << ": MessageBoxW calls";
  HWND expected_owner = c.owner >= 0 ? windows[c.owner] : nullptr;
  const char* owner_name = c.owner >= 0 ? c.windows[c.owner].name : "none";
  EXPECT_EQ(g_box_call.owner, expected_owner)
      << call << ": MessageBoxW owner, expected " << owner_name;
  EXPECT_EQ(g_box_call.text, c.text) << call << ": MessageBoxW text " << Narrow(g_box_call.text);
  EXPECT_EQ(g_box_call.caption, c.caption)
      << call << ": MessageBoxW caption " << Narrow(g_box_call.caption);
  EXPECT_EQ(g_box_call.style, c.style) << call << ": MessageBoxW style";
  EXPECT_EQ(g_box_call.records, c.records) << call << ": records when MessageBoxW was called";
  EXPECT_EQ(result, c.button) << call << " closed with button " << c.button;

  // The box as the user saw it.
  EXPECT_EQ(watch.caption, c.caption) << "box caption " << Narrow(watch.caption);
  EXPECT_EQ(watch.text, c.text) << "box text " << Narrow(watch.text);
  EXPECT_EQ(watch.icon, c.icon) << "icon in the box for style " << c.style;
  EXPECT_EQ(watch.buttons, c.buttons)
      << "buttons " << ButtonsText(watch.buttons) << ", expected " << ButtonsText(c.buttons);
  EXPECT_EQ(watch.owner, expected_owner) << "box owner, expected " << owner_name;
  EXPECT_EQ(watch.records, c.records) << "records while the box was up";
  EXPECT_EQ(NoticeStoreRecordCount(), 0) << "store after the call";

  ASSERT_EQ(g_box_call.windows.size(), count);
  ASSERT_EQ(watch.during.size(), count);
  for (size_t i = 0; i < count; ++i) {
    const ProbeWindow& spec = c.windows[i];
    const std::string name = std::string(spec.name) + " window ";
    CheckState(name + "when MessageBoxW was called", g_box_call.windows[i], spec.visible,
               spec.enabled_at_call, spec.topmost_at_call, before[i].rect);
    CheckState(name + "while the box was up", watch.during[i], spec.visible, spec.enabled_during,
               spec.topmost_at_call, before[i].rect);
    EXPECT_TRUE(watch.changed[i]) << name << ": the watcher's change did not take";
    // A window of the second thread may still have the last messages to handle.
    PumpUntil([&] { return StateOf(windows[i]).enabled == spec.enabled_after; });
    CheckState(name + "after the call", StateOf(windows[i]), spec.visible, spec.enabled_after,
               spec.topmost_after, before[i].rect);
  }
}

TEST(ShowNotice, HoldsTheThreadsWindowsBackWhileTheBoxIsUpAndPutsThemBack) {
  for (const NoticeCase& c : NoticeCases()) RunCase(c);
}

// Two threads with a box up at once: the second call holds back and puts back only its own
// thread's windows, and leaves the first thread's records alone.
struct TwoBoxes {
  DWORD first_thread = 0;
  SecondThread* second = nullptr;
  HWND first_window = nullptr;   // of the first thread, held back by the first call
  HWND second_window = nullptr;  // of the second thread
  // Out.
  HWND first_box = nullptr;
  HWND second_box = nullptr;
  HWND second_owner = nullptr;
  bool first_box_foreground = false;
  bool second_done = false;
  int records_first_up = -1, records_both_up = -1, records_second_closed = -1;
  WindowState first_window_first_up{}, second_window_first_up{};
  WindowState first_window_both_up{}, second_window_both_up{};
  WindowState first_window_second_closed{}, second_window_second_closed{};
};

void SecondNotice(SecondThread& self) {
  self.result = WindowsOperations::ShowNotice(u"Second box", u"second\nthread", MB_OK);
}

DWORD WINAPI WatchTwoBoxes(void* pointer) {
  TwoBoxes& t = *static_cast<TwoBoxes*>(pointer);
  t.first_box = AwaitBox(t.first_thread);
  if (t.first_box == nullptr) return 0;
  // The second call's owner is the foreground window: wait until that is the first box.
  const DWORD start = GetTickCount();
  while (GetForegroundWindow() != t.first_box && GetTickCount() - start <= kDeadlineMs) Sleep(10);
  t.first_box_foreground = GetForegroundWindow() == t.first_box;
  t.records_first_up = NoticeStoreRecordCount();
  t.first_window_first_up = StateOf(t.first_window);
  t.second_window_first_up = StateOf(t.second_window);

  SetEvent(t.second->go());
  t.second_box = AwaitBox(t.second->thread_id());
  if (t.second_box != nullptr) {
    t.second_owner = GetWindow(t.second_box, GW_OWNER);
    t.records_both_up = NoticeStoreRecordCount();
    t.first_window_both_up = StateOf(t.first_window);
    t.second_window_both_up = StateOf(t.second_window);
    Press(t.second_box, IDOK);
    t.second_done = WaitForSingleObject(t.second->done(), kDeadlineMs) == WAIT_OBJECT_0;
    t.records_second_closed = NoticeStoreRecordCount();
    t.first_window_second_closed = StateOf(t.first_window);
    t.second_window_second_closed = StateOf(t.second_window);
  }
  Press(t.first_box, IDOK);
  return 0;
}

TEST(ShowNotice, ActsOnlyOnTheCallingThreadsRecords) {
  ASSERT_EQ(NoticeStoreRecordCount(), 0) << "store before the calls";
  const ProbeWindow foreground_spec = ForegroundWindow();
  const ProbeWindow held_spec = {"held", kThis, true,  true, true, kKeep,
                                 false,  false, false, true, true};
  HWND foreground = CreateProbe(foreground_spec, 0);
  HWND held = CreateProbe(held_spec, 1);
  const ProbeWindow second_spec = {"second thread", kOther, true,  true, true, kKeep,
                                   false,           false,  false, true, true};
  SecondThread second({&second_spec}, SecondNotice);
  struct Cleanup {
    HWND a, b;
    ~Cleanup() {
      DestroyWindow(a);
      DestroyWindow(b);
      PumpMessages();
    }
  } cleanup{foreground, held};
  ASSERT_NE(foreground, nullptr) << "CreateWindowExW";
  ASSERT_NE(held, nullptr) << "CreateWindowExW";
  ASSERT_NE(second.window(0), nullptr) << "CreateWindowExW on the second thread";
  SetForegroundWindow(foreground);
  ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == foreground; }))
      << "SetForegroundWindow: GetForegroundWindow is still " << GetForegroundWindow();

  const RECT held_rect = StateOf(held).rect;
  const RECT second_rect = StateOf(second.window(0)).rect;
  TwoBoxes t;
  t.first_thread = GetCurrentThreadId();
  t.second = &second;
  t.first_window = held;
  t.second_window = second.window(0);
  HANDLE watcher = CreateThread(nullptr, 0, WatchTwoBoxes, &t, 0, nullptr);
  const int first_result = WindowsOperations::ShowNotice(u"First box", u"first\nthread", MB_OK);
  ASSERT_EQ(WaitForSingleObject(watcher, kDeadlineMs), WAIT_OBJECT_0) << "the watcher";
  CloseHandle(watcher);

  ASSERT_NE(t.first_box, nullptr) << "the first box did not come up";
  ASSERT_TRUE(t.first_box_foreground) << "the first box never became the foreground window";
  ASSERT_NE(t.second_box, nullptr) << "the second box did not come up";
  ASSERT_TRUE(t.second_done) << "the second ShowNotice did not return";
  EXPECT_EQ(first_result, IDOK) << "first ShowNotice";
  EXPECT_EQ(second.result, IDOK) << "second ShowNotice";
  EXPECT_EQ(t.second_owner, t.first_box) << "owner of the second box";

  EXPECT_EQ(t.records_first_up, 2) << "records with the first box up (foreground, held)";
  CheckState("held window, first box up", t.first_window_first_up, true, false, false, held_rect);
  CheckState("second thread's window, first box up", t.second_window_first_up, true, true, true,
             second_rect);
  EXPECT_EQ(t.records_both_up, 3) << "records with both boxes up";
  CheckState("held window, both boxes up", t.first_window_both_up, true, false, false, held_rect);
  CheckState("second thread's window, both boxes up", t.second_window_both_up, true, false, false,
             second_rect);
  EXPECT_EQ(t.records_second_closed, 2) << "records after the second box closed";
  CheckState("held window, second box closed", t.first_window_second_closed, true, false, false,
             held_rect);
  CheckState("second thread's window, second box closed", t.second_window_second_closed, true, true,
             true, second_rect);
  CheckState("held window after both", StateOf(held), true, true, true, held_rect);
  EXPECT_EQ(NoticeStoreRecordCount(), 0) << "store after both calls";
}

}  // namespace
