// WritePayloadItem on the file system of the Wine prefix. Every call the writer makes to
// CreateFileW, WriteFile and CloseHandle goes through a recorder that passes it on to Windows
// (or, where a case says so, fails it), so each case checks both the file left on disk and the
// calls that made it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "file_test_support.h"
#include "system/windows_operations.h"

// Test builds of the writer route these three calls (payload_file_writer.cpp); null restores
// the Windows functions.
void RoutePayloadWriterCalls(decltype(&CreateFileW) create_file, decltype(&WriteFile) write_file,
                             decltype(&CloseHandle) close_handle);

namespace {

using files_test::Exists;
using files_test::OnWine;
using files_test::Pattern;
using files_test::Printable;
using files_test::ReadAll;
using files_test::Units;
using files_test::WriteAll;

// ---- The recorder -----------------------------------------------------------------------

struct OpenCall {
  std::wstring path;
  DWORD access;
  DWORD share;
  bool security_null;
  DWORD disposition;
  DWORD attributes;
  bool template_null;
  HANDLE result;
  DWORD error;
};

struct WriteCall {
  HANDLE file;
  const void* bytes;
  DWORD length;
  bool count_given;
  bool overlapped_null;
  std::vector<unsigned char> data;  // what the call was handed
};

enum class WriteFault {
  kNone,
  kFailsWritingNothing,  // FALSE, 0 bytes: a full volume
  kWritesHalf,           // TRUE, half the bytes really written
  kFailsAfterHalf,       // FALSE after half the bytes reached the file
  kFailsAfterAll,        // FALSE though every byte was written and counted
};

struct Faults {
  int refused_open = 0;  // the CreateFileW call (1, 2) answered ERROR_ACCESS_DENIED unasked
  WriteFault write = WriteFault::kNone;
  bool close_fails = false;  // the handle is closed, the call reports FALSE
};

struct Trace {
  std::vector<std::string> order;
  std::vector<OpenCall> opens;
  std::vector<WriteCall> writes;
  std::vector<HANDLE> closes;
};

Trace trace;
Faults faults;

HANDLE WINAPI RecordCreateFileW(LPCWSTR path, DWORD access, DWORD share,
                                LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD attributes,
                                HANDLE template_file) {
  OpenCall call{path != nullptr ? path : L"(null)",
                access,
                share,
                security == nullptr,
                disposition,
                attributes,
                template_file == nullptr,
                INVALID_HANDLE_VALUE,
                0};
  if (faults.refused_open == static_cast<int>(trace.opens.size()) + 1) {
    call.error = ERROR_ACCESS_DENIED;
  } else {
    SetLastError(0);
    call.result =
        CreateFileW(path, access, share, security, disposition, attributes, template_file);
    call.error = GetLastError();
  }
  trace.opens.push_back(call);
  trace.order.push_back("CreateFileW");
  SetLastError(call.error);
  return call.result;
}

BOOL WINAPI RecordWriteFile(HANDLE file, LPCVOID bytes, DWORD length, LPDWORD written,
                            LPOVERLAPPED overlapped) {
  WriteCall call{file, bytes, length, written != nullptr, overlapped == nullptr, {}};
  if (bytes != nullptr) {
    const auto* first = static_cast<const unsigned char*>(bytes);
    call.data.assign(first, first + length);
  }
  trace.writes.push_back(call);
  trace.order.push_back("WriteFile");
  switch (faults.write) {
    case WriteFault::kNone:
      return WriteFile(file, bytes, length, written, overlapped);
    case WriteFault::kFailsWritingNothing:
      if (written != nullptr) *written = 0;
      SetLastError(ERROR_DISK_FULL);
      return FALSE;
    case WriteFault::kWritesHalf:
      return WriteFile(file, bytes, length / 2, written, overlapped);
    case WriteFault::kFailsAfterHalf:
      WriteFile(file, bytes, length / 2, written, overlapped);
      SetLastError(ERROR_DISK_FULL);
      return FALSE;
    case WriteFault::kFailsAfterAll:
      WriteFile(file, bytes, length, written, overlapped);
      SetLastError(ERROR_NETNAME_DELETED);
      return FALSE;
  }
  return FALSE;
}

BOOL WINAPI RecordCloseHandle(HANDLE file) {
  trace.closes.push_back(file);
  trace.order.push_back("CloseHandle");
  const BOOL closed = CloseHandle(file);
  if (faults.close_fails) {
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  return closed;
}

std::string Order() {
  std::string out;
  for (const auto& name : trace.order) out += (out.empty() ? "" : ", ") + name;
  return "[" + out + "]";
}

// ---- What the calls must look like ------------------------------------------------------

// The two ways the writer opens a file, argument for argument.
struct OpenMode {
  const char* name;
  DWORD access;
  DWORD disposition;
  DWORD attributes;
};
constexpr OpenMode kCreateAlways = {"CREATE_ALWAYS", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL};
constexpr OpenMode kTruncateExisting = {"TRUNCATE_EXISTING", GENERIC_WRITE, TRUNCATE_EXISTING, 0};

constexpr DWORD kOpened = 0xFFFFFFFF;  // stands for "a handle came back" in an expectation
struct ExpectedOpen {
  const OpenMode* mode;
  DWORD error;  // kOpened, or the error of a refused call
};
using Opens = std::vector<ExpectedOpen>;

const Opens kCreated = {{&kCreateAlways, kOpened}};
Opens RefusedTwice(DWORD error) { return {{&kCreateAlways, error}, {&kTruncateExisting, error}}; }

void ExpectOpens(const std::string& what, const std::wstring& path, const Opens& expected) {
  ASSERT_EQ(trace.opens.size(), expected.size()) << what << ": CreateFileW calls " << Order();
  for (size_t i = 0; i < expected.size(); ++i) {
    const OpenCall& call = trace.opens[i];
    const OpenMode& mode = *expected[i].mode;
    const std::string label =
        what + ": CreateFileW call " + std::to_string(i + 1) + " (" + mode.name + ")";
    EXPECT_EQ(call.path, path) << label << " path " << Printable(call.path);
    EXPECT_EQ(call.access, mode.access) << label << " dwDesiredAccess";
    EXPECT_EQ(call.share, 0u) << label << " dwShareMode";
    EXPECT_TRUE(call.security_null) << label << " lpSecurityAttributes";
    EXPECT_EQ(call.disposition, mode.disposition) << label << " dwCreationDisposition";
    EXPECT_EQ(call.attributes, mode.attributes) << label << " dwFlagsAndAttributes";
    EXPECT_TRUE(call.template_null) << label << " hTemplateFile";
    if (expected[i].error == kOpened) {
      EXPECT_NE(call.result, INVALID_HANDLE_VALUE) << label << " failed, error " << call.error;
    } else {
      EXPECT_EQ(call.result, INVALID_HANDLE_VALUE) << label << " opened the file";
      EXPECT_EQ(call.error, expected[i].error) << label << " error";
    }
  }
}

// One WriteFile of the whole item on the opened handle (none for an empty item), then one
// CloseHandle of that handle: through the buffer below 4096 bytes, straight from the item from
// 4096 on.
void ExpectOneWholeWriteThenClose(const std::string& what, const PayloadItem& item) {
  ASSERT_FALSE(trace.opens.empty()) << what;
  const HANDLE file = trace.opens.back().result;
  const DWORD length = static_cast<DWORD>(item.Length());
  if (length == 0) {
    EXPECT_TRUE(trace.writes.empty()) << what << ": WriteFile for an empty item " << Order();
  } else {
    ASSERT_EQ(trace.writes.size(), 1u) << what << ": WriteFile calls " << Order();
    const WriteCall& call = trace.writes[0];
    EXPECT_EQ(call.file, file) << what << ": WriteFile handle";
    EXPECT_EQ(call.length, length) << what << ": WriteFile nNumberOfBytesToWrite";
    EXPECT_TRUE(call.count_given) << what << ": WriteFile lpNumberOfBytesWritten";
    EXPECT_TRUE(call.overlapped_null) << what << ": WriteFile lpOverlapped";
    EXPECT_TRUE(call.data == std::vector<unsigned char>(item.start, item.end))
        << what << ": WriteFile was handed other bytes than the item's";
    if (length >= 4096) {
      EXPECT_EQ(call.bytes, item.start)
          << what << ": WriteFile of " << length << " bytes not straight from the item";
    } else {
      EXPECT_NE(call.bytes, item.start)
          << what << ": WriteFile of " << length << " bytes not from the buffer";
    }
  }
  ASSERT_EQ(trace.closes.size(), 1u) << what << ": CloseHandle calls " << Order();
  EXPECT_EQ(trace.closes[0], file) << what << ": CloseHandle handle";
  EXPECT_EQ(trace.order.back(), "CloseHandle") << what << ": calls " << Order();
}

void ExpectNoWriteNoClose(const std::string& what) {
  EXPECT_TRUE(trace.writes.empty()) << what << ": WriteFile without a handle " << Order();
  EXPECT_TRUE(trace.closes.empty()) << what << ": CloseHandle without a handle " << Order();
}

std::string Describe(const std::vector<unsigned char>& bytes, bool found) {
  if (!found) return "no file";
  return std::to_string(bytes.size()) + " bytes";
}

void ExpectContent(const std::string& what, const std::wstring& path,
                   const std::vector<unsigned char>& expected) {
  bool found = false;
  const std::vector<unsigned char> actual = ReadAll(path, &found);
  ASSERT_TRUE(found) << what << ": " << Printable(path) << " missing, error " << GetLastError();
  EXPECT_TRUE(actual == expected) << what << ": " << Printable(path) << " holds "
                                  << Describe(actual, found) << ", expected exactly "
                                  << expected.size() << " bytes of the item";
}

void ExpectNoFile(const std::string& what, const std::wstring& path) {
  EXPECT_FALSE(Exists(path)) << what << ": " << Printable(path) << " is left behind";
}

// Another process that holds a file open without sharing, until this object goes.
class HeldByProgram {
 public:
  // program: the holder, or a copy of it under another name; path: the file it opens.
  HeldByProgram(const std::wstring& program, const std::wstring& path) {
    static int serial = 0;
    const std::wstring tag =
        std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
    const std::wstring ready_name = L"solvarine-files-ready-" + tag;
    const std::wstring release_name = L"solvarine-files-release-" + tag;
    ready_ = CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str());
    release_ = CreateEventW(nullptr, TRUE, FALSE, release_name.c_str());
    std::wstring command =
        L"\"" + program + L"\" \"" + path + L"\" " + ready_name + L" " + release_name;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
      error_ = "CreateProcessW(" + Printable(program) + ") error " + std::to_string(GetLastError());
      return;
    }
    CloseHandle(process.hThread);
    process_ = process.hProcess;
    const HANDLE waits[] = {ready_, process_};
    if (WaitForMultipleObjects(2, waits, FALSE, 30000) != WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(process_, &code);
      error_ = "the holder did not open " + Printable(path) + ", exit code " + std::to_string(code);
    }
  }
  ~HeldByProgram() {
    if (release_ != nullptr) SetEvent(release_);
    if (process_ != nullptr) {
      WaitForSingleObject(process_, 30000);
      CloseHandle(process_);
    }
    if (ready_ != nullptr) CloseHandle(ready_);
    if (release_ != nullptr) CloseHandle(release_);
  }
  const std::string& error() const { return error_; }

