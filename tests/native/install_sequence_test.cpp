// The install steps against a recording fake of the operation set: every scenario a machine can be
// in, with the exact calls, arguments, notice and exit code that it must produce.
#include "installer/install_sequence.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

std::string Narrow(const WideChar* text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) {
    if (*text == u'\n') {
      out += "\\n";
    } else if (*text == u'\r') {
      out += "\\r";
    } else if (*text < 0x80) {
      out += static_cast<char>(*text);
    } else {
      out += "?";
    }
  }
  return out;
}

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string Hex(unsigned value) {
  char buffer[16];
  std::snprintf(buffer, sizeof(buffer), "0x%x", value);
  return buffer;
}

// Six distinct items; the fake names an item by where it starts.
const unsigned char kBytes[6] = {1, 2, 3, 4, 5, 6};
const Payload kPayload = {{kBytes + 0, kBytes + 1}, {kBytes + 1, kBytes + 2},
                          {kBytes + 2, kBytes + 3}, {kBytes + 3, kBytes + 4},
                          {kBytes + 4, kBytes + 5}, {kBytes + 5, kBytes + 6}};
const char* const kItemNames[6] = {"AppExecutable", "ArchiverExecutable", "DesktopShortcut",
                                   "UserGuide",     "LightwaveChecklist", "TerragenChecklist"};

