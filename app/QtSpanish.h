#pragma once

class QCoreApplication;

namespace pontix {

// Makes Qt's own windows (the file dialog, message-box buttons, context menus) speak Spanish
// whatever the user's locale, as the rest of the program does, with Spanish sizes and dates. Call it before the first
// widget is made. Returns false when Qt's Spanish is not installed: Qt then stays English.
bool loadQtSpanish(QCoreApplication& application);

}  // namespace pontix
