#pragma once

#include <filesystem>
#include <string_view>

namespace pontix {

// Sets key=value in section of the INI file at path, as the Windows profile writer does:
// section and key match ignoring case and surrounding blanks and keep their spelling; the
// first section and its first matching key are used; the value is replaced in place and every
// other byte stays; a new key goes after the last key line of its section, a new section at
// the end; new lines end in CRLF. The file is replaced atomically.
// A file that starts with a byte-order mark (UTF-8, UTF-16LE, UTF-16BE) is edited in that
// encoding and keeps its mark; otherwise it is ANSI text, as the arguments are.
// Throws pontix::Error "Unable to write to <path>" when the file cannot be written (read-only
// file, missing folder, a folder at that path, a UTF-16 file that ends in half a character).
void writeProfileString(const std::filesystem::path& path, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace pontix
