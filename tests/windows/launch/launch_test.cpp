// LaunchProgram under Wine. A probe program reports the command line and the current directory
// that it really received; every case waits for that report (bounded) and for the probe to end,
// and closes whatever else the shell started.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "system/windows_operations.h"

namespace {

constexpr wchar_t kReportVariable[] = L"SOLVARINE_LAUNCH_REPORT";
constexpr DWORD kWaitMilliseconds = 30000;  // generous: a first start in a fresh prefix is slow
constexpr DWORD kPollMilliseconds = 50;

std::string Narrow(const wchar_t* text) {
  if (text == nullptr) return "(null)";
  std::string out = "\"";
  for (; *text != 0; ++text) {
    if (*text >= 0x20 && *text < 0x7F) {
      out += static_cast<char>(*text);
    } else {
      out += "\\x{" + std::to_string(static_cast<unsigned>(*text)) + "}";
    }
  }
  return out + "\"";
}
std::string Narrow(const std::wstring& text) { return Narrow(text.c_str()); }

const WideChar* AsCore(const wchar_t* text) { return reinterpret_cast<const WideChar*>(text); }

int Launch(const wchar_t* program, const wchar_t* parameter, const wchar_t* folder) {
  return WindowsOperations::LaunchProgram(AsCore(program), AsCore(parameter), AsCore(folder));
}

std::string Call(const wchar_t* program, const wchar_t* parameter, const wchar_t* folder) {
  return "LaunchProgram(" + Narrow(program) + ", " + Narrow(parameter) + ", " + Narrow(folder) +
         ")";
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring CurrentDirectory() {
  wchar_t directory[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, directory);
  return directory;
}

// Polls until `done` holds or the bounded wait is over.
template <class Condition>
bool WaitFor(Condition done) {
  const ULONGLONG end = GetTickCount64() + kWaitMilliseconds;
  while (!done()) {
    if (GetTickCount64() > end) return false;
    Sleep(kPollMilliseconds);
  }
  return true;
}

// Waits for a process that the launch started to end by itself; ends it if it does not.
void EndProcess(DWORD id, const char* what) {
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
  if (process == nullptr) return;  // gone already
  if (WaitForSingleObject(process, kWaitMilliseconds) != WAIT_OBJECT_0) {
    ADD_FAILURE() << what << ": process " << id << " did not end; terminated";
    TerminateProcess(process, 1);
    WaitForSingleObject(process, kWaitMilliseconds);
  }
  CloseHandle(process);
}

struct ProbeReport {
  DWORD process_id = 0;
  std::wstring command_line;
  std::wstring current_directory;
};

// Reads the report that the probe writes whole (by a rename), once it is there.
bool ReadReport(const std::wstring& path, ProbeReport* report) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::vector<wchar_t> units(32768);
  DWORD read = 0;
  const BOOL ok = ReadFile(file, units.data(), static_cast<DWORD>(units.size() * sizeof(wchar_t)),
                           &read, nullptr);
  CloseHandle(file);
  if (!ok) return false;
  std::vector<std::wstring> texts;
  std::wstring text;
  for (size_t i = 0; i < read / sizeof(wchar_t); ++i) {
    if (units[i] == 0) {
      texts.push_back(text);
      text.clear();
    } else {
      text += units[i];
    }
  }
  if (texts.size() != 3) return false;
  report->process_id = std::wcstoul(texts[0].c_str(), nullptr, 10);
  report->command_line = texts[1];
  report->current_directory = texts[2];
  return true;
}

struct TopWindow {
  HWND window;
  DWORD process_id;
  std::wstring title;
};

// Every top-level window of the given class, of any process on the desktop.
std::vector<TopWindow> WindowsOfClass(const wchar_t* class_name) {
  struct Search {
    const wchar_t* class_name;
    std::vector<TopWindow> found;
  } search{class_name, {}};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* search = reinterpret_cast<Search*>(context);
        wchar_t name[256] = {};
        GetClassNameW(window, name, 256);
        if (lstrcmpiW(name, search->class_name) == 0) {
          wchar_t title[512] = {};
          GetWindowTextW(window, title, 512);
          DWORD process_id = 0;
          GetWindowThreadProcessId(window, &process_id);
          search->found.push_back({window, process_id, title});
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

constexpr wchar_t kDialogClass[] = L"#32770";

// Runs a launch on a thread of its own, as the installer would (an apartment thread), while this
// thread watches for a dialog box: a dialog inside the call would hold it forever, so every one
// seen is recorded and closed.
struct WatchedLaunch {
  int result = -1;
  std::vector<std::wstring> dialogs;
};

WatchedLaunch LaunchWatchingForDialogs(const wchar_t* program, const wchar_t* parameter,
                                       const wchar_t* folder) {
  struct Request {
    const wchar_t* program;
    const wchar_t* parameter;
    const wchar_t* folder;
    int result;
  } request{program, parameter, folder, -1};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](void* context) -> DWORD {
        auto* request = static_cast<Request*>(context);
        const HRESULT com = CoInitialize(nullptr);
        request->result = Launch(request->program, request->parameter, request->folder);
        if (SUCCEEDED(com)) CoUninitialize();
        return 0;
      },
      &request, 0, nullptr);
  WatchedLaunch watched;
  if (thread == nullptr) {
    ADD_FAILURE() << "CreateThread failed: " << GetLastError();
    return watched;
  }
  const ULONGLONG end = GetTickCount64() + kWaitMilliseconds;
  while (WaitForSingleObject(thread, kPollMilliseconds) == WAIT_TIMEOUT) {
    for (const TopWindow& dialog : WindowsOfClass(kDialogClass)) {
      watched.dialogs.push_back(dialog.title);
      PostMessageW(dialog.window, WM_CLOSE, 0, 0);
    }
    if (GetTickCount64() > end) {
      ADD_FAILURE() << Call(program, parameter, folder) << " did not return";
      TerminateThread(thread, 1);
      break;
    }
  }
  CloseHandle(thread);
  for (const TopWindow& dialog : WindowsOfClass(kDialogClass)) {
    watched.dialogs.push_back(dialog.title);
    PostMessageW(dialog.window, WM_CLOSE, 0, 0);
  }
  watched.result = request.result;
  return watched;
}

std::wstring ModuleFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.rfind(L'\\') + 1);
}

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