 private:
  HANDLE ready_ = nullptr;
  HANDLE release_ = nullptr;
  HANDLE process_ = nullptr;
  std::string error_;
};

// The holder program, built beside this test.
std::wstring HolderProgram() {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"hold_file.exe";
}

class WritePayloadItemTest : public files_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    StartRecording();
    RoutePayloadWriterCalls(RecordCreateFileW, RecordWriteFile, RecordCloseHandle);
  }
  void TearDown() override {
    RoutePayloadWriterCalls(nullptr, nullptr, nullptr);
    ScratchTest::TearDown();
  }

  static void StartRecording() {
    trace = Trace();
    faults = Faults();
  }

  // The item lies in its own allocation, as it lies in the image apart from any buffer; an
  // empty item still has a start.
  PayloadItem Item(const std::vector<unsigned char>& bytes) {
    storage_.assign(bytes.begin(), bytes.end());
    storage_.push_back(0);
    return PayloadItem{storage_.data(), storage_.data() + bytes.size()};
  }

  int Write(const std::wstring& path, const PayloadItem& item) {
    return WindowsOperations::WritePayloadItem(Units(path), item);
  }

 private:
  std::vector<unsigned char> storage_;
};

constexpr DWORD kNoFile = 0xFFFFFFFF;  // no file before the write

