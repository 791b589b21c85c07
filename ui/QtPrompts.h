#pragma once

#include "core/Prompts.h"
#include "ui/Dialogs.h"

class QWidget;

// The program's prompts and file and font dialogs: real Qt dialogs with the messenger's titles
// and buttons. Each box belongs to the window that raised it (its owner), else to the main
// window: the desktop keeps it above that window and Qt centres it over it. Box texts are
// shown as plain text, since many carry a peer's bytes.
class QtPrompts : public Prompts, public FileAndFontDialogs {
public:
    explicit QtPrompts(QWidget *mainWindow = nullptr) : mainWindow_(mainWindow) {}

    // The window of boxes that name no visible window of their own.
    void setMainWindow(QWidget *mainWindow) { mainWindow_ = mainWindow; }
    // The parent the next box gets: the owner's window while it is shown, else the main window.
    QWidget *parentWindow() const;

    void information(const QString &text) override;
    void message(const QString &text) override;
    Answer confirm(const QString &text, bool offerNoToAll) override;
    QString input(const QString &title, const QString &prompt, int maxLength, bool *accepted) override;
    QString openFileName(const QString &filter) override;
    QString saveFileName(const QString &suggestedName) override;
    QStringList openFileNames() override;
    QString existingFolder(const QString &start) override;
    QFont chooseFont(const QFont &initial, bool *accepted) override;
    void error(const QString &text) override;

private:
    QWidget *mainWindow_;
};
