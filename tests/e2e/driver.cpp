// Starts the installer the way Windows starts a program and reports, as JSON, everything a user
// and the system can see of it: the notice box (caption, text, child controls), which processes
// and windows appeared while the box was up and after it, the exit code, the tool's window text
// and the Explorer window. A scenario runner on the Linux side judges the report.
//
//   e2e_driver install --installer PATH --cwd DIR --control DIR --out FILE
//                      [--child-env NAME=VALUE]... [--wait-launches] [--arguments TEXT]
//   e2e_driver resolve-link LNK OUT      the shortcut as IShellLinkW reads it
//   e2e_driver hold PATH READY           keeps PATH open without write sharing until killed
//   e2e_driver attributes PATH OUT       the file's attributes as Windows reports them
//
// Handshake with the runner through files in the control folder: the driver writes NAME.json when
// a window is ready for a screenshot and waits (up to a minute) for NAME.done.
#include <windows.h>
// The headers below need the types of windows.h.
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr DWORD kWindowWaitMs = 60000;
constexpr DWORD kPollMs = 50;
constexpr int kNoticeTextControl = 0xFFFF;
constexpr int kToolTextControl = 100;

// Text as JSON: UTF-16 in, ASCII out, everything outside printable ASCII escaped.
std::string JsonText(const std::wstring& text) {
  std::string out = "\"";
  for (wchar_t c : text) {
    if (c == L'"' || c == L'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c) & 0xFFFF);
      out += escaped;
    }
  }
  return out + "\"";
}

std::string JsonNumber(long long value) { return std::to_string(value); }
std::string JsonBool(bool value) { return value ? "true" : "false"; }

// A flat JSON object built member by member.
class JsonObject {
 public:
  JsonObject& Add(const char* name, const std::string& json_value) {
    if (!body_.empty()) body_ += ",";
    body_ += "\"";
    body_ += name;
    body_ += "\":";
    body_ += json_value;
    return *this;
  }
  std::string str() const { return "{" + body_ + "}"; }

 private:
  std::string body_;
};

std::string JsonArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  return out + "]";
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  // Written under another name and moved into place, so a reader never sees half a file.
  const std::wstring scratch = path + L".part";
  HANDLE file = CreateFileW(scratch.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok || written != bytes.size()) return false;
  return MoveFileExW(scratch.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring WindowText(HWND window) {
  wchar_t buffer[8192] = {};
  GetWindowTextW(window, buffer, static_cast<int>(sizeof(buffer) / sizeof(buffer[0])));
  return buffer;
}

std::wstring ClassOf(HWND window) {
  wchar_t buffer[256] = {};
  GetClassNameW(window, buffer, 256);
  return buffer;
}

DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

std::string JsonRect(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return JsonArray({JsonNumber(rect.left), JsonNumber(rect.top), JsonNumber(rect.right - rect.left),
                    JsonNumber(rect.bottom - rect.top)});
}

std::wstring ImagePathOf(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return L"";
  wchar_t buffer[MAX_PATH * 2] = {};
  DWORD size = MAX_PATH * 2;
  if (!QueryFullProcessImageNameW(process, 0, buffer, &size)) buffer[0] = 0;
  CloseHandle(process);
  return buffer;
}

struct ProcessEntry {
  DWORD pid;
  DWORD parent;
  std::wstring name;
};

std::vector<ProcessEntry> Processes() {
  std::vector<ProcessEntry> list;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return list;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    list.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
  }
  CloseHandle(snapshot);
  return list;
}

// The processes that did not run before the installer started, other than the installer.
std::string JsonNewProcesses(const std::set<DWORD>& before, DWORD installer) {
  std::vector<std::string> items;
  for (const ProcessEntry& p : Processes()) {
    if (before.count(p.pid) || p.pid == installer) continue;
    items.push_back(JsonObject()
                        .Add("pid", JsonNumber(p.pid))
                        .Add("parent", JsonNumber(p.parent))
                        .Add("name", JsonText(p.name))
                        .Add("image", JsonText(ImagePathOf(p.pid)))
                        .str());
  }
  return JsonArray(items);
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND window, LPARAM list) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::string JsonWindow(HWND window) {
  const DWORD pid = ProcessOf(window);
  return JsonObject()
      .Add("pid", JsonNumber(pid))
      .Add("class", JsonText(ClassOf(window)))
      .Add("title", JsonText(WindowText(window)))
      .Add("image", JsonText(ImagePathOf(pid)))
      .Add("rect", JsonRect(window))
      .str();
}

