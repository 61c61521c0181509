#include "app/QtSpanish.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace pontix {

bool loadQtSpanish(QCoreApplication& application) {
  auto* translator = new QTranslator(&application);
  if (!translator->load("qtbase_es", QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

}  // namespace pontix
