#include "exportar/Cursost.h"

#include <algorithm>

namespace pontix {
namespace {

bool blank(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

}  // namespace

bool coursesComplete(dbase::Table& cursos) {
  dbase::Field NIVEL = cursos.field("NIVEL"), CURSO = cursos.field("CURSO");
  for (cursos.first(); !cursos.eof(); cursos.next())
    if (blank(NIVEL.asText()) || blank(CURSO.asText())) return false;
  return true;
}

}  // namespace pontix
