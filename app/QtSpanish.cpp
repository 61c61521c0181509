#include "app/QtSpanish.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace pontix {

bool loadQtSpanish(QCoreApplication& application) {
  // Sizes, dates and file types in the file dialog follow the default locale.
  QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
  auto* translator = new QTranslator(&application);
  if (!translator->load("qtbase_es", QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

}  // namespace pontix
