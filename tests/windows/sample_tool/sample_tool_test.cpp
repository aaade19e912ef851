// Starts the sample tool with a command line and a current directory of the test's choosing,
// reads the three lines of its window's text (control 100) and closes it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

std::wstring ModulePath() {
  wchar_t module[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
  return std::wstring(module, length);
}

// The tool's copy, beside this test's executable.
std::wstring ToolPath() { return Folder(ModulePath()) + L"\\Solvarine.exe"; }

std::wstring WindowText(HWND window) {
  std::wstring text(GetWindowTextLengthW(window) + 1, L'\0');
  text.resize(GetWindowTextW(window, &text[0], static_cast<int>(text.size())));
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[256] = L"";
  GetClassNameW(window, name, 256);
  return name;
}

std::wstring ExpectedText(const std::wstring& folder, const std::wstring& directory) {
  return L"Solvarine sample build: this is the stand-in for the real tool, built from the "
         L"installer's sources.\r\nFolder given: " +
         folder + L"\r\nCurrent directory: " + directory;
}

// A scratch folder of this test, with a blank in its name, removed at the end.
class SampleToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u) << "GetTempPathW";
    scratch_ = std::wstring(temp) + L"solvarine sample " + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(scratch_.c_str(), nullptr)) << "CreateDirectoryW";
  }
  void TearDown() override {
    Stop();
    RemoveDirectoryW(scratch_.c_str());
  }

  // Ends the started tool if it still runs and lets go of it.
  void Stop() {
    if (process_.hProcess == nullptr) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.hProcess, 1);
      WaitForSingleObject(process_.hProcess, 10000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    process_ = {};
  }

  // Starts the tool with COMMAND_LINE in the scratch folder; its window, or null after 20 s.
  HWND Start(const std::wstring& command_line) {
    std::wstring line = command_line;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(ToolPath().c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        scratch_.c_str(), &startup, &process_)) {
      ADD_FAILURE() << "CreateProcessW(" << Narrow(ToolPath()) << ") failed, error "
                    << GetLastError();
      return nullptr;
    }
    WaitForInputIdle(process_.hProcess, 20000);
    for (int tries = 0; tries < 400; ++tries) {
      HWND window = nullptr;
      while ((window = FindWindowExW(nullptr, window, L"SolvarineSample", nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == process_.dwProcessId) return window;
      }
      if (WaitForSingleObject(process_.hProcess, 50) == WAIT_OBJECT_0) break;
    }
    ADD_FAILURE() << "no window of class SolvarineSample for: " << Narrow(command_line);
    return nullptr;
  }

  // Closes the window as its close box would; the exit code, or STILL_ACTIVE if it stays.
  DWORD Close(HWND window) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    WaitForSingleObject(process_.hProcess, 20000);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

  std::wstring scratch_;
  PROCESS_INFORMATION process_ = {};
};

TEST_F(SampleToolTest, ShowsItsFolderArgumentAndCurrentDirectory) {
  // The argument is the raw text after the program token, leading blanks skipped.
  struct Case {
    std::wstring command_line;
    std::wstring folder;
  };
  const std::wstring tool = L"\"" + ToolPath() + L"\"";
  const std::vector<Case> cases{
      {tool + L" C:\\Solvarine", L"C:\\Solvarine"},
      {tool, L""},
      {tool + L" ", L""},
      {tool + L" \t  C:\\Some Folder\\two  words ", L"C:\\Some Folder\\two  words "},
      {L"Solvarine.exe \"C:\\quoted folder\" x", L"\"C:\\quoted folder\" x"},
      // The token ends at the first blank outside quotes, even after a closing quote.
      {L"\"C:\\a b\\Sol\"var\" i\".exe next", L"next"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.command_line));
    HWND window = Start(c.command_line);
    if (window == nullptr) {
      Stop();
      continue;
    }
    EXPECT_EQ(Narrow(WindowText(window)), "Solvarine") << "window title";
    EXPECT_TRUE(IsWindowVisible(window)) << "IsWindowVisible";
    HWND text = GetDlgItem(window, 100);
    ASSERT_NE(text, nullptr) << "GetDlgItem(100)";
    EXPECT_EQ(Narrow(ClassName(text)), "Edit") << "control 100's class";
    const LONG style = GetWindowLongW(text, GWL_STYLE);
    EXPECT_EQ(style & (ES_MULTILINE | ES_READONLY), ES_MULTILINE | ES_READONLY)
        << "control 100's style 0x" << std::hex << style;
    wchar_t shown[2048] = L"";
    GetDlgItemTextW(window, 100, shown, 2048);
    EXPECT_EQ(Narrow(shown), Narrow(ExpectedText(c.folder, scratch_))) << "GetDlgItemTextW(100)";
    EXPECT_EQ(Close(window), 0u) << "exit code after WM_CLOSE";
    Stop();
  }
}

// The tool is what a release's Solvarine.exe must be, without a C runtime: a 64-bit GUI program
// for Windows 5.2 that imports only kernel32 and user32.
TEST(SampleToolImage, IsAFreestandingGuiProgram) {
  HANDLE file = CreateFileW(ToolPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "CreateFileW(" << Narrow(ToolPath()) << ")";
  std::vector<unsigned char> image(GetFileSize(file, nullptr));
  DWORD got = 0;
  ReadFile(file, image.data(), static_cast<DWORD>(image.size()), &got, nullptr);
  CloseHandle(file);
  ASSERT_EQ(got, image.size()) << "ReadFile";
  ASSERT_GE(image.size(), sizeof(IMAGE_DOS_HEADER));

  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
  ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE) << "MZ";
  ASSERT_LE(dos->e_lfanew + sizeof(IMAGE_NT_HEADERS64), image.size());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.data() + dos->e_lfanew);
  ASSERT_EQ(nt->Signature, IMAGE_NT_SIGNATURE) << "PE";
  EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64) << "Machine";
  ASSERT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC) << "optional header magic";
  EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI) << "Subsystem";
  EXPECT_EQ(nt->OptionalHeader.MajorSubsystemVersion, 5) << "MajorSubsystemVersion";
  EXPECT_EQ(nt->OptionalHeader.MinorSubsystemVersion, 2) << "MinorSubsystemVersion";
  EXPECT_EQ(nt->FileHeader.TimeDateStamp, 0u) << "TimeDateStamp";

  // The file offset of a relative virtual address, through the section table.
  const auto* sections = IMAGE_FIRST_SECTION(nt);
  auto offset_of = [&](DWORD rva) -> size_t {
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
      const IMAGE_SECTION_HEADER& s = sections[i];
      if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData) {
        return rva - s.VirtualAddress + s.PointerToRawData;
      }
    }
    return image.size();
  };
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::vector<std::string> dlls;
  for (size_t at = offset_of(imports.VirtualAddress);
       at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= image.size();
       at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    const auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image.data() + at);
    if (descriptor->Name == 0) break;
    const size_t name = offset_of(descriptor->Name);
    ASSERT_LT(name, image.size()) << "import name outside the image";
    std::string dll(reinterpret_cast<const char*>(image.data() + name));
    for (char& ch : dll) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
    dlls.push_back(dll);
  }
  EXPECT_EQ(dlls, (std::vector<std::string>{"KERNEL32.DLL", "USER32.DLL"})) << "imported DLLs";
}

}  // namespace

// add_wine_test links with -municode, whose start-up calls wmain; gtest_main has only main.
int wmain(int argc, wchar_t** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
