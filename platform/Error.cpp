#include "platform/Error.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace pontix {
namespace {

std::string joined(const std::string& message, const std::string& remedy) {
  if (remedy.empty()) return message;
  const bool closed =
      !message.empty() && (message.back() == '.' || message.back() == '?' || message.back() == '!');
  return message + (closed ? "\n" : ".\n") + remedy;
}

std::string usualRemedy(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::NotFound: return "Compruebe el nombre y la carpeta, y vuelva a intentarlo.";
    case ErrorKind::Corruption:
      return "Vuelva a crear el archivo: una tabla de trabajo, exportando otra vez; SOLUC, generando otra "
             "vez el horario en Horalia.";
    case ErrorKind::InvalidArgument: return "Corrija lo que se indica y vuelva a intentarlo.";
    case ErrorKind::IOError:
      return "Compruebe que queda espacio en el disco y que la carpeta admite cambios, y vuelva a "
             "intentarlo.";
    case ErrorKind::Locked:
      return "Cierre Horalia (o el programa que tenga abierto el archivo) y vuelva a intentarlo.";
  }
  return {};
}

}  // namespace

Error::Error(ErrorKind kind, const std::string& message, const std::string& remedy)
    : std::runtime_error(joined(message, remedy)), kind_(kind), message_(message), remedy_(remedy) {}

std::string userMessage(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return joined(kNoMemory, kNoMemoryRemedy);
  if (const auto* error = dynamic_cast<const Error*>(&e))
    return error->remedy().empty() ? joined(error->message(), usualRemedy(error->kind())) : error->what();
  return joined(e.what(), "Vuelva a intentarlo; si se repite, consulte la página de mensajes de la ayuda.");
}

std::string systemErrorRemedy(int errnum, const std::string& again) {
  if (errnum == ENOSPC || errnum == EDQUOT) return "Libere espacio en el disco y " + again + ".";
  if (errnum == EACCES || errnum == EPERM)
    return "Consiga permiso de escritura en esa carpeta (o quite la marca de solo lectura al archivo) y " +
           again + ".";
  if (errnum == EROFS) return "Copie los archivos a un disco que admita cambios y " + again + ".";
  if (errnum == ENOTDIR)
    return "Compruebe la ruta, una de cuyas partes es un archivo y no una carpeta, y " + again + ".";
  if (errnum == EISDIR || errnum == ENOTEMPTY)
    return "Cámbiele el nombre a la carpeta que está en el lugar del archivo, o llévela a otro sitio, y " +
           again + ".";
  if (errnum == EIO) return "Compruebe el disco (puede estar dañado o desconectado) y " + again + ".";
  return "Compruebe la carpeta y " + again + ".";
}

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