// A scratch folder of its own: "caller" is the test's current directory while it launches,
// "bin" and "with blanks" hold copies of the probe, "work" is a working folder to give.
class LaunchProgramTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u) << "GetTempPathW";
    scratch_ = std::wstring(temp) + L"solvarine-launch-" + std::to_wstring(GetCurrentProcessId());
    RemoveTree(scratch_);
    for (const wchar_t* sub : {L"", L"\\caller", L"\\bin", L"\\with blanks", L"\\work"}) {
      ASSERT_TRUE(CreateDirectoryW((scratch_ + sub).c_str(), nullptr))
          << "CreateDirectoryW(" << Narrow(scratch_ + sub) << ") failed: " << GetLastError();
    }
    caller_ = scratch_ + L"\\caller";
    probe_ = scratch_ + L"\\bin\\launch_probe.exe";
    ASSERT_TRUE(CopyFileW((ModuleFolder() + L"launch_probe.exe").c_str(), probe_.c_str(), TRUE))
        << "copying the probe from " << Narrow(ModuleFolder()) << " failed: " << GetLastError();
    saved_directory_ = CurrentDirectory();
    ASSERT_TRUE(SetCurrentDirectoryW(caller_.c_str())) << "SetCurrentDirectoryW(caller)";
  }

  void TearDown() override {
    SetCurrentDirectoryW(saved_directory_.c_str());
    SetEnvironmentVariableW(kReportVariable, nullptr);
    RemoveTree(scratch_);
  }

  // A copy of the probe under another path, which the launch then names.
  std::wstring CopyProbe(const std::wstring& path) {
    EXPECT_TRUE(CopyFileW(probe_.c_str(), path.c_str(), TRUE))
        << "CopyFileW(" << Narrow(path) << ") failed: " << GetLastError();
    return path;
  }

  // Names a fresh report file for the next launch, so that no report can be taken for another's.
  void NewReport() {
    report_ = scratch_ + L"\\report-" + std::to_wstring(++launches_) + L".bin";
    ASSERT_TRUE(SetEnvironmentVariableW(kReportVariable, report_.c_str()));
  }

  // Waits for the probe's report, then for the probe to end. False when no report came.
  bool AwaitReport(const std::string& what, ProbeReport* report) {
    if (!WaitFor([&] { return ReadReport(report_, report); })) {
      ADD_FAILURE() << what << ": no readable report from the probe within " << kWaitMilliseconds
                    << " ms";
      return false;
    }
    EndProcess(report->process_id, what.c_str());
    return true;
  }

  std::wstring scratch_;
  std::wstring caller_;
  std::wstring probe_;
  std::wstring report_;
  int launches_ = 0;
  std::wstring saved_directory_;
};