// ---- Cases ------------------------------------------------------------------------------

TEST_F(WritePayloadItemTest, CreatesOrReplacesTheFileWithExactlyTheItem) {
  // Wine re-creates a hidden or system file with CREATE_ALWAYS and FILE_ATTRIBUTE_NORMAL;
  // Windows refuses with ERROR_ACCESS_DENIED, and then the truncating second call writes it.
  const Opens hidden_opens =
      OnWine() ? kCreated
               : Opens{{&kCreateAlways, ERROR_ACCESS_DENIED}, {&kTruncateExisting, kOpened}};
  const struct {
    const char* what;
    size_t old_size;  // kNoFile: no target before the write
    DWORD old_attributes;
    size_t item_size;
    Opens opens;
  } cases[] = {
      {"target missing", kNoFile, 0, 555, kCreated},
      {"present and longer", 10000, FILE_ATTRIBUTE_NORMAL, 635, kCreated},
      {"present and shorter", 100, FILE_ATTRIBUTE_NORMAL, 42880, kCreated},
      {"present, empty item", 5000, FILE_ATTRIBUTE_NORMAL, 0, kCreated},
      {"present and hidden", 10000, FILE_ATTRIBUTE_HIDDEN, 538, hidden_opens},
      {"present and system", 10000, FILE_ATTRIBUTE_SYSTEM, 538, hidden_opens},
      {"present, hidden and system", 300, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, 4096,
       hidden_opens},
  };
  int serial = 0;
  for (const auto& c : cases) {
    const std::wstring path = Scratch(L"\\target" + std::to_wstring(++serial) + L".bin");
    if (c.old_size != kNoFile) {
      ASSERT_TRUE(WriteAll(path, Pattern(c.old_size, 7))) << c.what << ": old file";
      ASSERT_TRUE(SetFileAttributesW(path.c_str(), c.old_attributes)) << c.what;
    }
    const std::vector<unsigned char> bytes = Pattern(c.item_size, 91);
    const PayloadItem item = Item(bytes);
    StartRecording();

    EXPECT_NE(Write(path, item), 0) << c.what << ": WritePayloadItem " << Order();
    ExpectOpens(c.what, path, c.opens);
    ExpectOneWholeWriteThenClose(c.what, item);
    ExpectContent(c.what, path, bytes);
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (c.old_size != kNoFile && (c.old_attributes & kept) != 0) {
      EXPECT_EQ(GetFileAttributesW(path.c_str()) & kept, c.old_attributes & kept)
          << c.what << ": hidden and system attributes afterwards";
    }
  }
}

