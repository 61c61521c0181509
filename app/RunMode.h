#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pontix {

// The host window handle of argument 2 read as "$" + argument: hexadecimal digits only, at
// least one, at most eight after leading zeros; values above the signed range wrap. Nothing
// when the text is not such a number.
std::optional<std::int32_t> parseHostHandle(std::string_view argument);

// The conversion error shown for an argument 2 that parseHostHandle refuses.
std::string invalidHandleText(std::string_view argument);

// Whether argument 1 names the operation: only the letters A-Z are lower-cased, then the
// texts must be equal.
bool namesOperation(std::string_view argument, std::string_view operation);

// Writes the result flag for the host: "Horalia.ini", section "Transformadores", key
// "Transformado". Throws pontix::Error "Unable to write to <path>".
void writeResultFlag(const std::filesystem::path& iniFile, std::int32_t flag);

}  // namespace pontix