// Visible top-level windows that were not there before the installer started.
std::vector<HWND> NewVisibleWindows(const std::set<HWND>& before) {
  std::vector<HWND> found;
  for (HWND window : TopLevelWindows()) {
    if (!before.count(window) && IsWindowVisible(window)) found.push_back(window);
  }
  return found;
}

std::string JsonWindows(const std::vector<HWND>& windows) {
  std::vector<std::string> items;
  for (HWND window : windows) items.push_back(JsonWindow(window));
  return JsonArray(items);
}

HWND FindNoticeBox(DWORD installer) {
  for (HWND window : TopLevelWindows()) {
    if (ProcessOf(window) == installer && IsWindowVisible(window) && ClassOf(window) == L"#32770")
      return window;
  }
  return nullptr;
}

std::string JsonChildren(HWND box) {
  std::vector<HWND> children;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM list) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&children));
  std::vector<std::string> items;
  for (HWND child : children) {
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    const bool icon_static = ClassOf(child) == L"Static" && (style & SS_TYPEMASK) == SS_ICON;
    const LRESULT icon = icon_static ? SendMessageW(child, STM_GETICON, 0, 0) : 0;
    items.push_back(JsonObject()
                        .Add("id", JsonNumber(GetDlgCtrlID(child)))
                        .Add("class", JsonText(ClassOf(child)))
                        .Add("text", JsonText(WindowText(child)))
                        .Add("visible", JsonBool(IsWindowVisible(child)))
                        .Add("style", JsonNumber(static_cast<unsigned long>(style)))
                        .Add("has_icon", JsonBool(icon != 0))
                        .Add("rect", JsonRect(child))
                        .str());
  }
  return JsonArray(items);
}

// Tells the runner that `name` is ready for a screenshot and waits until it has taken it.
bool Handshake(const std::wstring& control, const std::wstring& name, const std::string& info) {
  const std::wstring done = control + L"\\" + name + L".done";
  if (!WriteWholeFile(control + L"\\" + name + L".json", info)) return false;
  for (DWORD waited = 0; waited < kWindowWaitMs; waited += kPollMs) {
    if (FileExists(done)) return true;
    Sleep(kPollMs);
  }
  return false;
}

struct InstallOptions {
  std::wstring installer, cwd, control, out;
  std::vector<std::wstring> child_env;  // NAME=VALUE, for the installer's process only
  std::wstring arguments;  // appended to the command line as they stand, after one blank
  bool wait_launches = false;
};

// Waits for the tool's window and a new Explorer window, as long as the runner expects them.
void WaitForLaunches(const std::set<HWND>& before) {
  for (DWORD waited = 0; waited < kWindowWaitMs; waited += kPollMs) {
    bool tool = FindWindowW(L"SolvarineSample", nullptr) != nullptr;
    bool explorer = false;
    for (HWND window : NewVisibleWindows(before)) {
      const std::wstring image = ImagePathOf(ProcessOf(window));
      if (image.size() >= 12 && _wcsicmp(image.c_str() + image.size() - 12, L"explorer.exe") == 0)
        explorer = true;
    }
    if (tool && explorer) return;
    Sleep(kPollMs);
  }
}