TEST_F(WritePayloadItemTest, WritesTheWholeItemInOneWriteFile) {
  // Below 4096 bytes through the buffer, from 4096 on straight from the item; the executables
  // are about half a megabyte.
  for (size_t size : {size_t{0}, size_t{1}, size_t{555}, size_t{4095}, size_t{4096}, size_t{4097},
                      size_t{536064}}) {
    const std::string what = "item of " + std::to_string(size) + " bytes";
    const std::wstring path = Scratch(L"\\item" + std::to_wstring(size) + L".bin");
    const std::vector<unsigned char> bytes = Pattern(size, static_cast<unsigned>(size));
    const PayloadItem item = Item(bytes);
    StartRecording();

    EXPECT_NE(Write(path, item), 0) << what << ": WritePayloadItem " << Order();
    ExpectOpens(what, path, kCreated);
    ExpectOneWholeWriteThenClose(what, item);
    ExpectContent(what, path, bytes);
  }
}

TEST_F(WritePayloadItemTest, LeavesTheTargetAsItWasWhenItCannotBeOpened) {
  const std::wstring holder = HolderProgram();
  ASSERT_TRUE(Exists(holder)) << Printable(holder) << " (the holder, built with this test)";
  // A running copy of the holder: Windows and Wine keep a running program's executable from
  // being opened for writing.
  const std::wstring running = Scratch(L"\\Solvarine.exe");
  ASSERT_TRUE(CopyFileW(holder.c_str(), running.c_str(), FALSE)) << "CopyFileW " << GetLastError();
  const std::vector<unsigned char> running_bytes = ReadAll(running);

  struct Hold {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::unique_ptr<HeldByProgram> program;
    void Release() {
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
      file = INVALID_HANDLE_VALUE;
      program.reset();
    }
    ~Hold() { Release(); }
  };
  const struct {
    const char* what;
    std::wstring path;
    bool old_file;  // a file of its own to start with; otherwise none, or the copy above
    int hold;       // 0 none, 1 another process, 2 a handle of this process, 3 run the target
    DWORD error;
  } cases[] = {
      {"folder missing", Scratch(L"\\missing\\target.bin"), false, 0, ERROR_PATH_NOT_FOUND},
      {"held open by another process without sharing", Scratch(L"\\held.bin"), true, 1,
       ERROR_SHARING_VIOLATION},
      {"held open by this process without sharing", Scratch(L"\\own.bin"), true, 2,
       ERROR_SHARING_VIOLATION},
      {"the executable of a running program", running, false, 3, ERROR_SHARING_VIOLATION},
  };
  for (const auto& c : cases) {
    std::vector<unsigned char> old_bytes;
    if (c.old_file) {
      old_bytes = Pattern(7000, 3);
      ASSERT_TRUE(WriteAll(c.path, old_bytes)) << c.what << ": old file";
    } else if (c.hold == 3) {
      old_bytes = running_bytes;
    }
    Hold hold;
    if (c.hold == 1) {
      hold.program = std::make_unique<HeldByProgram>(holder, c.path);
      ASSERT_EQ(hold.program->error(), "") << c.what;
    } else if (c.hold == 2) {
      hold.file = CreateFileW(c.path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(hold.file, INVALID_HANDLE_VALUE) << c.what << ": own handle " << GetLastError();
    } else if (c.hold == 3) {
      const std::wstring other = Scratch(L"\\other.bin");
      ASSERT_TRUE(WriteAll(other, Pattern(10, 1))) << c.what;
      hold.program = std::make_unique<HeldByProgram>(running, other);
      ASSERT_EQ(hold.program->error(), "") << c.what;
    }
    const std::vector<unsigned char> bytes = Pattern(4096, 55);
    const PayloadItem item = Item(bytes);
    StartRecording();

    EXPECT_EQ(Write(c.path, item), 0) << c.what << ": WritePayloadItem " << Order();
    ExpectOpens(c.what, c.path, RefusedTwice(c.error));
    ExpectNoWriteNoClose(c.what);
    hold.Release();
    if (c.old_file || c.hold == 3) {
      ExpectContent(c.what, c.path, old_bytes);
    } else {
      ExpectNoFile(c.what, c.path);
    }
  }
  EXPECT_FALSE(Exists(Scratch(L"\\missing"))) << "the writer created the missing folder";
}

TEST_F(WritePayloadItemTest, LeavesAReadOnlyFileAloneWhereTheSystemEnforcesReadOnly) {
  const std::wstring path = Scratch(L"\\Checklist_Lightwave.txt");
  const std::vector<unsigned char> old_bytes = Pattern(3000, 9);
  ASSERT_TRUE(WriteAll(path, old_bytes));
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  // Windows refuses write access to a read-only file, and so does Wine for an ordinary user;
  // Wine run by root can write it (the Unix permission bits do not bind root).
  HANDLE probe = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const bool enforced = probe == INVALID_HANDLE_VALUE;
  if (!enforced) CloseHandle(probe);
  std::printf("note: read-only files %s here\n",
              enforced ? "refuse write access" : "accept write access (Wine run by root)");
  const std::vector<unsigned char> bytes = Pattern(635, 77);
  const PayloadItem item = Item(bytes);
  StartRecording();

  const int result = Write(path, item);
  if (enforced) {
    const char* what = "read-only file";
    EXPECT_EQ(result, 0) << what << ": WritePayloadItem " << Order();
    ExpectOpens(what, path, RefusedTwice(ERROR_ACCESS_DENIED));
    ExpectNoWriteNoClose(what);
    ExpectContent(what, path, old_bytes);
  } else {
    const char* what = "read-only file, written where read-only does not bind (Wine as root)";
    EXPECT_NE(result, 0) << what << ": WritePayloadItem " << Order();
    ExpectOpens(what, path, kCreated);
    ExpectOneWholeWriteThenClose(what, item);
    ExpectContent(what, path, bytes);
  }
  EXPECT_NE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY, 0u)
      << "the writer changed the read-only attribute";
}

