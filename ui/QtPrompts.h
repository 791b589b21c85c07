#pragma once

#include "core/Prompts.h"

class QWidget;

// The program's prompts: real Qt dialogs with the messenger's titles and buttons.
class QtPrompts : public Prompts {
public:
    explicit QtPrompts(QWidget *parent = nullptr) : parent_(parent) {}

    void information(const QString &text) override;
    void message(const QString &text) override;
    Answer confirm(const QString &text, bool offerNoToAll) override;
    QString input(const QString &title, const QString &prompt, int maxLength, bool *accepted) override;
    QString openFileName(const QString &filter) override;
    QString saveFileName(const QString &suggestedName) override;
    QFont chooseFont(const QFont &initial, bool *accepted) override;
    void error(const QString &text) override;

private:
    QWidget *parent_;
};
