#pragma once

#include "tests/support/ScriptedPrompts.h"
#include "ui/Dialogs.h"

// Scripted prompts that also answer the file and font dialogs: each dialog is recorded among
// the boxes (kinds "open", "openmany", "folder", "save", "font", with the window it belongs to) and answered from a
// queue the test fills. An empty queue gives Cancel.
class ScriptedDialogs : public ScriptedPrompts, public FileAndFontDialogs {
public:
    QString openFileName(const QString &filter) override;
    QString saveFileName(const QString &suggestedName) override;
    QStringList openFileNames() override;
    QString existingFolder(const QString &start) override;
    QFont chooseFont(const QFont &initial, bool *accepted) override;

    QStringList openAnswers;
    QStringList saveAnswers;
    QList<QStringList> openManyAnswers;
    QStringList folderAnswers;
    QList<std::optional<QFont>> fontAnswers; // nullopt = Cancel
};
