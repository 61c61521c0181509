#pragma once

// The on-disk layout of .DBF files: named constants, one comment per offset, and the
// decoding of a header into a validated layout.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pontix::dbase::format {

// File header, dBase III/IV/5 and FoxPro (32 bytes) and dBase 7 (68 bytes).
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kDb7HeaderSize = 68;
constexpr std::size_t kOffVersion = 0;         // version byte, see kVersion*
constexpr std::size_t kOffUpdateDate = 1;      // YY (since 1900), MM, DD of the last update
constexpr std::size_t kOffRecordCount = 4;     // uint32 LE, records including deleted ones
constexpr std::size_t kOffHeaderLength = 8;    // uint16 LE, bytes before the first record
constexpr std::size_t kOffRecordLength = 10;   // uint16 LE, deletion flag + field widths
constexpr std::size_t kOffProductionMdx = 28;  // 0x01 when a production .MDX belongs to the table
constexpr std::size_t kOffLanguage = 29;       // language driver id (code page)

// Field descriptors: 32 bytes (dBase III/IV/5, FoxPro) or 48 bytes (dBase 7).
constexpr std::size_t kDescriptorSize = 32;
constexpr std::size_t kDb7DescriptorSize = 48;
constexpr std::size_t kFieldNameSize = 11;  // name, NUL padded (dBase 7: 32 bytes)
constexpr std::size_t kDb7FieldNameSize = 32;
constexpr std::size_t kOffFieldType = 11;      // dBase 7: 32
constexpr std::size_t kOffFieldWidth = 16;     // dBase 7: 33
constexpr std::size_t kOffFieldDecimals = 17;  // dBase 7: 34
constexpr std::size_t kOffFieldIndexed = 31;   // 0x01 when a production tag is on the field; dBase 7: 37
constexpr std::size_t kDb7OffFieldType = 32;
constexpr std::size_t kDb7OffFieldWidth = 33;
constexpr std::size_t kDb7OffFieldDecimals = 34;
constexpr std::size_t kDb7OffFieldIndexed = 37;

constexpr char kHeaderTerminator = 0x0D;
constexpr char kEndOfFile = 0x1A;
constexpr char kRecordActive = ' ';
constexpr char kRecordDeleted = '*';

constexpr unsigned char kVersionDbase4 = 0x03;        // dBase III/IV without memo: what we write
constexpr unsigned char kLanguageWindowsAnsi = 0x57;  // code page 1252

constexpr std::size_t kMaxFields = 255;
constexpr std::size_t kMaxFieldNameLength = 10;
constexpr int kMaxTextWidth = 254;

struct FieldLayout {
  std::string name;  // as stored, without padding
  char type = 'C';   // C N F L D I + O @ M B G ...
  int width = 0;
  int decimals = 0;
  std::size_t offset = 0;  // from the start of the record (the deletion flag is byte 0)
  bool indexed = false;
};

struct Layout {
  unsigned char version = kVersionDbase4;
  bool dbase7 = false;
  std::uint32_t recordCount = 0;
  std::size_t headerLength = 0;
  std::size_t recordLength = 0;
  bool productionMdx = false;
  unsigned char language = 0;
  std::vector<FieldLayout> fields;
};

// Reads the fixed part of a header: how many bytes the whole header has.
// Throws pontix::Error (Corruption) naming `file` for a file that cannot be a table.
std::size_t declaredHeaderLength(std::string_view first32, std::uint64_t fileSize, const std::string& file);

// Decodes and checks a whole header against the file size. Throws pontix::Error
// (Corruption) naming `file` and the fault.
Layout decode(std::string_view header, std::uint64_t fileSize, const std::string& file);

// The header of a new, empty dBase IV table (terminator included, end-of-file mark not).
std::string encodeNew(const std::vector<FieldLayout>& fields, bool productionMdx);

// Sets the record count and today's date in an encoded header.
void stampHeader(std::string& header, std::uint32_t recordCount);

std::uint32_t getU32(std::string_view bytes, std::size_t offset);
std::uint16_t getU16(std::string_view bytes, std::size_t offset);
void putU32(std::string& bytes, std::size_t offset, std::uint32_t value);
void putU16(std::string& bytes, std::size_t offset, std::uint16_t value);
// Today's local date as the three header bytes YY (since 1900), MM, DD.
std::string todayBytes();

}  // namespace pontix::dbase::format
