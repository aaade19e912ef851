// solvarine_shortcut OUTPUT: writes the desktop shortcut of the sample payload, a shell link
// (MS-SHLLINK) to the installed tool, structure by structure.
//
// The link looks as if Windows XP x64 had made it for the tool in the install folder: shell file
// entries with version 3 extension blocks, a LinkInfo with the local path and a tracker block. What
// such a machine records about itself and the target (times, volume, machine name, droids) is
// fixed below, so that every build writes the same bytes.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "installer/install_folder.h"

namespace {

// ---- Names: the install folder comes from the one header that names it.

constexpr char kInstallFolder[] = SOLVARINE_INSTALL_FOLDER;
constexpr char kToolFileName[] = "Solvarine.exe";

// ---- What the machine recorded when the link was made.

struct Moment {
  int year, month, day, hour, minute, second;  // the machine's clock ran on UTC
};

constexpr Moment kFolderCreated{2009, 3, 9, 16, 42, 8};
constexpr Moment kFolderWritten{2009, 3, 12, 10, 15, 20};
constexpr Moment kToolCreated{2009, 3, 12, 10, 15, 18};
constexpr Moment kToolWritten{2009, 3, 12, 10, 15, 20};
constexpr Moment kToolAccessed{2009, 3, 16, 9, 2, 44};
constexpr std::uint32_t kToolSize = 241152;  // the tool of that day, not the sample's
constexpr std::uint32_t kVolumeSerial = 0x5C3A91E7;
constexpr char kVolumeLabel[] = "Tarnwick Render Workstation";
constexpr char kMachineName[] = "tarnwick-ws02";  // NetBIOS name, at most 15 characters

struct Guid {
  std::uint32_t data1;
  std::uint16_t data2, data3;
  std::uint8_t data4[8];
};

constexpr Guid kVolumeDroid{
    0x6B2F1C4E, 0x93A7, 0x4D0B, {0x8E, 0x21, 0x5F, 0x7C, 0x0A, 0x9D, 0x3B, 0x64}};
constexpr Guid kFileDroid{
    0x8E4C2A10, 0x0F0C, 0x11DE, {0xA5, 0xB3, 0x00, 0x19, 0xB9, 0xE4, 0xC7, 0xD2}};
// The target never moved, so its birth droids are its droids.
constexpr Guid kBirthVolumeDroid = kVolumeDroid;
constexpr Guid kBirthFileDroid = kFileDroid;

// ---- Fixed values of the format.

constexpr Guid CLSID_ShellLink{0x00021401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr Guid CLSID_MyComputer{
    0x20D04FE0, 0x3AEA, 0x1069, {0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D}};

constexpr std::uint32_t HasLinkTargetIDList = 0x01;
constexpr std::uint32_t HasLinkInfo = 0x02;
constexpr std::uint32_t HasRelativePath = 0x08;
constexpr std::uint32_t HasWorkingDir = 0x10;
constexpr std::uint32_t IsUnicode = 0x80;
constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr std::uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr std::uint32_t SW_SHOWNORMAL = 1;
constexpr std::uint32_t DRIVE_FIXED = 3;
constexpr std::uint32_t VolumeIDAndLocalBasePath = 0x1;
constexpr std::uint32_t TrackerDataBlockSignature = 0xA0000003;

constexpr std::uint8_t kRootItemType = 0x1F;
constexpr std::uint8_t kMyComputerSortIndex = 0x50;
constexpr std::uint8_t kDriveItemType = 0x2F;
constexpr std::uint8_t kFolderItemType = 0x31;
constexpr std::uint8_t kFileItemType = 0x32;
constexpr std::size_t kDriveNameField = 22;          // the drive item's name field, NUL-padded
constexpr std::uint16_t kExtensionVersion = 3;       // Windows XP and Server 2003
constexpr std::uint16_t kExtensionVersionId = 0x14;  // what those systems put after the times
constexpr std::uint32_t kFileEntryExtensionSignature = 0xBEEF0004;

// ---- Time in the two forms the link holds.

// Days from 1 January 1601 to the given date (proleptic Gregorian calendar).
std::int64_t DaysSince1601(int year, int month, int day) {
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = y / 400;  // years here are positive
  const int year_of_era = y - era * 400;
  const int day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const std::int64_t days_since_0000_03_01 = std::int64_t{era} * 146097 + day_of_era;
  constexpr std::int64_t kDaysTo1601 = 584694;  // from 0000-03-01 to 1601-01-01
  return days_since_0000_03_01 - kDaysTo1601;
}

// A FILETIME: 100-nanosecond intervals since 1601-01-01 00:00 UTC.
std::uint64_t FileTime(const Moment& m) {
  const std::int64_t seconds =
      DaysSince1601(m.year, m.month, m.day) * 86400 + m.hour * 3600 + m.minute * 60 + m.second;
  return static_cast<std::uint64_t>(seconds) * 10000000u;
}

std::uint16_t DosDate(const Moment& m) {
  return static_cast<std::uint16_t>(((m.year - 1980) << 9) | (m.month << 5) | m.day);
}

std::uint16_t DosTime(const Moment& m) {
  return static_cast<std::uint16_t>((m.hour << 11) | (m.minute << 5) | (m.second / 2));
}

// ---- Little-endian bytes.

class Bytes {
 public:
  std::size_t Size() const { return data_.size(); }
  const std::vector<std::uint8_t>& Data() const { return data_; }

  void U8(std::uint8_t value) { data_.push_back(value); }
  void U16(std::uint16_t value) { Unsigned(value, 2); }
  void U32(std::uint32_t value) { Unsigned(value, 4); }
  void U64(std::uint64_t value) { Unsigned(value, 8); }
  void Zeros(std::size_t count) { data_.insert(data_.end(), count, 0); }
  void Append(const Bytes& other) {
    data_.insert(data_.end(), other.data_.begin(), other.data_.end());
  }

  void GuidValue(const Guid& guid) {
    U32(guid.data1);
    U16(guid.data2);
    U16(guid.data3);
    data_.insert(data_.end(), guid.data4, guid.data4 + 8);
  }
  // Narrow text, all 7-bit, so it reads the same in every system code page.
  void Narrow(const std::string& text) { data_.insert(data_.end(), text.begin(), text.end()); }
  void NarrowZ(const std::string& text) {
    Narrow(text);
    U8(0);
  }
  void Utf16(const std::string& text) {
    for (char c : text) U16(static_cast<std::uint8_t>(c));
  }
  void Utf16Z(const std::string& text) {
    Utf16(text);
    U16(0);
  }
  // StringData: a 16-bit count of characters, then the characters, no terminator.
  void CountedUtf16(const std::string& text) {
    U16(static_cast<std::uint16_t>(text.size()));
    Utf16(text);
  }

  void PatchU16(std::size_t at, std::size_t value) { Patch(at, value, 2); }
  void PatchU32(std::size_t at, std::size_t value) { Patch(at, value, 4); }

 private:
  void Unsigned(std::uint64_t value, int count) {
    for (int i = 0; i < count; ++i) data_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  void Patch(std::size_t at, std::size_t value, int count) {
    for (int i = 0; i < count; ++i) data_[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }

  std::vector<std::uint8_t> data_;
};

// ---- Names as the link needs them.

struct TargetNames {
  std::string drive;        // "C:\"
  std::string folder;       // "Solvarine": the one folder below the drive's root
  std::string local_path;   // "C:\Solvarine\Solvarine.exe"
  std::string working_dir;  // "C:\Solvarine"
  std::string relative;     // from the desktop, two levels below the drive's root
};

bool IsPlainAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
  }
  return true;
}

// The link names a folder directly below a drive's root: "X:\name".
bool SplitInstallFolder(TargetNames& names) {
  const std::string folder = kInstallFolder;
  if (folder.size() < 4 || folder[1] != ':' || folder[2] != '\\' || !IsPlainAscii(folder) ||
      folder.find('\\', 3) != std::string::npos) {
    return false;
  }
  names.drive = folder.substr(0, 3);
  names.folder = folder.substr(3);
  names.local_path = folder + "\\" + kToolFileName;
  names.working_dir = folder;
  names.relative = "..\\..\\" + names.folder + "\\" + kToolFileName;
  return true;
}

bool FitsEightDotThree(const std::string& name) {
  const std::size_t dot = name.find('.');
  const std::string base = name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  return !base.empty() && base.size() <= 8 && extension.size() <= 3 &&
         extension.find('.') == std::string::npos && name.find(' ') == std::string::npos;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The short name that the file system gives the first entry of its kind in a folder.
std::string ShortName(const std::string& name) {
  if (FitsEightDotThree(name)) return Upper(name);
  const std::size_t dot = name.rfind('.');
  std::string base;
  for (char c : name.substr(0, dot)) {
    if (c != ' ' && c != '.' && base.size() < 6) base += c;
  }
  std::string result = Upper(base) + "~1";
  if (dot != std::string::npos) result += "." + Upper(name.substr(dot + 1, 3));
  return result;
}

// ---- The structures.

void ShellLinkHeader(Bytes& out) {
  out.U32(0x4C);  // HeaderSize
  out.GuidValue(CLSID_ShellLink);
  out.U32(HasLinkTargetIDList | HasLinkInfo | HasRelativePath | HasWorkingDir | IsUnicode);
  out.U32(FILE_ATTRIBUTE_ARCHIVE);
  out.U64(FileTime(kToolCreated));   // CreationTime
  out.U64(FileTime(kToolAccessed));  // AccessTime
  out.U64(FileTime(kToolWritten));   // WriteTime
  out.U32(kToolSize);
  out.U32(0);  // IconIndex
  out.U32(SW_SHOWNORMAL);
  out.U16(0);  // HotKey
  out.U16(0);  // Reserved1
  out.U32(0);  // Reserved2
  out.U32(0);  // Reserved3
}

// One item of the ID list: its 16-bit size, which counts itself, then its data.
void Item(Bytes& list, const Bytes& data) {
  list.U16(static_cast<std::uint16_t>(data.Size() + 2));
  list.Append(data);
}

// A shell file entry with its version 3 extension block, which carries the long name.
Bytes FileEntry(std::uint8_t type, const std::string& name, std::uint32_t size,
                std::uint16_t attributes, const Moment& created, const Moment& written,
                const Moment& accessed) {
  Bytes item;  // laid out as it will be, without the item's size field
  item.U8(type);
  item.U8(0);
  item.U32(size);
  item.U16(DosDate(written));
  item.U16(DosTime(written));
  item.U16(attributes);
  item.NarrowZ(ShortName(name));
  if ((item.Size() + 2) % 2 != 0) item.U8(0);  // the extension block starts on a 16-bit boundary

  const std::size_t extension_offset = item.Size() + 2;  // from the start of the item
  const std::size_t extension_start = item.Size();
  item.U16(0);  // its size, patched below
  item.U16(kExtensionVersion);
  item.U32(kFileEntryExtensionSignature);
  item.U16(DosDate(created));
  item.U16(DosTime(created));
  item.U16(DosDate(accessed));
  item.U16(DosTime(accessed));
  item.U16(kExtensionVersionId);
  item.U16(0);  // no localised name follows the long name
  item.Utf16Z(name);
  item.U16(static_cast<std::uint16_t>(extension_offset));
  item.PatchU16(extension_start, item.Size() - extension_start);
  return item;
}

void LinkTargetIDList(Bytes& out, const TargetNames& names) {
  Bytes list;

  Bytes root;
  root.U8(kRootItemType);
  root.U8(kMyComputerSortIndex);
  root.GuidValue(CLSID_MyComputer);
  Item(list, root);

  Bytes drive;
  drive.U8(kDriveItemType);
  drive.Narrow(names.drive);
  drive.Zeros(kDriveNameField - names.drive.size());
  Item(list, drive);

  Item(list, FileEntry(kFolderItemType, names.folder, 0, FILE_ATTRIBUTE_DIRECTORY, kFolderCreated,
                       kFolderWritten, kToolAccessed));
  Item(list, FileEntry(kFileItemType, kToolFileName, kToolSize, FILE_ATTRIBUTE_ARCHIVE,
                       kToolCreated, kToolWritten, kToolAccessed));

  list.U16(0);                                       // TerminalID
  out.U16(static_cast<std::uint16_t>(list.Size()));  // IDListSize
  out.Append(list);
}

void LinkInfo(Bytes& out, const TargetNames& names) {
  constexpr std::size_t kHeaderSize = 0x1C;
  Bytes volume;   // VolumeID
  volume.U32(0);  // VolumeIDSize, patched below
  volume.U32(DRIVE_FIXED);
  volume.U32(kVolumeSerial);
  volume.U32(0x10);  // VolumeLabelOffset
  volume.NarrowZ(kVolumeLabel);
  volume.PatchU32(0, volume.Size());

  const std::size_t base_path_offset = kHeaderSize + volume.Size();
  const std::size_t suffix_offset = base_path_offset + names.local_path.size() + 1;
  const std::size_t size = suffix_offset + 1;

  out.U32(static_cast<std::uint32_t>(size));  // LinkInfoSize
  out.U32(kHeaderSize);
  out.U32(VolumeIDAndLocalBasePath);
  out.U32(kHeaderSize);  // VolumeIDOffset
  out.U32(static_cast<std::uint32_t>(base_path_offset));
  out.U32(0);  // CommonNetworkRelativeLinkOffset
  out.U32(static_cast<std::uint32_t>(suffix_offset));
  out.Append(volume);
  out.NarrowZ(names.local_path);  // LocalBasePath
  out.NarrowZ("");                // CommonPathSuffix
}

void StringData(Bytes& out, const TargetNames& names) {
  out.CountedUtf16(names.relative);     // RELATIVE_PATH
  out.CountedUtf16(names.working_dir);  // WORKING_DIR
}

void ExtraData(Bytes& out) {
  const std::size_t start = out.Size();
  out.U32(0x60);  // BlockSize
  out.U32(TrackerDataBlockSignature);
  out.U32(0x58);  // Length
  out.U32(0);     // Version
  out.Narrow(kMachineName);
  out.Zeros(16 - (sizeof kMachineName - 1));  // MachineID: NUL-padded to 16 bytes
  out.GuidValue(kVolumeDroid);
  out.GuidValue(kFileDroid);
  out.GuidValue(kBirthVolumeDroid);
  out.GuidValue(kBirthFileDroid);
  if (out.Size() - start != 0x60) std::abort();  // the block's fields add up to its size
  out.U32(0);                                    // TerminalBlock
}

static_assert(sizeof kMachineName - 1 <= 15, "a NetBIOS name has at most 15 characters");

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: solvarine_shortcut OUTPUT\n");
    return 2;
  }
  TargetNames names;
  if (!SplitInstallFolder(names)) {
    std::fprintf(stderr,
                 "solvarine_shortcut: the install folder \"%s\" must be one printable ASCII "
                 "folder directly below a drive's root (X:\\name)\n",
                 kInstallFolder);
    return 1;
  }

  Bytes link;
  ShellLinkHeader(link);
  LinkTargetIDList(link, names);
  LinkInfo(link, names);
  StringData(link, names);
  ExtraData(link);

  const char* path = argv[1];
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "solvarine_shortcut: cannot create %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  const bool written = std::fwrite(link.Data().data(), 1, link.Size(), file) == link.Size();
  if (std::fclose(file) != 0 || !written) {
    std::fprintf(stderr, "solvarine_shortcut: cannot write %s\n", path);
    std::remove(path);
    return 1;
  }
  return 0;
}
