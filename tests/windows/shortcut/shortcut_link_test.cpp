// Loads the sample desktop shortcut with the shell's link object and checks what it reports.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "installer/install_folder.h"

namespace {

const std::wstring kFolder = L"" SOLVARINE_INSTALL_FOLDER;
const std::wstring kTarget = kFolder + L"\\Solvarine.exe";

// The link's copy, beside this test's executable.
std::wstring LinkPath() {
  wchar_t module[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring path(module, length);
  return path.substr(0, path.rfind(L'\\') + 1) + L"Solvarine.lnk";
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

class ShortcutLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link_));
    ASSERT_EQ(hr, S_OK) << "CoCreateInstance(CLSID_ShellLink)";
    IPersistFile* file = nullptr;
    hr = link_->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    ASSERT_EQ(hr, S_OK) << "QueryInterface(IID_IPersistFile)";
    hr = file->Load(LinkPath().c_str(), STGM_READ);
    file->Release();
    ASSERT_EQ(hr, S_OK) << "IPersistFile::Load(" << Narrow(LinkPath()) << ")";
  }
  void TearDown() override {
    if (link_ != nullptr) link_->Release();
    CoUninitialize();
  }

  IShellLinkW* link_ = nullptr;
};

TEST_F(ShortcutLinkTest, ReportsTheToolItsFolderAndNothingElse) {
  struct Case {
    const char* call;
    std::function<HRESULT(wchar_t*, int)> get;
    std::wstring expected;
  };
  IShellLinkW* link = link_;
  int icon_index = -1;
  const std::vector<Case> cases{
      // Windows and Wine take the path from LinkInfo's LocalBasePath.
      {"GetPath(0)", [&](wchar_t* b, int n) { return link->GetPath(b, n, nullptr, 0); }, kTarget},
      {"GetPath(SLGP_RAWPATH)",
       [&](wchar_t* b, int n) { return link->GetPath(b, n, nullptr, SLGP_RAWPATH); }, kTarget},
      {"GetWorkingDirectory", [&](wchar_t* b, int n) { return link->GetWorkingDirectory(b, n); },
       kFolder},
      {"GetArguments", [&](wchar_t* b, int n) { return link->GetArguments(b, n); }, L""},
      {"GetDescription", [&](wchar_t* b, int n) { return link->GetDescription(b, n); }, L""},
      {"GetIconLocation",
       [&](wchar_t* b, int n) { return link->GetIconLocation(b, n, &icon_index); }, L""},
  };
  for (const Case& c : cases) {
    wchar_t buffer[MAX_PATH] = L"(untouched)";
    const HRESULT hr = c.get(buffer, MAX_PATH);
    EXPECT_TRUE(SUCCEEDED(hr)) << c.call << " returned 0x" << std::hex << hr;
    EXPECT_EQ(Narrow(buffer), Narrow(c.expected)) << c.call;
  }
  EXPECT_EQ(icon_index, 0) << "GetIconLocation's index";
}

TEST_F(ShortcutLinkTest, OpensInANormalWindowWithNoHotKey) {
  int show = -1;
  EXPECT_EQ(link_->GetShowCmd(&show), S_OK) << "GetShowCmd";
  EXPECT_EQ(show, SW_SHOWNORMAL) << "GetShowCmd";
  WORD hotkey = 0xFFFF;
  EXPECT_EQ(link_->GetHotkey(&hotkey), S_OK) << "GetHotkey";
  EXPECT_EQ(hotkey, 0) << "GetHotkey";
}

// The ID list names the target on its own: the shell turns it back into the same path.
TEST_F(ShortcutLinkTest, IdListLeadsToTheSamePath) {
  PIDLIST_ABSOLUTE id_list = nullptr;
  ASSERT_EQ(link_->GetIDList(&id_list), S_OK) << "GetIDList";
  ASSERT_NE(id_list, nullptr) << "GetIDList";
  wchar_t path[MAX_PATH] = L"";
  EXPECT_TRUE(SHGetPathFromIDListW(id_list, path)) << "SHGetPathFromIDListW";
  EXPECT_EQ(Narrow(path), Narrow(kTarget)) << "SHGetPathFromIDListW(GetIDList())";
  CoTaskMemFree(id_list);
}

}  // namespace

// add_wine_test links with -municode, whose start-up calls wmain; gtest_main has only main.
int wmain(int argc, wchar_t** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
