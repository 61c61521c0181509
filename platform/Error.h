#pragma once

#include <stdexcept>
#include <string>

namespace pontix {

enum class ErrorKind { NotFound, Corruption, InvalidArgument, IOError, Locked };

// Every failure of the platform services. The message is the Spanish text the user reads,
// written as "context: detail".
class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  ErrorKind kind() const noexcept { return kind_; }

 private:
  ErrorKind kind_;
};

// The reason behind an errno value, in Spanish.
std::string systemErrorText(int errnum);

}  // namespace pontix