std::string Parent(const std::string& path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// A small model of a machine: folders that exist, folders that cannot be made, files that cannot
// be written. Every call is logged with its arguments.
class RecordingOperations {
 public:
  std::set<std::string> folders = {"C:", "C:\\users\\artist\\Desktop", "C:\\windows"};
  std::set<std::string> unmakeable;
  std::set<std::string> unwritable;
  std::string desktop = "C:\\users\\artist\\Desktop";
  std::string windows = "C:\\windows";
  std::vector<std::string> calls;
  std::set<std::string> written;

  int FolderIsListable(const WideChar* folder) {
    const int result = folders.count(Narrow(folder)) ? 1 : 0;
    calls.push_back("FolderIsListable(" + Narrow(folder) + ") = " + std::to_string(result));
    return result;
  }
  int MakeFolder(const WideChar* path) {
    const std::string name = Narrow(path);
    const int result =
        !folders.count(name) && folders.count(Parent(name)) && !unmakeable.count(name) ? 1 : 0;
    if (result) folders.insert(name);
    calls.push_back("MakeFolder(" + name + ") = " + std::to_string(result));
    return result;
  }
  int RemoveFile(const WideChar* path) {
    calls.push_back("RemoveFile(" + Narrow(path) + ")");
    return 0;
  }
  int WritePayloadItem(const WideChar* path, PayloadItem item) {
    const std::string name = Narrow(path);
    const int result = folders.count(Parent(name)) && !unwritable.count(name) ? 1 : 0;
    if (result) written.insert(name);
    calls.push_back("WritePayloadItem(" + name + ", " + kItemNames[item.start - kBytes] +
                    ") = " + std::to_string(result));
    return result;
  }
  PathText SpecialFolderPath(int csidl) {
    calls.push_back("SpecialFolderPath(" + Hex(static_cast<unsigned>(csidl)) + ")");
    if (csidl == kCsidlDesktop) return PathText(Wide(desktop).c_str());
    if (csidl == kCsidlWindows) return PathText(Wide(windows).c_str());
    return PathText();
  }
  int ShowNotice(const WideChar* caption, const WideChar* text, unsigned style) {
    calls.push_back("ShowNotice(\"" + Narrow(caption) + "\", \"" + Narrow(text) + "\", " +
                    Hex(style) + ")");
    notice_text = text;
    return 1;
  }
  int LaunchProgram(const WideChar* program, const WideChar* parameter,
                    const WideChar* workingFolder) {
    calls.push_back("LaunchProgram(\"" + Narrow(program) + "\", \"" + Narrow(parameter) + "\", \"" +
                    Narrow(workingFolder) + "\")");
    return 1;
  }
  int EnterFolder(const WideChar* path) {
    calls.push_back("EnterFolder(" + Narrow(path) + ")");
    return folders.count(Narrow(path)) ? 1 : 0;
  }
  void ReleaseListing() { calls.push_back("ReleaseListing()"); }

  std::u16string notice_text;
};

const std::string kInstalledNotice =
    "ShowNotice(\"Solvarine installation\", \"Solvarine has been succesfully installed in "
    "C:\\Solvarine.\\nA Solvarine icon has been placed on the desktop.\", 0x0)";

std::string Write(const std::string& path, const std::string& item, int result = 1) {
  return "WritePayloadItem(" + path + ", " + item + ") = " + std::to_string(result);
}

// The steps from the removals to the last write, for a machine where every write succeeds.
std::vector<std::string> RemovalsAndWrites(const std::string& desktop_write) {
  return {"RemoveFile(C:\\Solvarine\\Checklist_Cinema4D.txt)",
          "RemoveFile(C:\\Solvarine\\Checklist_Maya.txt)",
          Write("C:\\Solvarine\\Solvarine.exe", "AppExecutable"),
          Write("C:\\Solvarine\\7za.exe", "ArchiverExecutable"),
          "SpecialFolderPath(0x0)",
          desktop_write,
          Write("C:\\Solvarine\\Solvarine_PC.pdf", "UserGuide"),
          Write("C:\\Solvarine\\Checklist_Lightwave.txt", "LightwaveChecklist"),
          Write("C:\\Solvarine\\Checklist_Terragen.txt", "TerragenChecklist")};
}

const std::string kDesktopWrite =
    Write("C:\\users\\artist\\Desktop\\Solvarine.lnk", "DesktopShortcut");

const std::vector<std::string> kLaunches = {
    "SpecialFolderPath(0x24)",
    "LaunchProgram(\"C:\\windows\\explorer.exe\", \"C:\\Solvarine\", \"\")",
    "EnterFolder(C:\\Solvarine)",
    "LaunchProgram(\"C:\\Solvarine\\Solvarine.exe\", \"C:\\Solvarine\", \"\")"};

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::string FailureNotice(const std::vector<std::string>& failed) {
  std::string text =
      "ShowNotice(\"Solvarine installation\", \"The installation of Solvarine in C:\\Solvarine "
      "is not complete.\\nThese could not be created or written:\\n";
  for (const auto& path : failed) text += path + "\\n";
  return text +
         "\\nA running Solvarine keeps its executable locked. Close Solvarine, then run the "
         "installer again.\", 0x10)";
}

struct Scenario {
  const char* name;
  std::function<void(RecordingOperations&)> machine;
  std::vector<std::string> expected_calls;
  int expected_exit_code;
};

const Scenario kScenarios[] = {
    {"fresh machine: both folders made, everything written, both programs started",
     [](RecordingOperations&) {},
     Concat({{"FolderIsListable(C:\\Solvarine) = 0", "MakeFolder(C:\\Solvarine) = 1",
              "FolderIsListable(C:\\Solvarine\\archive) = 0",
              "MakeFolder(C:\\Solvarine\\archive) = 1"},
             RemovalsAndWrites(kDesktopWrite),
             {kInstalledNotice},
             kLaunches,
             {"ReleaseListing()"}}),
     kExitInstalled},
    {"second run: both folders listable, no folder made",
     [](RecordingOperations& m) {
       m.folders.insert({"C:\\Solvarine", "C:\\Solvarine\\archive"});
     },
     Concat(
         {{"FolderIsListable(C:\\Solvarine) = 1", "FolderIsListable(C:\\Solvarine\\archive) = 1"},
          RemovalsAndWrites(kDesktopWrite),
          {kInstalledNotice},
          kLaunches,
          {"ReleaseListing()"}}),
     kExitInstalled},
    {"install folder present, archive missing: only the archive made",
     [](RecordingOperations& m) { m.folders.insert("C:\\Solvarine"); },
     Concat({{"FolderIsListable(C:\\Solvarine) = 1", "FolderIsListable(C:\\Solvarine\\archive) = 0",
              "MakeFolder(C:\\Solvarine\\archive) = 1"},
             RemovalsAndWrites(kDesktopWrite),
             {kInstalledNotice},
             kLaunches,
             {"ReleaseListing()"}}),
     kExitInstalled},
    {"install folder impossible: everything in it fails, failure notice, nothing started",
     [](RecordingOperations& m) { m.unmakeable.insert("C:\\Solvarine"); },
     {"FolderIsListable(C:\\Solvarine) = 0", "MakeFolder(C:\\Solvarine) = 0",
      "FolderIsListable(C:\\Solvarine\\archive) = 0", "MakeFolder(C:\\Solvarine\\archive) = 0",
      "RemoveFile(C:\\Solvarine\\Checklist_Cinema4D.txt)",
      "RemoveFile(C:\\Solvarine\\Checklist_Maya.txt)",
      Write("C:\\Solvarine\\Solvarine.exe", "AppExecutable", 0),
      Write("C:\\Solvarine\\7za.exe", "ArchiverExecutable", 0), "SpecialFolderPath(0x0)",
      kDesktopWrite, Write("C:\\Solvarine\\Solvarine_PC.pdf", "UserGuide", 0),
      Write("C:\\Solvarine\\Checklist_Lightwave.txt", "LightwaveChecklist", 0),
      Write("C:\\Solvarine\\Checklist_Terragen.txt", "TerragenChecklist", 0),
      FailureNotice({"C:\\Solvarine", "C:\\Solvarine\\archive", "C:\\Solvarine\\Solvarine.exe",
                     "C:\\Solvarine\\7za.exe", "C:\\Solvarine\\Solvarine_PC.pdf",
                     "C:\\Solvarine\\Checklist_Lightwave.txt",
                     "C:\\Solvarine\\Checklist_Terragen.txt"}),
      "ReleaseListing()"},
     kExitIncomplete},
    {"desktop folder not found: no shortcut at the drive's root, failure notice",
     [](RecordingOperations& m) { m.desktop.clear(); },
     {"FolderIsListable(C:\\Solvarine) = 0", "MakeFolder(C:\\Solvarine) = 1",
      "FolderIsListable(C:\\Solvarine\\archive) = 0", "MakeFolder(C:\\Solvarine\\archive) = 1",
      "RemoveFile(C:\\Solvarine\\Checklist_Cinema4D.txt)",
      "RemoveFile(C:\\Solvarine\\Checklist_Maya.txt)",
      Write("C:\\Solvarine\\Solvarine.exe", "AppExecutable"),
      Write("C:\\Solvarine\\7za.exe", "ArchiverExecutable"), "SpecialFolderPath(0x0)",
      Write("C:\\Solvarine\\Solvarine_PC.pdf", "UserGuide"),
      Write("C:\\Solvarine\\Checklist_Lightwave.txt", "LightwaveChecklist"),
      Write("C:\\Solvarine\\Checklist_Terragen.txt", "TerragenChecklist"),
      FailureNotice({"Solvarine.lnk on the desktop"}), "ReleaseListing()"},
     kExitIncomplete},
    {"Windows folder not found: Explorer is not started, the tool is",
     [](RecordingOperations& m) { m.windows.clear(); },
     Concat({{"FolderIsListable(C:\\Solvarine) = 0", "MakeFolder(C:\\Solvarine) = 1",
              "FolderIsListable(C:\\Solvarine\\archive) = 0",
              "MakeFolder(C:\\Solvarine\\archive) = 1"},
             RemovalsAndWrites(kDesktopWrite),
             {kInstalledNotice, "SpecialFolderPath(0x24)", "EnterFolder(C:\\Solvarine)",
              "LaunchProgram(\"C:\\Solvarine\\Solvarine.exe\", \"C:\\Solvarine\", \"\")",
              "ReleaseListing()"}}),
     kExitInstalled},
};

TEST(InstallSequence, EveryScenarioMakesExactlyItsCalls) {
  for (const Scenario& scenario : kScenarios) {
    SCOPED_TRACE(scenario.name);
    RecordingOperations machine;
    scenario.machine(machine);
    const int exit_code = RunInstallSteps(machine, kPayload);
    EXPECT_EQ(exit_code, scenario.expected_exit_code);
    const size_t count = std::max(machine.calls.size(), scenario.expected_calls.size());
    for (size_t i = 0; i < count; ++i) {
      const std::string actual = i < machine.calls.size() ? machine.calls[i] : "(no call)";
      const std::string expected =
          i < scenario.expected_calls.size() ? scenario.expected_calls[i] : "(no call)";
      EXPECT_EQ(actual, expected) << "call " << i + 1;
    }
  }
}

// Each write failing alone: the notice names that one path, nothing is started, exit code 1,
// and every other item is still written.
TEST(InstallSequence, EachFailedWriteIsNamedAndStopsTheLaunches) {
  const char* const targets[] = {"C:\\Solvarine\\Solvarine.exe",
                                 "C:\\Solvarine\\7za.exe",
                                 "C:\\users\\artist\\Desktop\\Solvarine.lnk",
                                 "C:\\Solvarine\\Solvarine_PC.pdf",
                                 "C:\\Solvarine\\Checklist_Lightwave.txt",
                                 "C:\\Solvarine\\Checklist_Terragen.txt"};
  for (const char* target : targets) {
    SCOPED_TRACE(target);
    RecordingOperations machine;
    machine.unwritable.insert(target);
    EXPECT_EQ(RunInstallSteps(machine, kPayload), kExitIncomplete);
    EXPECT_EQ(machine.written.size(), 5u);
    EXPECT_EQ(machine.written.count(target), 0u);
    size_t notices = 0;
    for (const auto& call : machine.calls) {
      EXPECT_EQ(call.find("LaunchProgram"), std::string::npos) << call;
      EXPECT_EQ(call.find("EnterFolder"), std::string::npos) << call;
      if (call.rfind("ShowNotice", 0) == 0) {
        ++notices;
        EXPECT_EQ(call, FailureNotice({target}));
      }
    }
    EXPECT_EQ(notices, 1u);
    EXPECT_EQ(machine.calls.back(), "ReleaseListing()");
  }
}

TEST(InstallSequence, InstalledNoticeHasOneLineFeedAndNoCarriageReturn) {
  RecordingOperations machine;
  RunInstallSteps(machine, kPayload);
  const std::u16string& text = machine.notice_text;
  const size_t line_feed = text.find(u'\n');
  ASSERT_NE(line_feed, std::u16string::npos);
  EXPECT_EQ(text.find(u'\n', line_feed + 1), std::u16string::npos);
  EXPECT_EQ(text.find(u'\r'), std::u16string::npos);
  EXPECT_EQ(text.substr(0, line_feed).substr(line_feed - 13), u"C:\\Solvarine.");
}

// The notice waits for all six writes, and nothing is started before it has been closed.
TEST(InstallSequence, NoticeComesAfterEveryWriteAndBeforeAnyLaunch) {
  RecordingOperations machine;
  RunInstallSteps(machine, kPayload);
  size_t notice = 0, last_write = 0, first_launch = machine.calls.size(), writes = 0;
  for (size_t i = 0; i < machine.calls.size(); ++i) {
    const std::string& call = machine.calls[i];
    if (call.rfind("ShowNotice", 0) == 0) notice = i;
    if (call.rfind("WritePayloadItem", 0) == 0) last_write = i, ++writes;
    if (call.rfind("LaunchProgram", 0) == 0 && first_launch == machine.calls.size())
      first_launch = i;
  }
  EXPECT_EQ(writes, 6u);
  EXPECT_GT(notice, last_write);
  EXPECT_LT(notice, first_launch);
}

// A desktop path too long to take "\Solvarine.lnk" must not be written cut short.
TEST(InstallSequence, OverlongDesktopPathIsNotWrittenCut) {
  RecordingOperations machine;
  machine.desktop = "C:\\" + std::string(290, 'd');
  machine.folders.insert(machine.desktop);
  EXPECT_EQ(RunInstallSteps(machine, kPayload), kExitIncomplete);
  for (const auto& call : machine.calls) {
    EXPECT_EQ(call.find("DesktopShortcut"), std::string::npos) << call;
  }
}

TEST(WideText, AppendsAndMarksWhatDidNotFit) {
  WideText<8> text(u"abc");
  text.Append(u"def");
  EXPECT_EQ(Narrow(text.c_str()), "abcdef");
  EXPECT_FALSE(text.truncated());
  text.Append(u"gh");  // room for one more unit and the NUL
  EXPECT_EQ(Narrow(text.c_str()), "abcdefg");
  EXPECT_EQ(text.length(), 7u);
  EXPECT_TRUE(text.truncated());

  WideText<16> joined;
  joined.Append(text);
  EXPECT_TRUE(joined.truncated()) << "a cut text stays marked when it is copied on";
}

}  // namespace
