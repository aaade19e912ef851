// The buffer SpecialFolderPath hands the shell and the trim of what the shell wrote into it,
// on exact-size buffers so that the sanitizers catch a read past the buffer.
#include "system/special_folder_text.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// For failure messages: ASCII as it is, every other unit as \x{...}.
std::string Printable(const std::u16string& text) {
  std::string out = "\"";
  for (char16_t unit : text) {
    if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      out += "\\x{" + std::to_string(static_cast<unsigned>(unit)) + "}";
    }
  }
  return out + "\"";
}

std::u16string Text(const PathText& path) { return std::u16string(path.c_str(), path.length()); }

// The working buffer after the shell wrote `written` and its NUL into it, or, for null, left it
// as it was.
std::unique_ptr<WideChar[]> ShellBuffer(const std::u16string* written) {
  std::unique_ptr<WideChar[]> buffer(new WideChar[kShellPathUnits]);
  FillShellPathBuffer(buffer.get());
  if (written != nullptr) {
    written->copy(buffer.get(), written->size());
    buffer[written->size()] = 0;
  }
  return buffer;
}

TEST(FillShellPathBuffer, TwoHundredSeventyBlanksThenNul) {
  std::unique_ptr<WideChar[]> buffer(new WideChar[kShellPathUnits]);
  for (size_t i = 0; i < kShellPathUnits; ++i) buffer[i] = 0xFFFF;
  FillShellPathBuffer(buffer.get());
  ASSERT_EQ(kShellPathUnits, 271u);
  for (size_t i = 0; i < 270; ++i) {
    ASSERT_EQ(buffer[i], u' ') << "unit " << i << " after FillShellPathBuffer";
  }
  EXPECT_EQ(buffer[270], 0) << "unit 270 after FillShellPathBuffer";
}

TEST(TrimmedShellPath, RemovesBlanksAtBothEndsOnlyUpToTheShellsNul) {
  const std::u16string untouched = u"(untouched)";
  const struct {
    const char* what;
    std::u16string written;  // `untouched`: the shell wrote nothing
    std::u16string expected;
  } cases[] = {
      {"desktop path as is", u"C:\\users\\root\\Desktop", u"C:\\users\\root\\Desktop"},
      {"blanks inside kept", u"C:\\Some  User\\My Desktop", u"C:\\Some  User\\My Desktop"},
      {"one leading blank", u" C:\\x", u"C:\\x"},
      {"several leading blanks", u"    C:\\x", u"C:\\x"},
      {"several trailing blanks", u"C:\\x   ", u"C:\\x"},
      {"blanks at both ends, inside kept", u"  C:\\a b  ", u"C:\\a b"},
      {"leading tab kept", u"\tC:\\x", u"\tC:\\x"},
      {"trailing tab kept", u"C:\\x\t", u"C:\\x\t"},
      {"blanks outside tabs go, tabs stay", u"  \tC:\\x\t  ", u"\tC:\\x\t"},
      {"other white space kept", u"\u00A0C:\\x\r\n\u3000", u"\u00A0C:\\x\r\n\u3000"},
      {"single character", u"x", u"x"},
      {"single character in blanks", u"   x   ", u"x"},
      {"only blanks", u"      ", u""},
      {"one blank", u" ", u""},
      {"only a tab", u"\t", u"\t"},
      {"empty", u"", u""},
      {"untouched buffer", untouched, u""},
      // Only the NUL the shell wrote ends the path: the buffer's own blanks behind it never count.
      {"short path, blanks after the NUL", u"C:", u"C:"},
      {"blank before the NUL, blanks after", u"C:\\x ", u"C:\\x"},
      {"path filling the buffer", std::u16string(269, u'a') + u" ", std::u16string(269, u'a')},
  };
  for (const auto& c : cases) {
    const auto buffer = ShellBuffer(c.written == untouched ? nullptr : &c.written);
    const PathText path = TrimmedShellPath(buffer.get());
    EXPECT_EQ(Text(path), c.expected)
        << c.what << ": TrimmedShellPath(" << Printable(c.written) << ") gave "
        << Printable(Text(path)) << ", expected " << Printable(c.expected);
    EXPECT_FALSE(path.truncated())
        << c.what << ": TrimmedShellPath(" << Printable(c.written) << ") marked truncated";
  }
}

TEST(TrimmedShellPath, RunTooLongForAPathComesBackMarkedTruncated) {
  const struct {
    size_t units;  // of the non-blank run, between three blanks on either side
    bool truncated;
  } cases[] = {{298, false}, {299, false}, {300, true}, {400, true}};
  for (const auto& c : cases) {
    const std::u16string text = u"   " + std::u16string(c.units, u'p') + u"   ";
    const PathText path = TrimmedShellPath(text.c_str());
    EXPECT_EQ(path.truncated(), c.truncated)
        << "TrimmedShellPath(3 blanks, " << c.units << " units, 3 blanks).truncated()";
    if (!c.truncated) {
      EXPECT_EQ(Text(path), std::u16string(c.units, u'p'))
          << "TrimmedShellPath(3 blanks, " << c.units << " units, 3 blanks)";
    }
  }
}

TEST(TrimmedShellPath, EachCallGivesItsOwnStringIndependentOfTheBuffer) {
  const std::u16string desktop = u" C:\\users\\root\\Desktop ";
  const std::u16string windows = u"C:\\windows";
  auto first_buffer = ShellBuffer(&desktop);
  auto second_buffer = ShellBuffer(&windows);
  PathText first = TrimmedShellPath(first_buffer.get());
  const PathText second = TrimmedShellPath(second_buffer.get());
  // Neither result may lean on the buffer it came from, nor on the other result.
  FillShellPathBuffer(first_buffer.get());
  first_buffer.reset();
  second_buffer[0] = u'X';
  first.Append(u"\\Solvarine.lnk");
  EXPECT_EQ(Text(first), u"C:\\users\\root\\Desktop\\Solvarine.lnk")
      << "first result after its buffer was reused and released";
  EXPECT_EQ(Text(second), u"C:\\windows")
      << "second result after its buffer changed and the first result grew";
}

}  // namespace
