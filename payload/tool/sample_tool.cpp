// The sample build's Solvarine.exe: a stand-in for the real tool that shows what it was given.
// One window of class "SolvarineSample" with a read-only text (control 100) of three lines: what
// it is, the folder argument and the current directory. No C runtime; kernel32 and user32 only.
#include "sample_tool.h"

#include <windows.h>

namespace {

constexpr wchar_t kAbout[] =
    L"Solvarine sample build: this is the stand-in for the real tool, built from the installer's "
    L"sources.";
constexpr wchar_t kFolderLabel[] = L"Folder given: ";
constexpr wchar_t kDirectoryLabel[] = L"Current directory: ";
constexpr wchar_t kLineEnd[] = L"\r\n";

unsigned Length(const wchar_t* text) {
  unsigned length = 0;
  while (text[length] != 0) ++length;
  return length;
}

wchar_t* Append(wchar_t* out, const wchar_t* text) {
  while (*text != 0) *out++ = *text++;
  return out;
}

// The raw text after the program token, leading blanks skipped, as WinMain's command line is
// taken: the token ends at the first blank outside double quotes.
const wchar_t* ArgumentText(const wchar_t* line) {
  bool quoted = false;
  for (; *line > L' ' || (*line != 0 && quoted); ++line) {
    if (*line == L'"') quoted = !quoted;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

// The three lines, in a buffer from the process heap; null when there is no memory for them.
wchar_t* WindowText() {
  const wchar_t* argument = ArgumentText(GetCommandLineW());
  const DWORD directory_size = GetCurrentDirectoryW(0, nullptr);  // with its NUL
  const unsigned size = Length(kAbout) + Length(kFolderLabel) + Length(argument) +
                        Length(kDirectoryLabel) + 2 * Length(kLineEnd) + directory_size + 1;
  auto* text = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, size * sizeof(wchar_t)));
  if (text == nullptr) return nullptr;
  wchar_t* out = Append(text, kAbout);
  out = Append(out, kLineEnd);
  out = Append(Append(out, kFolderLabel), argument);
  out = Append(out, kLineEnd);
  out = Append(out, kDirectoryLabel);
  const DWORD got = GetCurrentDirectoryW(directory_size, out);
  out[got < directory_size ? got : 0] = 0;
  return text;
}

INT_PTR CALLBACK SampleDialog(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetDlgItemTextW(window, SAMPLE_TEXT_ID, reinterpret_cast<const wchar_t*>(lparam));
      // Put the caret at the start rather than have the dialog select the whole text.
      HWND text = GetDlgItem(window, SAMPLE_TEXT_ID);
      SetFocus(text);
      SendMessageW(text, EM_SETSEL, 0, 0);
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDCANCEL) DestroyWindow(window);  // Esc
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(window);
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

extern "C" void SampleToolMain() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  // The dialog template names this class, so the window is found by it.
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = DefDlgProcW;
  window_class.cbWndExtra = DLGWINDOWEXTRA;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = L"" SAMPLE_WINDOW_CLASS;
  wchar_t* text = WindowText();
  HWND dialog = nullptr;
  if (text != nullptr && RegisterClassExW(&window_class) != 0) {
    dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(SAMPLE_DIALOG_ID), nullptr, SampleDialog,
                                reinterpret_cast<LPARAM>(text));
  }
  if (dialog == nullptr) ExitProcess(1);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(dialog, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  ExitProcess(static_cast<UINT>(message.wParam));
}