// Process creation. Had it failed, the shell would have started a program given by its path in the
// program's own folder (the fallback folder), so the caller's directory also shows the route taken.
TEST_F(LaunchProgramTest, ChildReceivesTheCommandLineAndTheCurrentDirectory) {
  CopyProbe(caller_ + L"\\probe_in_caller.exe");
  const std::wstring blanks = CopyProbe(scratch_ + L"\\with blanks\\probe copy.exe");
  const std::wstring work = scratch_ + L"\\work";
  const std::wstring quoted = L"\"" + probe_ + L"\"";
  const struct {
    const char* what;
    std::wstring program;
    const wchar_t* parameter;
    const wchar_t* folder;
    std::wstring expected_command_line;
    std::wstring expected_directory;
  } cases[] = {
      // Not beside the test's executable, so only the current directory can supply it.
      {"bare name found in the current directory", L"probe_in_caller.exe", L"C:\\Solvarine", L"",
       L"\"probe_in_caller.exe\" C:\\Solvarine", caller_},
      {"full path, parameter with blanks", probe_, L"one  two three ", L"",
       L"\"" + probe_ + L"\" one  two three ", caller_},
      {"program path with blanks, empty parameter", blanks, L"", L"", L"\"" + blanks + L"\"",
       caller_},
      {"null parameter and folder", probe_, nullptr, nullptr, L"\"" + probe_ + L"\"", caller_},
      {"given working folder", probe_, L"C:\\Solvarine", work.c_str(),
       L"\"" + probe_ + L"\" C:\\Solvarine", work},
      {"program already quoted", quoted, L"x", L"", quoted + L" x", caller_},
  };
  for (const auto& c : cases) {
    const std::string call =
        std::string(c.what) + ": " + Call(c.program.c_str(), c.parameter, c.folder);
    ProbeReport report;
    bool reported = false;
    // Under heavy load Wine now and then fails a process start that it makes on the next try; the
    // shell then starts the program, rightly, but in another directory. One more try tells such a
    // failure of Wine's from a route that is always wrong.
    for (int attempt = 1; attempt <= 2; ++attempt) {
      NewReport();
      EXPECT_EQ(Launch(c.program.c_str(), c.parameter, c.folder), 1) << call;
      reported = AwaitReport(call, &report);
      if (!reported || report.current_directory == c.expected_directory) break;
      if (attempt == 1) {
        std::printf("%s: started in %s, not %s; trying once more\n", call.c_str(),
                    Narrow(report.current_directory).c_str(),
                    Narrow(c.expected_directory).c_str());
      }
    }
    if (!reported) continue;
    EXPECT_EQ(report.command_line, c.expected_command_line)
        << call << ": command line " << Narrow(report.command_line) << ", expected "
        << Narrow(c.expected_command_line);
    EXPECT_EQ(report.current_directory, c.expected_directory)
        << call << ": current directory " << Narrow(report.current_directory) << ", expected "
        << Narrow(c.expected_directory);
    EXPECT_EQ(CurrentDirectory(), caller_) << call << ": the caller's directory changed";
  }
}

// CreateProcessW refuses a working folder that does not exist (ERROR_DIRECTORY) and the shell gets
// that same folder. Wine's shell then fails to enter it, goes on regardless and starts the program
// in the caller's current directory, with the command line it builds itself; what the shell of
// Windows makes of a missing folder is not checked here.
TEST_F(LaunchProgramTest, MissingWorkingFolderGoesToTheShell) {
  const std::wstring missing = scratch_ + L"\\missing";
  const std::string call = Call(probe_.c_str(), L"C:\\Solvarine", missing.c_str());
  NewReport();
  const WatchedLaunch launch =
      LaunchWatchingForDialogs(probe_.c_str(), L"C:\\Solvarine", missing.c_str());
  EXPECT_EQ(launch.result, 1) << call;
  EXPECT_TRUE(launch.dialogs.empty()) << call << ": showed a dialog " << Narrow(launch.dialogs[0]);
  ProbeReport report;
  if (!AwaitReport(call, &report)) return;
  const std::wstring expected = L"\"" + probe_ + L"\" C:\\Solvarine";
  EXPECT_EQ(report.command_line, expected)
      << call << ": command line " << Narrow(report.command_line) << ", expected "
      << Narrow(expected);
  EXPECT_EQ(report.current_directory, caller_)
      << call << ": current directory " << Narrow(report.current_directory) << ", expected "
      << Narrow(caller_);
  EXPECT_FALSE(Exists(missing)) << call << ": the missing folder was created";
}

