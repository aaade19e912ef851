// The command line and the shell's file and folder that LaunchProgram builds, checked on exact-size
// buffers so that the sanitizers catch a write past the room the launch allocates.
#include "system/launch_text.h"

#include <gtest/gtest.h>

#include "printable.h"

#include <memory>
#include <string>

namespace {

std::u16string Text(const WideChar* text) {
  return text == nullptr ? std::u16string(u"(null)") : std::u16string(text);
}

// The launch buffer, filled with a unit that is never written, so a missing NUL shows.
std::unique_ptr<WideChar[]> LaunchBuffer(const WideChar* program, const WideChar* parameter) {
  const size_t length = LaunchBufferLength(program, parameter);
  std::unique_ptr<WideChar[]> buffer(new WideChar[length]);
  for (size_t i = 0; i < length; ++i) buffer[i] = 0xFFFF;
  return buffer;
}

TEST(LaunchBufferLength, ProgramParameterAndFourMoreQuotedProgramTwice) {
  const struct {
    const WideChar* program;
    const WideChar* parameter;
    size_t expected;
  } cases[] = {
      {u"explorer.exe", u"C:\\Solvarine", 12 + 12 + 4},
      {u"x.exe", u"", 5 + 0 + 4},
      {nullptr, nullptr, 4},
      {u"\"C:\\a b\\x.exe\"", u"p", 14 + 1 + 4 + 14},
      {u"a\"b", u"", 3 + 4},  // a quote inside the name is no leading quote
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LaunchBufferLength(c.program, c.parameter), c.expected)
        << "LaunchBufferLength(" << Printable(c.program) << ", " << Printable(c.parameter) << ")";
  }
}

TEST(BuildCommandLine, QuotesTheProgramAndAppendsTheParameterUnchanged) {
  const struct {
    const char* what;
    const WideChar* program;
    const WideChar* parameter;
    const WideChar* expected;
  } cases[] = {
      {"installer's first call", u"explorer.exe", u"C:\\Solvarine",
       u"\"explorer.exe\" C:\\Solvarine"},
      {"installer's second call", u"Solvarine.exe", u"C:\\Solvarine",
       u"\"Solvarine.exe\" C:\\Solvarine"},
      {"program already quoted", u"\"C:\\a b\\x.exe\"", u"p", u"\"C:\\a b\\x.exe\" p"},
      {"quoted program, text after the quotes", u"\"x.exe\" -v", u"", u"\"x.exe\" -v"},
      {"empty parameter: no trailing blank", u"x.exe", u"", u"\"x.exe\""},
      {"null parameter", u"x.exe", nullptr, u"\"x.exe\""},
      {"parameter with blanks, not trimmed", u"x.exe", u" one  two ", u"\"x.exe\"  one  two "},
      {"parameter with quotes", u"x.exe", u"\"a b\" c", u"\"x.exe\" \"a b\" c"},
      {"program with a folder part", u"C:\\Program Files\\T\\t.exe", u"C:\\Solvarine",
       u"\"C:\\Program Files\\T\\t.exe\" C:\\Solvarine"},
      {"quote inside the name", u"a\"b", u"", u"\"a\"b\""},
      {"null program", nullptr, u"p", u"\"\" p"},
      {"null program and parameter", nullptr, nullptr, u"\"\""},
      {"a lone quote", u"\"", u"", u"\""},
  };
  for (const auto& c : cases) {
    auto buffer = LaunchBuffer(c.program, c.parameter);
    const size_t length = BuildCommandLine(c.program, c.parameter, buffer.get());
    EXPECT_EQ(Text(buffer.get()), Text(c.expected))
        << c.what << ": BuildCommandLine(" << Printable(c.program) << ", " << Printable(c.parameter)
        << ") gave " << Printable(buffer.get()) << ", expected " << Printable(c.expected);
    EXPECT_EQ(length, WideLength(c.expected)) << c.what << ": returned length";
  }
}

