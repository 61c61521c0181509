#include "platform/dbase/DbfFormat.h"

#include <cstdio>
#include <ctime>

#include "platform/Error.h"

namespace pontix::dbase::format {
namespace {

[[noreturn]] void corrupt(const std::string& file, const std::string& detail) {
  throw Error(ErrorKind::Corruption, "La tabla " + file + " está dañada: " + detail);
}

bool isDbase7(unsigned char version) { return (version & 0x07) == 0x04; }

bool isKnownVersion(unsigned char version) {
  switch (version) {
    case 0x03:  // dBase III/IV, no memo
    case 0x83:  // dBase III with memo
    case 0x8B:  // dBase IV with memo
    case 0x43:  // dBase IV SQL table
    case 0x63:  // dBase IV SQL system table
    case 0xCB:  // dBase IV SQL table with memo
    case 0x30:  // Visual FoxPro
    case 0x31:  // Visual FoxPro with autoincrement
    case 0x32:  // Visual FoxPro with varchar
    case 0xF5:  // FoxPro 2 with memo
    case 0xFB:  // FoxBASE
    case 0x04:  // dBase 7
    case 0x8C:  // dBase 7 with memo
      return true;
    default: return false;
  }
}

std::string hexByte(unsigned char byte) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", byte);
  return hex;
}

std::string fieldName(std::string_view raw) {
  std::size_t end = raw.find('\0');
  std::string name(raw.substr(0, end));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

}  // namespace

std::uint32_t getU32(std::string_view b, std::size_t o) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[o])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[o + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[o + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[o + 3])) << 24;
}

std::uint16_t getU16(std::string_view b, std::size_t o) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[o]) | static_cast<unsigned char>(b[o + 1])
                                                                           << 8);
}

