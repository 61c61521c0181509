#include "platform/Error.h"

#include <cerrno>
#include <cstring>

namespace pontix {

std::string systemErrorText(int errnum) {
  switch (errnum) {
    case ENOSPC: return "no queda espacio en el disco";
    case EDQUOT: return "se ha superado la cuota de disco";
    case EACCES:
    case EPERM: return "permiso denegado";
    case EROFS: return "el disco es de solo lectura";
    case ENOENT: return "no existe";
    case ENOTDIR: return "una parte de la ruta no es una carpeta";
    case EISDIR: return "es una carpeta";
    case EIO: return "error de entrada/salida del disco";
    case EFBIG: return "el archivo es demasiado grande";
    case EMFILE:
    case ENFILE: return "hay demasiados archivos abiertos";
    case ENAMETOOLONG: return "el nombre es demasiado largo";
    case EXDEV: return "está en otro disco o sistema de archivos";
    case EEXIST: return "ya existe";
    case ENOTEMPTY: return "la carpeta no está vacía";
    case EBUSY: return "está en uso";
    case ELOOP: return "hay demasiados enlaces simbólicos encadenados";
    default: return "error del sistema " + std::to_string(errnum) + " (" + std::strerror(errnum) + ")";
  }
}

}  // namespace pontix
