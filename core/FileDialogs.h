#pragma once

#include <QString>
#include <QStringList>

// The open-file and save-file dialogs, for the windows of every layer. They belong to the same
// window as the boxes of the prompts interface: the program's and the tests' implementations
// are also the prompts, so a dialog is owned by the window whose handler raised it.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;

    // Open-file dialog; empty when cancelled. filter uses Qt's "Description (*.a *.b)" form.
    virtual QString openFileName(const QString &filter) = 0;
    // Save-file dialog for a suggested name; empty when cancelled.
    virtual QString saveFileName(const QString &suggestedName) = 0;
    // Open-file dialog that takes several files; empty when cancelled.
    virtual QStringList openFileNames() = 0;
    // Folder dialog starting in start; empty when cancelled.
    virtual QString existingFolder(const QString &start) = 0;
};
