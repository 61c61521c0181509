#pragma once

#include <string>

struct _xmlError;

namespace pontix::xml {

// libxml2 speaks English; the user reads Spanish. The sentence for an error, without its position.
std::string spanishReason(const _xmlError& error);

// Memory ran out while reading: the document may well be right.
bool isOutOfMemory(const _xmlError& error);

}  // namespace pontix::xml
