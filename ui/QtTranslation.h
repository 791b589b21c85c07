#pragma once

class QCoreApplication;
class QTranslator;

// Qt's own texts (standard dialogs, their buttons, colour names) in Chinese, whatever the
// locale: the program's texts are all Chinese, and so are the dialogs around them.
namespace QtTranslation {

// Installs Qt's Simplified Chinese translation from Qt's translations folder on app and
// returns it (owned by app; deleting it uninstalls it); null when the translation is not
// installed, and Qt's texts then stay English.
QTranslator *install(QCoreApplication &app);

} // namespace QtTranslation
