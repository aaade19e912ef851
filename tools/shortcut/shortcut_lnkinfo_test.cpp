// Reads the shortcut that solvarine_shortcut writes with lnkinfo (liblnk), a reader that shares
// no code with the writer, and checks every field that it shows.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "installer/install_folder.h"

namespace {

namespace fs = std::filesystem;

const std::string kFolder = SOLVARINE_INSTALL_FOLDER;
const std::string kTarget = kFolder + "\\Solvarine.exe";

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Runs COMMAND through the shell; its exit code, and its standard output in OUTPUT.
int RunCommand(const std::string& command, std::string* output = nullptr) {
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    if (output != nullptr) output->append(buffer, got);
  }
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What lnkinfo shows, by section: the "Contains ..." lines, then "key : value" lines. Shell items
// and their extension blocks each get a section of their own ("Shell item: 3").
struct LnkInfo {
  std::vector<std::string> contains;
  std::map<std::string, std::map<std::string, std::string>> sections;
};

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

LnkInfo Parse(const std::string& output) {
  LnkInfo info;
  std::istringstream lines(output);
  std::string line, section, item;
  while (std::getline(lines, line)) {
    if (line.empty() || line.rfind("lnkinfo ", 0) == 0) continue;
    if (line[0] != '\t') {  // a section heading: "Link information:"
      section = Trim(line.substr(0, line.rfind(':')));
      item.clear();
      continue;
    }
    const std::string text = Trim(line);
    const std::size_t colon = text.find(':');
    if (text.rfind("Contains ", 0) == 0) {
      info.contains.push_back(text);
    } else if (text.rfind("Shell item:", 0) == 0) {
      item = "Shell item " + Trim(text.substr(colon + 1));
    } else if (text.rfind("Extension block:", 0) == 0) {
      item += " extension " + Trim(text.substr(colon + 1));
    } else if (colon != std::string::npos) {
      const std::string key = Trim(text.substr(0, colon));
      info.sections[item.empty() ? section : item][key] = Trim(text.substr(colon + 1));
    }
  }
  return info;
}

class ShortcutLnkinfoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new fs::path(fs::temp_directory_path() /
                            ("solvarine-shortcut-test-" + std::to_string(getpid())));
    fs::create_directories(*scratch_);
    link_ = new fs::path(*scratch_ / "Solvarine.lnk");
    write_status_ = RunCommand(Quoted(SOLVARINE_SHORTCUT_TOOL) + " " + Quoted(link_->string()));
    bytes_ = new std::vector<std::uint8_t>(ReadBytes(*link_));
    std::string output;
    lnkinfo_status_ =
        RunCommand(Quoted(LNKINFO_EXECUTABLE) + " " + Quoted(link_->string()), &output);
    info_ = new LnkInfo(Parse(output));
  }
  static void TearDownTestSuite() {
    fs::remove_all(*scratch_);
    delete info_;
    delete bytes_;
    delete link_;
    delete scratch_;
  }
  void SetUp() override {
    ASSERT_EQ(write_status_, 0) << "solvarine_shortcut " << *link_;
    ASSERT_EQ(lnkinfo_status_, 0) << "lnkinfo " << *link_;
  }

  // Checks a table of (section, key, expected value) rows.
  struct Field {
    const char* section;
    const char* key;
    std::string expected;
  };
  static void ExpectFields(const std::vector<Field>& fields) {
    for (const Field& field : fields) {
      const auto section = info_->sections.find(field.section);
      const std::string actual =
          section == info_->sections.end() || section->second.count(field.key) == 0
              ? "(not shown)"
              : section->second.at(field.key);
      EXPECT_EQ(actual, field.expected) << field.section << " / " << field.key;
    }
  }

  static fs::path* scratch_;
  static fs::path* link_;
  static std::vector<std::uint8_t>* bytes_;
  static LnkInfo* info_;
  static int write_status_;
  static int lnkinfo_status_;
};