int Install(const InstallOptions& options) {
  JsonObject report;
  // Wine starts its desktop process (explorer.exe /desktop) with the first window of the
  // session; have it running before the installer so that it is not taken for a launch.
  GetDesktopWindow();
  std::set<DWORD> processes_before;
  for (const ProcessEntry& p : Processes()) processes_before.insert(p.pid);
  std::set<HWND> windows_before;
  for (HWND window : TopLevelWindows()) windows_before.insert(window);

  std::wstring command_line = L"\"" + options.installer + L"\"";
  if (!options.arguments.empty()) command_line += L" " + options.arguments;
  report.Add("command_line", JsonText(command_line));

  // Variables meant for the installer alone: set around CreateProcessW, then taken back.
  std::vector<std::pair<std::wstring, std::wstring>> saved;
  for (const std::wstring& assignment : options.child_env) {
    const size_t equals = assignment.find(L'=');
    const std::wstring name = assignment.substr(0, equals);
    wchar_t old_value[4096] = {};
    GetEnvironmentVariableW(name.c_str(), old_value, 4096);
    saved.emplace_back(name, old_value);
    SetEnvironmentVariableW(name.c_str(), assignment.substr(equals + 1).c_str());
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process = {};
  std::vector<wchar_t> writable(command_line.begin(), command_line.end());
  writable.push_back(0);
  const BOOL started = CreateProcessW(options.installer.c_str(), writable.data(), nullptr, nullptr,
                                      FALSE, 0, nullptr, options.cwd.c_str(), &startup, &process);
  const DWORD start_error = GetLastError();
  for (const auto& [name, value] : saved)
    SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
  report.Add("started", JsonBool(started));
  if (!started) {
    report.Add("start_error", JsonNumber(start_error));
    WriteWholeFile(options.out, report.str());
    return 0;
  }
  report.Add("installer_pid", JsonNumber(process.dwProcessId));
  report.Add("installer_tid", JsonNumber(process.dwThreadId));

  HWND box = nullptr;
  for (DWORD waited = 0; waited < kWindowWaitMs && box == nullptr; waited += kPollMs) {
    box = FindNoticeBox(process.dwProcessId);
    if (box == nullptr && WaitForSingleObject(process.hProcess, kPollMs) == WAIT_OBJECT_0) break;
  }
  if (box == nullptr) box = FindNoticeBox(process.dwProcessId);  // shown just before it exited?
  report.Add("notice_shown", JsonBool(box != nullptr));
  if (box != nullptr) {
    // What is there while the box holds the installer's only thread.
    report.Add("processes_during_notice", JsonNewProcesses(processes_before, process.dwProcessId));
    std::vector<HWND> others;
    for (HWND window : NewVisibleWindows(windows_before))
      if (window != box) others.push_back(window);
    report.Add("windows_during_notice", JsonWindows(others));
    report.Add("notice_caption", JsonText(WindowText(box)));
    wchar_t text[8192] = {};
    GetDlgItemTextW(box, kNoticeTextControl, text, 8192);
    report.Add("notice_text", JsonText(text));
    report.Add("notice_rect", JsonRect(box));
    report.Add("notice_children", JsonChildren(box));
    report.Add("notice_owner", JsonNumber(reinterpret_cast<LONG_PTR>(GetWindow(box, GW_OWNER))));
    report.Add(
        "notice_shot",
        JsonBool(Handshake(
            options.control, L"notice",
            JsonObject().Add("rect", JsonRect(box)).Add("children", JsonChildren(box)).str())));
    // Check again: nothing may have started while the screenshot was taken.
    report.Add("processes_before_ok", JsonNewProcesses(processes_before, process.dwProcessId));
    HWND ok = GetDlgItem(box, IDOK);
    report.Add("ok_button_text", JsonText(ok ? WindowText(ok) : L""));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
  }

  const bool exited = WaitForSingleObject(process.hProcess, kWindowWaitMs) == WAIT_OBJECT_0;
  DWORD exit_code = STILL_ACTIVE;
  GetExitCodeProcess(process.hProcess, &exit_code);
  report.Add("exited", JsonBool(exited));
  report.Add("exit_code", JsonNumber(exit_code));
  if (!exited) TerminateProcess(process.hProcess, 255);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  if (options.wait_launches) WaitForLaunches(windows_before);
  report.Add("processes_after", JsonNewProcesses(processes_before, process.dwProcessId));
  const std::vector<HWND> windows_after = NewVisibleWindows(windows_before);
  report.Add("windows_after", JsonWindows(windows_after));

  HWND tool = FindWindowW(L"SolvarineSample", nullptr);
  report.Add("tool_window", JsonBool(tool != nullptr));
  if (tool != nullptr) {
    wchar_t text[4096] = {};
    GetDlgItemTextW(tool, kToolTextControl, text, 4096);
    report.Add("tool_title", JsonText(WindowText(tool)));
    report.Add("tool_text", JsonText(text));
    report.Add("tool_image", JsonText(ImagePathOf(ProcessOf(tool))));
  }
  for (HWND window : windows_after) {
    const std::wstring image = ImagePathOf(ProcessOf(window));
    if (image.size() < 12 || _wcsicmp(image.c_str() + image.size() - 12, L"explorer.exe") != 0)
      continue;
    report.Add("explorer_window", JsonWindow(window));
    SetForegroundWindow(window);
    report.Add("explorer_shot",
               JsonBool(Handshake(options.control, L"explorer",
                                  JsonObject().Add("rect", JsonRect(window)).str())));
    break;
  }
  // The runner ends every Wine process afterwards; closing here keeps a run tidy all the same.
  if (tool != nullptr) PostMessageW(tool, WM_CLOSE, 0, 0);
  for (HWND window : windows_after) {
    if (ClassOf(window) != L"#32770") PostMessageW(window, WM_CLOSE, 0, 0);
  }
  return WriteWholeFile(options.out, report.str()) ? 0 : 2;
}

int ResolveLink(const std::wstring& link, const std::wstring& out) {
  JsonObject report;
  CoInitialize(nullptr);
  IShellLinkW* shell_link = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shell_link));
  IPersistFile* file = nullptr;
  if (SUCCEEDED(hr))
    hr = shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (SUCCEEDED(hr)) hr = file->Load(link.c_str(), STGM_READ);
  report.Add("load_hresult", JsonNumber(static_cast<unsigned long>(hr)));
  if (SUCCEEDED(hr)) {
    wchar_t text[MAX_PATH * 2] = {};
    WIN32_FIND_DATAW find = {};
    shell_link->GetPath(text, MAX_PATH * 2, &find, 0);
    report.Add("path", JsonText(text));
    text[0] = 0;
    shell_link->GetWorkingDirectory(text, MAX_PATH * 2);
    report.Add("working_directory", JsonText(text));
    text[0] = 0;
    shell_link->GetArguments(text, MAX_PATH * 2);
    report.Add("arguments", JsonText(text));
    int show = -1;
    shell_link->GetShowCmd(&show);
    report.Add("show_command", JsonNumber(show));
    text[0] = 0;
    int icon = -1;
    shell_link->GetIconLocation(text, MAX_PATH * 2, &icon);
    report.Add("icon_location", JsonText(text));
  }
  if (file) file->Release();
  if (shell_link) shell_link->Release();
  return WriteWholeFile(out, report.str()) ? 0 : 2;
}