TEST_F(WritePayloadItemTest, FallsBackToTruncatingInPlaceWhenCreateAlwaysIsRefused) {
  // The first call is answered ERROR_ACCESS_DENIED, as Windows answers it for a hidden or
  // system file; the second call alone decides.
  const struct {
    const char* what;
    size_t old_size;  // kNoFile: none
    DWORD old_attributes;
    size_t item_size;
    DWORD second_error;  // kOpened when the truncating call opens the file
  } cases[] = {
      {"hidden file, longer than the item", 10000, FILE_ATTRIBUTE_HIDDEN, 635, kOpened},
      {"system file, item from the image", 100, FILE_ATTRIBUTE_SYSTEM, 42880, kOpened},
      {"hidden file, empty item", 800, FILE_ATTRIBUTE_HIDDEN, 0, kOpened},
      {"no file to truncate", kNoFile, 0, 555, ERROR_FILE_NOT_FOUND},
  };
  int serial = 0;
  for (const auto& c : cases) {
    const std::wstring path = Scratch(L"\\fallback" + std::to_wstring(++serial) + L".bin");
    if (c.old_size != kNoFile) {
      ASSERT_TRUE(WriteAll(path, Pattern(c.old_size, 5))) << c.what;
      ASSERT_TRUE(SetFileAttributesW(path.c_str(), c.old_attributes)) << c.what;
    }
    const std::vector<unsigned char> bytes = Pattern(c.item_size, 33);
    const PayloadItem item = Item(bytes);
    StartRecording();
    faults.refused_open = 1;

    const int result = Write(path, item);
    ExpectOpens(c.what, path,
                {{&kCreateAlways, ERROR_ACCESS_DENIED}, {&kTruncateExisting, c.second_error}});
    if (c.second_error == kOpened) {
      EXPECT_NE(result, 0) << c.what << ": WritePayloadItem " << Order();
      ExpectOneWholeWriteThenClose(c.what, item);
      ExpectContent(c.what, path, bytes);
      EXPECT_NE(GetFileAttributesW(path.c_str()) & c.old_attributes, 0u)
          << c.what << ": the attribute is gone";
    } else {
      EXPECT_EQ(result, 0) << c.what << ": WritePayloadItem " << Order();
      ExpectNoWriteNoClose(c.what);
      ExpectNoFile(c.what, path);
    }
  }
}