fs::path* ShortcutLnkinfoTest::scratch_;
fs::path* ShortcutLnkinfoTest::link_;
std::vector<std::uint8_t>* ShortcutLnkinfoTest::bytes_;
LnkInfo* ShortcutLnkinfoTest::info_;
int ShortcutLnkinfoTest::write_status_;
int ShortcutLnkinfoTest::lnkinfo_status_;

TEST_F(ShortcutLnkinfoTest, WritesTheSameBytesEveryRun) {
  EXPECT_EQ(bytes_->size(), 555u) << "file size";
  const fs::path again = *scratch_ / "again.lnk";
  ASSERT_EQ(RunCommand(Quoted(SOLVARINE_SHORTCUT_TOOL) + " " + Quoted(again.string())), 0);
  EXPECT_TRUE(ReadBytes(again) == *bytes_) << "a second run wrote other bytes";
  // The sample payload's shortcut is the file that this test reads.
  EXPECT_TRUE(ReadBytes(SOLVARINE_SAMPLE_SHORTCUT) == *bytes_)
      << SOLVARINE_SAMPLE_SHORTCUT << " differs from a fresh run";
}

TEST_F(ShortcutLnkinfoTest, HasOnlyTheTargetPathsAndNoNameArgumentsOrIcon) {
  const std::vector<std::string> expected{"Contains a link target identifier",
                                          "Contains a relative path string",
                                          "Contains a working directory string"};
  EXPECT_EQ(info_->contains, expected) << "the link's parts";
  // lnkinfo does not list HasLinkInfo or IsUnicode; the header holds them.
  EXPECT_EQ(U32At(*bytes_, 0x14), 0x9Bu) << "LinkFlags";
  ExpectFields({
      {"Link information", "Description", "(not shown)"},
      {"Link information", "Command line arguments", "(not shown)"},
      {"Link information", "Icon location", "(not shown)"},
  });
}

TEST_F(ShortcutLnkinfoTest, LinkInformation) {
  ExpectFields({
      {"Link information", "File attribute flags", "0x00000020"},
      {"Link information", "File size", "241152 bytes"},
      {"Link information", "Icon index", "0"},
      {"Link information", "Creation time", "Mar 12, 2009 10:15:18.000000000 UTC"},
      {"Link information", "Modification time", "Mar 12, 2009 10:15:20.000000000 UTC"},
      {"Link information", "Access time", "Mar 16, 2009 09:02:44.000000000 UTC"},
      {"Link information", "Drive type", "Fixed (3)"},
      {"Link information", "Drive serial number", "0x5c3a91e7"},
      {"Link information", "Volume label", "Tarnwick Render Workstation"},
      {"Link information", "Local path", kTarget},
      {"Link information", "Relative path", "..\\..\\Solvarine\\Solvarine.exe"},
      {"Link information", "Working directory", kFolder},
  });
}

TEST_F(ShortcutLnkinfoTest, ShowsNormallyWithNoHotKey) {
  const auto& link = info_->sections["Link information"];
  char size_as_hex[16];
  std::snprintf(size_as_hex, sizeof size_as_hex, "0x%08x", U32At(*bytes_, 0x34));
  if (link.count("Show Window value") != 0 && link.at("Show Window value") == size_as_hex) {
    // This liblnk hands out FileSize for both values, so read the two header fields directly.
    EXPECT_EQ(U32At(*bytes_, 0x3C), 1u) << "ShowCommand (SW_SHOWNORMAL)";
    EXPECT_EQ(U32At(*bytes_, 0x40) & 0xFFFF, 0u) << "HotKey";
  } else {
    ExpectFields({
        {"Link information", "Show Window value", "0x00000001"},
        {"Link information", "Hot Key value", "0"},
    });
  }
}

