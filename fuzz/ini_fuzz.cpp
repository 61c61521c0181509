// The profile (INI) writer over any existing file. The first byte chooses the section, key and
// value; the rest is the file as found. The result is read back: it keeps its byte-order mark,
// holds the value, and writing the same again changes nothing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/Profile.h"

namespace {

using namespace pontix;

struct Entry {
  std::string_view section, key;
};
// What the program writes, as other programs may have spelt it, and a few odd ones.
constexpr Entry kEntries[] = {{"Transformadores", "Transformado"},
                              {"TRANSFORMADORES", "transformado"},
                              {" Transformadores ", "Transformado "},
                              {"Horalia", "Ruta"},
                              {"a", "b"},
                              {"Sección", "Año"},
                              {"", ""},
                              {"x", "=y"}};
constexpr std::string_view kValues[] = {"1", "-1", "0", "", "C:\\KTEMP\\Horalia.ini", "Sí", " 7 ", "a;b"};

// The value as the file spells it: ASCII only, so a UTF-16 file has it as two bytes a character.
std::string encoded(std::string_view value, std::string_view file) {
  if (!file.starts_with("\xFF\xFE") && !file.starts_with("\xFE\xFF")) return std::string(value);
  const bool bigEndian = file.starts_with("\xFE\xFF");
  std::string out;
  for (char c : value) {
    out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
  }
  return out;
}

bool ascii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Entry& entry = kEntries[data[0] % std::size(kEntries)];
  const std::string_view value = kValues[(data[0] / std::size(kEntries)) % std::size(kValues)];
  const std::string_view before = fuzz::bytesOf(data + 1, size - 1);
  const std::filesystem::path file = fuzz::scratch() / "Horalia.ini";
  fuzz::put(file, before);
  try {
    writeProfileString(file, entry.section, entry.key, value);
  } catch (const Error& e) {
    fuzz::note(e);
    fuzz::expect(std::string_view(e.what()).starts_with("Unable to write to "), "un error inesperado");
    return 0;
  }
  const std::string after = io::readWholeFile(file);
  for (std::string_view bom : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"})
    if (before.starts_with(bom))
      fuzz::expect(after.starts_with(bom), "la marca de orden de bytes se ha perdido");
  if (ascii(value))
    fuzz::expect(after.find(encoded(value, after)) != std::string::npos, "el valor no está en el archivo");

  // A key with '=' in it cannot be found again: the line reads as a shorter key.
  if (entry.key.find('=') != std::string_view::npos) return 0;
  writeProfileString(file, entry.section, entry.key, value);
  fuzz::expect(io::readWholeFile(file) == after, "escribir lo mismo otra vez cambia el archivo");
  return 0;
}