// A running program that holds a file open for reading and lets no one else write it.
int Hold(const std::wstring& path, const std::wstring& ready) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD error = GetLastError();
  WriteWholeFile(ready, file == INVALID_HANDLE_VALUE ? "error " + std::to_string(error) : "held");
  if (file == INVALID_HANDLE_VALUE) return 1;
  Sleep(INFINITE);
  return 0;
}

int Attributes(const std::wstring& path, const std::wstring& out) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return WriteWholeFile(
             out, JsonObject()
                      .Add("attributes", JsonNumber(static_cast<long long>(attributes)))
                      .Add("error",
                           JsonNumber(attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0))
                      .str())
             ? 0
             : 2;
}

int Usage() {
  std::fputs("usage: e2e_driver install|resolve-link|hold|attributes ... (see driver.cpp)\n",
             stderr);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  const std::wstring mode = argv[1];
  if (mode == L"resolve-link" && argc == 4) return ResolveLink(argv[2], argv[3]);
  if (mode == L"hold" && argc == 4) return Hold(argv[2], argv[3]);
  if (mode == L"attributes" && argc == 4) return Attributes(argv[2], argv[3]);
  if (mode != L"install") return Usage();
  InstallOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::wstring arg = argv[i];
    auto value = [&](std::wstring& into) {
      if (i + 1 < argc) into = argv[++i];
    };
    if (arg == L"--installer")
      value(options.installer);
    else if (arg == L"--cwd")
      value(options.cwd);
    else if (arg == L"--control")
      value(options.control);
    else if (arg == L"--out")
      value(options.out);
    else if (arg == L"--child-env" && i + 1 < argc)
      options.child_env.push_back(argv[++i]);
    else if (arg == L"--wait-launches")
      options.wait_launches = true;
    else if (arg == L"--arguments")
      value(options.arguments);
    else
      return Usage();
  }
  if (options.installer.empty() || options.cwd.empty() || options.control.empty() ||
      options.out.empty())
    return Usage();
  return Install(options);
}