TEST_F(WritePayloadItemTest, RemovesAFileThatWasNotWrittenWhole) {
  const struct {
    const char* what;
    WriteFault write;
    bool close_fails;
    size_t old_size;  // kNoFile: none
    size_t item_size;
  } cases[] = {
      {"WriteFile fails, nothing written", WriteFault::kFailsWritingNothing, false, kNoFile, 635},
      {"WriteFile fails over an older file", WriteFault::kFailsWritingNothing, false, 10000, 4096},
      {"WriteFile writes half and succeeds", WriteFault::kWritesHalf, false, kNoFile, 4095},
      {"WriteFile writes half of an executable", WriteFault::kWritesHalf, false, 600000, 536064},
      {"WriteFile fails after half", WriteFault::kFailsAfterHalf, false, kNoFile, 42880},
      {"WriteFile fails, every byte counted", WriteFault::kFailsAfterAll, false, kNoFile, 1000},
      {"CloseHandle fails after a whole write", WriteFault::kNone, true, 2000, 555},
  };
  int serial = 0;
  for (const auto& c : cases) {
    const std::wstring path = Scratch(L"\\cut" + std::to_wstring(++serial) + L".exe");
    if (c.old_size != kNoFile) {
      ASSERT_TRUE(WriteAll(path, Pattern(c.old_size, 8))) << c.what;
    }
    const std::vector<unsigned char> bytes = Pattern(c.item_size, 44);
    const PayloadItem item = Item(bytes);
    StartRecording();
    faults.write = c.write;
    faults.close_fails = c.close_fails;

    EXPECT_EQ(Write(path, item), 0) << c.what << ": WritePayloadItem " << Order();
    ExpectOpens(c.what, path, kCreated);
    ExpectOneWholeWriteThenClose(c.what, item);
    ExpectNoFile(c.what, path);
  }
}

}  // namespace