TEST_F(ShortcutLnkinfoTest, TargetIdListNamesTheToolThroughMyComputer) {
  ExpectFields({
      {"Link target identifier", "Number of items", "4"},
      {"Shell item 1", "Class type indicator", "0x1f (Root folder)"},
      {"Shell item 1", "Shell folder identifier", "20d04fe0-3aea-1069-a2d8-08002b30309d"},
      {"Shell item 2", "Class type indicator", "0x2f (Volume)"},
      {"Shell item 2", "Volume name", kFolder.substr(0, 3)},
      {"Shell item 3", "Class type indicator", "0x31 (File entry: Directory)"},
      {"Shell item 3", "Name", "SOLVAR~1"},
      {"Shell item 3", "Modification time", "Mar 12, 2009 10:15:20"},
      {"Shell item 3", "File attribute flags", "0x00000010"},
      {"Shell item 3 extension 1", "Signature", "0xbeef0004 (File entry extension)"},
      {"Shell item 3 extension 1", "Long name", kFolder.substr(3)},
      {"Shell item 3 extension 1", "Creation time", "Mar 09, 2009 16:42:08"},
      {"Shell item 3 extension 1", "Access time", "Mar 16, 2009 09:02:44"},
      {"Shell item 4", "Class type indicator", "0x32 (File entry: File)"},
      {"Shell item 4", "Name", "SOLVAR~1.EXE"},
      {"Shell item 4", "Modification time", "Mar 12, 2009 10:15:20"},
      {"Shell item 4", "File attribute flags", "0x00000020"},
      {"Shell item 4 extension 1", "Signature", "0xbeef0004 (File entry extension)"},
      {"Shell item 4 extension 1", "Long name", "Solvarine.exe"},
      {"Shell item 4 extension 1", "Creation time", "Mar 12, 2009 10:15:18"},
      {"Shell item 4 extension 1", "Access time", "Mar 16, 2009 09:02:44"},
  });
  EXPECT_EQ(info_->sections.count("Shell item 5"), 0u) << "a fifth shell item";
}

TEST_F(ShortcutLnkinfoTest, TrackerBlockNamesTheMachineAndItsDroids) {
  ExpectFields({
      {"Distributed link tracking data", "Machine identifier", "tarnwick-ws02"},
      {"Distributed link tracking data", "Droid volume identifier",
       "6b2f1c4e-93a7-4d0b-8e21-5f7c0a9d3b64"},
      {"Distributed link tracking data", "Droid file identifier",
       "8e4c2a10-0f0c-11de-a5b3-0019b9e4c7d2"},
      {"Distributed link tracking data", "Birth droid volume identifier",
       "6b2f1c4e-93a7-4d0b-8e21-5f7c0a9d3b64"},
      {"Distributed link tracking data", "Birth droid file identifier",
       "8e4c2a10-0f0c-11de-a5b3-0019b9e4c7d2"},
  });
  // The tracker block is the only extra data: 96 bytes, then the zero terminal block.
  ASSERT_GE(bytes_->size(), 100u);
  EXPECT_EQ(U32At(*bytes_, bytes_->size() - 100), 0x60u) << "BlockSize";
  EXPECT_EQ(U32At(*bytes_, bytes_->size() - 96), 0xA0000003u) << "BlockSignature";
  EXPECT_EQ(U32At(*bytes_, bytes_->size() - 4), 0u) << "TerminalBlock";
}

TEST(ShortcutWriterTest, FailsWithoutWritingOnBadUse) {
  struct Case {
    const char* arguments;
    int expected_status;
  };
  const fs::path missing = fs::temp_directory_path() / "solvarine-no-such-folder" / "x.lnk";
  const std::vector<Case> cases{
      {"", 2},
      {"a.lnk b.lnk", 2},
      {missing.c_str(), 1},
  };
  for (const Case& c : cases) {
    const std::string command =
        Quoted(SOLVARINE_SHORTCUT_TOOL) + " " + c.arguments + " 2>/dev/null";
    EXPECT_EQ(RunCommand(command), c.expected_status) << command;
  }
  EXPECT_FALSE(fs::exists(missing)) << missing;
}

}  // namespace
