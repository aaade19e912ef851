// The search path of a folder test and the trimmed copy of MakeFolder, checked on exact-size
// buffers so that the sanitizers catch a write past the room the operations allocate.
#include "system/folder_text.h"

#include <gtest/gtest.h>

#include "printable.h"

#include <memory>
#include <string>

namespace {

// A heap buffer of exactly `length` units, filled with a unit that is never written, so that a
// missing NUL shows and a unit past the end trips the address sanitizer.
std::unique_ptr<WideChar[]> Buffer(size_t length) {
  std::unique_ptr<WideChar[]> buffer(new WideChar[length]);
  for (size_t i = 0; i < length; ++i) buffer[i] = 0xFFFF;
  return buffer;
}

TEST(BuildListingPath, AddsABackslashOnlyWhereNoneEndsTheFolder) {
  const struct {
    const WideChar* folder;
    const WideChar* expected;
  } cases[] = {
      {u"C:\\Solvarine", u"C:\\Solvarine\\*.*"},
      {u"C:\\Solvarine\\archive", u"C:\\Solvarine\\archive\\*.*"},
      {u"C:\\", u"C:\\*.*"},  // a drive root: no second backslash
      {u"C:", u"C:\\*.*"},
      {u"C:\\Solvarine/", u"C:\\Solvarine/\\*.*"},  // a slash is no separator here
      {u"dir\\\\", u"dir\\\\*.*"},                  // only the last unit is looked at
      {u"\\", u"\\*.*"},
      {u"/", u"/\\*.*"},
      {u"a", u"a\\*.*"},
      {u" ", u" \\*.*"},
      {u"", u"*.*"},  // the current folder
      {nullptr, u"*.*"},
      {u"C:\\Program Files\\T\u00e4rnwick", u"C:\\Program Files\\T\u00e4rnwick\\*.*"},
  };
  for (const auto& c : cases) {
    const size_t room = ListingBufferLength(c.folder);
    const size_t folder_length = c.folder == nullptr ? 0 : std::u16string(c.folder).size();
    EXPECT_EQ(room, folder_length + 5) << "ListingBufferLength(" << Printable(c.folder) << ")";
    auto buffer = Buffer(room);
    const size_t length = BuildListingPath(c.folder, buffer.get());
    EXPECT_EQ(std::u16string(buffer.get()), std::u16string(c.expected))
        << "BuildListingPath(" << Printable(c.folder) << ") gave " << Printable(buffer.get())
        << ", expected " << Printable(c.expected);
    EXPECT_EQ(length, std::u16string(c.expected).size())
        << "BuildListingPath(" << Printable(c.folder) << ") length";
  }
}

TEST(MakeFolderCopy, DropsTrailingBlanksSlashesAndBackslashesOnly) {
  const struct {
    const WideChar* path;
    const WideChar* expected;
  } cases[] = {
      {u"C:\\Solvarine", u"C:\\Solvarine"},
      {u"C:\\Solvarine\\", u"C:\\Solvarine"},
      {u"C:\\Solvarine/", u"C:\\Solvarine"},
      {u"C:\\Solvarine ", u"C:\\Solvarine"},
      {u"C:\\Solvarine \\/ /\\\\  ", u"C:\\Solvarine"},
      {u"C:\\two words  ", u"C:\\two words"},  // a blank inside stays
      {u"  C:\\lead", u"  C:\\lead"},          // nothing from the front
      {u"C:\\dot.", u"C:\\dot."},              // a dot is not trimmed
      {u"C:\\tab\t", u"C:\\tab\t"},            // nor a tab
      {u"C:\\nbsp\u00a0", u"C:\\nbsp\u00a0"},  // nor a no-break space
      {u"C:\\", u"C:"},
      {u" /\\ \\/  ", u""},  // nothing left
      {u"\\", u""},
      {u"", u""},
  };
  for (const auto& c : cases) {
    auto buffer = Buffer(kMakeFolderLimit + 1);
    const size_t length = MakeFolderCopy(c.path, buffer.get());
    EXPECT_EQ(std::u16string(buffer.get()), std::u16string(c.expected))
        << "MakeFolderCopy(" << Printable(c.path) << ") gave " << Printable(buffer.get())
        << ", expected " << Printable(c.expected);
    EXPECT_EQ(length, std::u16string(c.expected).size())
        << "MakeFolderCopy(" << Printable(c.path) << ") length";
  }
}

TEST(MakeFolderCopy, KeepsTheFirst260UnitsThenTrims) {
  const std::u16string head = u"C:\\Solvarine\\";  // 13 units
  const struct {
    const char* what;
    std::u16string path;
    std::u16string expected;
  } cases[] = {
      {"exactly 260", head + std::u16string(247, u'a'), head + std::u16string(247, u'a')},
      {"261, the last dropped", head + std::u16string(247, u'a') + u"b",
       head + std::u16string(247, u'a')},
      {"far over", head + std::u16string(2000, u'a'), head + std::u16string(247, u'a')},
      {"cut right after a backslash", head + std::u16string(246, u'a') + u"\\next",
       head + std::u16string(246, u'a')},
      {"cut inside blanks", head + std::u16string(240, u'a') + u"          x",
       head + std::u16string(240, u'a')},
      {"trailers only past the cut", head + std::u16string(247, u'a') + u"   \\",
       head + std::u16string(247, u'a')},
      {"only trailers, over 260", std::u16string(300, u'/'), u""},
  };
  for (const auto& c : cases) {
    auto buffer = Buffer(kMakeFolderLimit + 1);
    const size_t length = MakeFolderCopy(c.path.c_str(), buffer.get());
    EXPECT_TRUE(std::u16string(buffer.get()) == c.expected)
        << "MakeFolderCopy [" << c.what << "] of " << c.path.size() << " units gave "
        << Printable(buffer.get()) << ", expected " << c.expected.size() << " units";
    EXPECT_EQ(length, c.expected.size()) << "MakeFolderCopy [" << c.what << "] length";
  }
}

}  // namespace
