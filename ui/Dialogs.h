#pragma once

#include <QFont>
#include <QString>

// The file and font dialogs of the windows. They belong to the same window as the boxes of
// the prompts interface: the program's and the tests' implementations are also the prompts,
// so a dialog is owned by the window whose handler raised it (Prompts::Owner).
class FileAndFontDialogs {
public:
    virtual ~FileAndFontDialogs() = default;

    // Open-file dialog; empty when cancelled. filter uses Qt's "Description (*.a *.b)" form.
    virtual QString openFileName(const QString &filter) = 0;
    // Save-file dialog for a suggested name; empty when cancelled.
    virtual QString saveFileName(const QString &suggestedName) = 0;
    // Font dialog starting at initial; *accepted tells whether the user chose a font.
    virtual QFont chooseFont(const QFont &initial, bool *accepted) = 0;
};
