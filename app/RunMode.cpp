#include "app/RunMode.h"

#include <string>

#include "platform/Profile.h"

namespace pontix {

std::optional<std::int32_t> parseHostHandle(std::string_view argument) {
  if (argument.empty()) return std::nullopt;
  std::uint64_t value = 0;
  int significant = 0;
  for (char c : argument) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return std::nullopt;
    if (value != 0 || digit != 0) ++significant;
    if (significant > 8) return std::nullopt;
    value = value * 16 + static_cast<std::uint64_t>(digit);
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::string invalidHandleText(std::string_view argument) {
  return "'$" + std::string(argument) + "' no es un valor entero válido";
}

bool namesOperation(std::string_view argument, std::string_view operation) {
  if (argument.size() != operation.size()) return false;
  for (std::size_t i = 0; i < argument.size(); ++i) {
    char c = argument[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != operation[i]) return false;
  }
  return true;
}

void writeResultFlag(const std::filesystem::path& iniFile, std::int32_t flag) {
  writeProfileString(iniFile, "Transformadores", "Transformado", std::to_string(flag));
}

}  // namespace pontix