void putU32(std::string& b, std::size_t o, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[o + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void putU16(std::string& b, std::size_t o, std::uint16_t v) {
  b[o] = static_cast<char>(v & 0xFF);
  b[o + 1] = static_cast<char>(v >> 8);
}

std::string todayBytes() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {static_cast<char>(local.tm_year % 256), static_cast<char>(local.tm_mon + 1),
          static_cast<char>(local.tm_mday)};
}

std::size_t declaredHeaderLength(std::string_view first32, std::uint64_t fileSize, const std::string& file) {
  if (fileSize < kHeaderSize || first32.size() < kHeaderSize)
    corrupt(file, "el archivo tiene " + std::to_string(fileSize) + " bytes, menos que una cabecera");
  auto version = static_cast<unsigned char>(first32[kOffVersion]);
  if (!isKnownVersion(version))
    corrupt(file, "no es una tabla dBase (byte de versión " + hexByte(version) + ")");
  std::size_t headerLength = getU16(first32, kOffHeaderLength);
  std::size_t minimum = (isDbase7(version) ? kDb7HeaderSize : kHeaderSize) + 1;
  if (headerLength < minimum)
    corrupt(file, "la cabecera declara " + std::to_string(headerLength) + " bytes, menos del mínimo de " +
                      std::to_string(minimum));
  if (headerLength > fileSize)
    corrupt(file, "la cabecera declara " + std::to_string(headerLength) +
                      " bytes, pero el archivo solo tiene " + std::to_string(fileSize));
  return headerLength;
}

Layout decode(std::string_view header, std::uint64_t fileSize, const std::string& file) {
  Layout layout;
  layout.headerLength = declaredHeaderLength(header, fileSize, file);
  if (header.size() < layout.headerLength) corrupt(file, "la cabecera está incompleta");
  layout.version = static_cast<unsigned char>(header[kOffVersion]);
  layout.dbase7 = isDbase7(layout.version);
  layout.recordCount = getU32(header, kOffRecordCount);
  layout.recordLength = getU16(header, kOffRecordLength);
  layout.productionMdx = header[kOffProductionMdx] == 0x01;
  layout.language = static_cast<unsigned char>(header[kOffLanguage]);

  const std::size_t base = layout.dbase7 ? kDb7HeaderSize : kHeaderSize;
  const std::size_t step = layout.dbase7 ? kDb7DescriptorSize : kDescriptorSize;
  std::size_t pos = base;
  std::size_t offset = 1;
  while (true) {
    if (pos >= layout.headerLength)
      corrupt(file, "la cabecera declara " + std::to_string(layout.headerLength) + " bytes, pero sus " +
                        std::to_string(layout.fields.size()) + " campos no terminan en ese espacio");
    if (header[pos] == kHeaderTerminator) break;
    if (pos + step > layout.headerLength)
      corrupt(file, "la cabecera declara " + std::to_string(layout.headerLength) +
                        " bytes, pero la descripción del campo " + std::to_string(layout.fields.size() + 1) +
                        " no cabe en ellos");
    FieldLayout f;
    std::string_view d = header.substr(pos, step);
    if (layout.dbase7) {
      f.name = fieldName(d.substr(0, kDb7FieldNameSize));
      f.type = d[kDb7OffFieldType];
      f.width = static_cast<unsigned char>(d[kDb7OffFieldWidth]);
      f.decimals = static_cast<unsigned char>(d[kDb7OffFieldDecimals]);
      f.indexed = d[kDb7OffFieldIndexed] == 0x01;
    } else {
      f.name = fieldName(d.substr(0, kFieldNameSize));
      f.type = d[kOffFieldType];
      f.width = static_cast<unsigned char>(d[kOffFieldWidth]);
      f.decimals = static_cast<unsigned char>(d[kOffFieldDecimals]);
      f.indexed = d[kOffFieldIndexed] == 0x01;
    }
    if (f.width == 0) corrupt(file, "el campo '" + f.name + "' tiene anchura 0");
    // Every dBase and FoxPro type is a printable letter or sign; anything else is damage, and
    // shown as a number so that a NUL does not cut the message short.
    if (auto t = static_cast<unsigned char>(f.type); t <= 0x20 || t >= 0x7F)
      corrupt(file, "el campo '" + f.name + "' tiene un tipo de campo no válido (" + hexByte(t) + ")");
    f.offset = offset;
    offset += static_cast<std::size_t>(f.width);
    layout.fields.push_back(std::move(f));
    pos += step;
  }
  if (layout.fields.empty()) corrupt(file, "la tabla no tiene campos");
  if (layout.recordLength == 0) corrupt(file, "la longitud de registro es 0");
  if (layout.recordLength != offset)
    corrupt(file, "la longitud de registro declarada (" + std::to_string(layout.recordLength) +
                      " bytes) no coincide con la suma de los campos (" + std::to_string(offset) + " bytes)");
  std::uint64_t needed = layout.headerLength + std::uint64_t{layout.recordCount} * layout.recordLength;
  if (fileSize < needed)
    corrupt(file, "la cabecera declara " + std::to_string(layout.recordCount) + " registros, que ocupan " +
                      std::to_string(needed) + " bytes, pero el archivo solo tiene " +
                      std::to_string(fileSize));
  return layout;
}

std::string encodeNew(const std::vector<FieldLayout>& fields, bool productionMdx) {
  std::size_t headerLength = kHeaderSize + kDescriptorSize * fields.size() + 1;
  std::string h(headerLength, '\0');
  h[kOffVersion] = static_cast<char>(kVersionDbase4);
  std::size_t recordLength = 1;
  for (const FieldLayout& f : fields) recordLength += static_cast<std::size_t>(f.width);
  putU16(h, kOffHeaderLength, static_cast<std::uint16_t>(headerLength));
  putU16(h, kOffRecordLength, static_cast<std::uint16_t>(recordLength));
  h[kOffProductionMdx] = productionMdx ? 0x01 : 0x00;
  h[kOffLanguage] = static_cast<char>(kLanguageWindowsAnsi);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::size_t d = kHeaderSize + i * kDescriptorSize;
    const FieldLayout& f = fields[i];
    h.replace(d, f.name.size(), f.name);
    h[d + kOffFieldType] = f.type;
    h[d + kOffFieldWidth] = static_cast<char>(f.width);
    h[d + kOffFieldDecimals] = static_cast<char>(f.decimals);
    h[d + kOffFieldIndexed] = f.indexed ? 0x01 : 0x00;
  }
  h[headerLength - 1] = kHeaderTerminator;
  stampHeader(h, 0);
  return h;
}

void stampHeader(std::string& header, std::uint32_t recordCount) {
  header.replace(kOffUpdateDate, 3, todayBytes());
  putU32(header, kOffRecordCount, recordCount);
}

}  // namespace pontix::dbase::format
