#pragma once

#include <stdexcept>
#include <string>

namespace pontix {

enum class ErrorKind { NotFound, Corruption, InvalidArgument, IOError, Locked };

// Every failure of the platform services. The message is the Spanish text the user reads,
// written as "context: detail"; the remedy, when the thrower knows it, says what to do about it
// and follows the message on a line of its own in what().
class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message, const std::string& remedy = {});
  ErrorKind kind() const noexcept { return kind_; }
  // The fault alone, for a caller that says it in its own words or gives its own remedy.
  const std::string& message() const noexcept { return message_; }
  const std::string& remedy() const noexcept { return remedy_; }

 private:
  ErrorKind kind_;
  std::string message_;
  std::string remedy_;
};

// The remedy for a table or file another program holds.
inline constexpr const char* kCloseTheOtherProgram =
    "Cierre Horalia (o el programa que tenga abierta la tabla) y vuelva a intentarlo.";

// Memory ran out: said the same way wherever the operation stopped.
inline constexpr const char* kNoMemory = "No hay memoria suficiente para terminar la operación";
inline constexpr const char* kNoMemoryRemedy = "Cierre otros programas y vuelva a intentarlo.";

// What the user reads for a failure: the message, and what to do about it. An Error thrown
// without a remedy gets the usual one for its kind, any other failure a general one.
std::string userMessage(const std::exception& e);

// What to do when a folder or file cannot take a change, by the errno value behind it; `again`
// ends the sentence ("vuelva a intentarlo").
std::string systemErrorRemedy(int errnum, const std::string& again = "vuelva a intentarlo");

// The reason behind an errno value, in Spanish.
std::string systemErrorText(int errnum);

}  // namespace pontix