TEST(PrepareShellLaunch, FileAsGivenFolderFromTheBackwardScan) {
  const struct {
    const char* what;
    const WideChar* program;
    const WideChar* expected_directory;  // null: none
  } cases[] = {
      {"folder part", u"C:\\dir\\name.exe", u"C:\\dir\\"},
      {"two folder levels", u"C:\\a\\b\\n.exe", u"C:\\a\\b\\"},
      {"drive root", u"C:\\n.exe", u"C:\\"},
      {"bare name", u"Solvarine.exe", nullptr},
      {"only backslash is the first character", u"\\name.exe", nullptr},
      {"ends in a backslash: the whole string", u"C:\\dir\\", u"C:\\dir\\"},
      {"two characters, the second a backslash", u"a\\", u"a\\"},
      {"two backslashes: the second one counts", u"\\\\", u"\\\\"},
      {"one character", u"\\", nullptr},
      {"empty", u"", nullptr},
      {"forward slashes are no separator", u"C:/dir/n.exe", nullptr},
      {"quote inside the name", u"C:\\a\"b\\n", u"C:\\a\"b\\"},
  };
  for (const auto& c : cases) {
    for (const WideChar* folder : {static_cast<const WideChar*>(nullptr), u""}) {
      auto buffer = LaunchBuffer(c.program, u"");
      const ShellLaunchText text = PrepareShellLaunch(c.program, folder, buffer.get());
      EXPECT_EQ(text.file, c.program) << c.what << ": lpFile is not the caller's string";
      EXPECT_EQ(Text(text.directory), Text(c.expected_directory))
          << c.what << ": PrepareShellLaunch(" << Printable(c.program) << ", " << Printable(folder)
          << ") directory " << Printable(text.directory) << ", expected "
          << Printable(c.expected_directory);
    }
  }
}

TEST(PrepareShellLaunch, QuotedProgramGoesToTheShellUnquoted) {
  const struct {
    const char* what;
    const WideChar* program;
    const WideChar* expected_file;
    const WideChar* expected_directory;  // null: none
  } cases[] = {
      {"quoted path with blanks", u"\"C:\\a b\\x.exe\"", u"C:\\a b\\x.exe", u"C:\\a b\\"},
      {"text after the closing quote", u"\"C:\\a\\x.exe\" -v", u"C:\\a\\x.exe", u"C:\\a\\"},
      {"backslash only after the closing quote", u"\"x.exe\" \\y", u"x.exe", nullptr},
      {"no closing quote", u"\"C:\\a\\x.exe", u"C:\\a\\x.exe", u"C:\\a\\"},
      {"quoted bare name", u"\"x.exe\"", u"x.exe", nullptr},
      {"only backslash first inside the quotes", u"\"\\x.exe\"", u"\\x.exe", nullptr},
      {"quoted folder ending in a backslash", u"\"C:\\dir\\\"", u"C:\\dir\\", u"C:\\dir\\"},
      {"empty quotes", u"\"\"", u"", nullptr},
      {"a lone quote", u"\"", u"", nullptr},
  };
  for (const auto& c : cases) {
    auto buffer = LaunchBuffer(c.program, u"");
    const ShellLaunchText text = PrepareShellLaunch(c.program, u"", buffer.get());
    EXPECT_EQ(Text(text.file), Text(c.expected_file))
        << c.what << ": PrepareShellLaunch(" << Printable(c.program) << ") file "
        << Printable(text.file) << ", expected " << Printable(c.expected_file);
    EXPECT_EQ(Text(text.directory), Text(c.expected_directory))
        << c.what << ": PrepareShellLaunch(" << Printable(c.program) << ") directory "
        << Printable(text.directory) << ", expected " << Printable(c.expected_directory);
  }
}

TEST(PrepareShellLaunch, GivenWorkingFolderIsPassedOnUnchanged) {
  const struct {
    const WideChar* program;
    const WideChar* expected_file;
  } cases[] = {
      {u"C:\\dir\\name.exe", u"C:\\dir\\name.exe"},
      {u"name.exe", u"name.exe"},
      {u"\"C:\\a b\\x.exe\"", u"C:\\a b\\x.exe"},
  };
  const WideChar folder[] = u"D:\\work place\\";
  for (const auto& c : cases) {
    auto buffer = LaunchBuffer(c.program, u"");
    const ShellLaunchText text = PrepareShellLaunch(c.program, folder, buffer.get());
    EXPECT_EQ(text.directory, folder)
        << "PrepareShellLaunch(" << Printable(c.program) << ", " << Printable(folder)
        << ") directory " << Printable(text.directory) << " is not the given folder";
    EXPECT_EQ(Text(text.file), Text(c.expected_file))
        << "PrepareShellLaunch(" << Printable(c.program) << ") file " << Printable(text.file);
  }
}

TEST(PrepareShellLaunch, NullProgramIsAnEmptyFileWithNoFolder) {
  auto buffer = LaunchBuffer(nullptr, nullptr);
  const ShellLaunchText text = PrepareShellLaunch(nullptr, nullptr, buffer.get());
  ASSERT_NE(text.file, nullptr) << "PrepareShellLaunch(null) gave a null lpFile";
  EXPECT_EQ(Text(text.file), u"") << "PrepareShellLaunch(null) file " << Printable(text.file);
  EXPECT_EQ(text.directory, nullptr)
      << "PrepareShellLaunch(null) directory " << Printable(text.directory);
}

}  // namespace
