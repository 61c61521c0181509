// Builders this version cannot run yet. Each stops the operation with an error instead of
// letting it report success over tables that an earlier run left behind.

#include "exportar/Builders.h"
#include "platform/Error.h"

namespace pontix {
namespace {

[[noreturn]] void notYetBuilt(const std::string& what) {
  throw Error(ErrorKind::InvalidArgument, what + " en esta versión de Pontix");
}

}  // namespace

void buildAsigt(ProgramState&, Shell&) { notYetBuilt("La tabla ASIGT todavía no se puede generar"); }

}  // namespace pontix