// Nothing that either route can start: 0, and no dialog (the shell is told to show none, and a
// dialog inside the call would hold the installer up).
TEST_F(LaunchProgramTest, BothRoutesFailingGiveZeroAndShowNothing) {
  const std::wstring absent = scratch_ + L"\\bin\\absent.exe";
  const std::wstring quoted_absent = L"\"" + absent + L"\"";
  // A file that exists but that no program is registered for.
  const std::wstring unregistered = scratch_ + L"\\work\\notes.solvarine-unregistered";
  HANDLE file = CreateFileW(unregistered.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "CreateFileW(" << Narrow(unregistered) << ")";
  CloseHandle(file);
  const std::wstring work = scratch_ + L"\\work";
  const struct {
    const char* what;
    const wchar_t* program;
    const wchar_t* folder;
  } cases[] = {
      {"missing program, full path", absent.c_str(), L""},
      {"missing program, quoted full path", quoted_absent.c_str(), L""},
      {"missing program, bare name", L"solvarine_absent_program.exe", L""},
      {"missing program, given working folder", absent.c_str(), work.c_str()},
      {"file of no registered type", unregistered.c_str(), L""},
      {"null program", nullptr, L""},
  };
  ASSERT_TRUE(WindowsOfClass(kDialogClass).empty()) << "a dialog is up before the launches";
  for (const auto& c : cases) {
    NewReport();
    const std::string call = std::string(c.what) + ": " + Call(c.program, L"x", c.folder);
    const WatchedLaunch launch = LaunchWatchingForDialogs(c.program, L"x", c.folder);
    EXPECT_EQ(launch.result, 0) << call;
    for (const std::wstring& dialog : launch.dialogs) {
      ADD_FAILURE() << call << ": showed the dialog " << Narrow(dialog);
    }
    EXPECT_FALSE(Exists(report_)) << call << ": a probe ran";
  }
}

// Closes the windows of the given class whose title names `name`, and waits for their processes
// to end. Returns how many there were.
size_t CloseWindowsNaming(const wchar_t* class_name, const std::wstring& name) {
  size_t closed = 0;
  for (const TopWindow& window : WindowsOfClass(class_name)) {
    if (window.title.find(name) == std::wstring::npos) continue;
    PostMessageW(window.window, WM_CLOSE, 0, 0);
    EndProcess(window.process_id, "the document's program");
    ++closed;
  }
  return closed;
}

// A document: CreateProcessW cannot run it (ERROR_BAD_EXE_FORMAT) and the shell opens it in the
// program registered for its type. Wine's prefix maps .ini (not .txt, which has no association in
// Wine 8) to Notepad, whose window shows the file's name.
TEST_F(LaunchProgramTest, DocumentOpensInItsRegisteredProgram) {
  const std::wstring name = L"launch notes " + std::to_wstring(GetCurrentProcessId()) + L".ini";
  const std::wstring document = scratch_ + L"\\work\\" + name;
  HANDLE file = CreateFileW(document.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "CreateFileW(" << Narrow(document) << ")";
  DWORD written = 0;
  WriteFile(file, "[probe]\r\n", 9, &written, nullptr);
  CloseHandle(file);

  const std::string call = Call(document.c_str(), L"", L"");
  const WatchedLaunch launch = LaunchWatchingForDialogs(document.c_str(), L"", L"");
  EXPECT_EQ(launch.result, 1) << call;
  EXPECT_TRUE(launch.dialogs.empty()) << call << ": showed a dialog " << Narrow(launch.dialogs[0]);
  size_t closed = 0;
  const bool opened = WaitFor([&] {
    closed = CloseWindowsNaming(L"Notepad", name);
    return closed != 0;
  });
  EXPECT_TRUE(opened) << call << ": no Notepad window titled with " << Narrow(name) << " within "
                      << kWaitMilliseconds << " ms";
  EXPECT_EQ(closed, 1u) << call << ": Notepad windows on the document";
}

// A document type registered for this test, opened by the probe: the shell's own command line and
// current directory show what LaunchProgram gave it, lpFile, lpParameters and lpDirectory.
class RegisteredDocumentTest : public LaunchProgramTest {
 protected:
  static constexpr wchar_t kExtension[] = L".solvarine-launch-probe";
  static constexpr wchar_t kType[] = L"SolvarineLaunchProbe.Document";

  void SetUp() override {
    LaunchProgramTest::SetUp();
    if (HasFatalFailure()) return;
    const std::wstring command = L"\"" + probe_ + L"\" \"%1\" %*";
    ASSERT_TRUE(SetClassesValue(kExtension, kType));
    registered_ = true;
    ASSERT_TRUE(SetClassesValue(std::wstring(kType) + L"\\shell\\open\\command", command));
  }
  void TearDown() override {
    if (registered_) {
      RegDeleteTreeW(HKEY_CLASSES_ROOT, kExtension);
      RegDeleteTreeW(HKEY_CLASSES_ROOT, kType);
    }
    LaunchProgramTest::TearDown();
  }

  static bool SetClassesValue(const std::wstring& key_name, const std::wstring& value) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key_name.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
      status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
      RegCloseKey(key);
    }
    EXPECT_EQ(status, ERROR_SUCCESS) << "registering " << Narrow(key_name);
    return status == ERROR_SUCCESS;
  }

  bool registered_ = false;
};

TEST_F(RegisteredDocumentTest, ShellGetsTheFileTheParameterAndTheFolder) {
  const std::wstring docs = scratch_ + L"\\with blanks";
  const std::wstring document = docs + L"\\report 1" + kExtension;
  HANDLE file = CreateFileW(document.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "CreateFileW(" << Narrow(document) << ")";
  CloseHandle(file);
  const std::wstring quoted = L"\"" + document + L"\"";
  const std::wstring work = scratch_ + L"\\work";
  const std::wstring missing = scratch_ + L"\\missing";
  const std::wstring opened = L"\"" + probe_ + L"\" \"" + document + L"\"";
  const struct {
    const char* what;
    std::wstring program;
    const wchar_t* parameter;
    const wchar_t* folder;
    std::wstring expected_command_line;
    std::wstring expected_directory;
  } cases[] = {
      // The fallback folder, with its trailing backslash, becomes the current directory.
      {"no working folder: the document's folder", document, L"a  b", L"", opened + L" a  b", docs},
      {"empty parameter", document, L"", L"", opened + L" ", docs},
      // Unquoted for the shell, and the folder is taken from the unquoted name.
      {"quoted document", quoted, L"p", L"", opened + L" p", docs},
      {"given working folder", document, L"p", work.c_str(), opened + L" p", work},
      {"missing working folder: Wine's shell stays in the caller's", document, L"p",
       missing.c_str(), opened + L" p", caller_},
  };
  for (const auto& c : cases) {
    NewReport();
    const std::string call =
        std::string(c.what) + ": " + Call(c.program.c_str(), c.parameter, c.folder);
    const WatchedLaunch launch = LaunchWatchingForDialogs(c.program.c_str(), c.parameter, c.folder);
    EXPECT_EQ(launch.result, 1) << call;
    for (const std::wstring& dialog : launch.dialogs) {
      ADD_FAILURE() << call << ": showed the dialog " << Narrow(dialog);
    }
    ProbeReport report;
    if (!AwaitReport(call, &report)) continue;
    EXPECT_EQ(report.command_line, c.expected_command_line)
        << call << ": command line " << Narrow(report.command_line) << ", expected "
        << Narrow(c.expected_command_line);
    EXPECT_EQ(report.current_directory, c.expected_directory)
        << call << ": current directory " << Narrow(report.current_directory) << ", expected "
        << Narrow(c.expected_directory);
    EXPECT_EQ(CurrentDirectory(), caller_) << call << ": the caller's directory changed";
  }
}

}  // namespace
