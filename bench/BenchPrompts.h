#pragma once

#include "core/ErrorReporter.h"
#include "core/Prompts.h"
#include "ui/Dialogs.h"

#include <QFont>
#include <QString>
#include <cstdio>
#include <functional>

// The prompts of a benchmark peer: the file dialogs answer with the given paths, and every box
// and error goes to onShown (so a role can end when its end message comes) and, unless echo is
// cleared, to standard error. Boxes and errors are counted, not kept: unlike the tests'
// ScriptedPrompts, a flood of boxes costs no memory, and no box ever waits.
class BenchPrompts : public Prompts, public FileAndFontDialogs, public ErrorReporter {
public:
    QString openAnswer;
    QString saveAnswer;
    QString folderAnswer;
    std::function<void(const QString &text)> onShown;
    bool echo = true;
    int boxes = 0;
    int errors = 0;

    void information(const QString &text) override { shown(text); }
    void message(const QString &text) override { shown(text); }
    Answer confirm(const QString &text, bool) override
    {
        shown(text);
        return Answer::No;
    }
    QString input(const QString &title, const QString &, int, bool *accepted) override
    {
        shown(title);
        *accepted = false;
        return QString();
    }
    QString openFileName(const QString &) override { return openAnswer; }
    QString saveFileName(const QString &) override { return saveAnswer; }
    QStringList openFileNames() override { return openAnswer.isEmpty() ? QStringList() : QStringList{openAnswer}; }
    QString existingFolder(const QString &) override { return folderAnswer; }
    QFont chooseFont(const QFont &initial, bool *accepted) override
    {
        *accepted = false;
        return initial;
    }
    void error(const QString &text) override
    {
        ++errors;
        shown(text);
    }
    void reportError(const QString &text) override
    {
        ++errors;
        shown(text);
    }

private:
    void shown(const QString &text)
    {
        ++boxes;
        if (echo)
            std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        if (onShown)
            onShown(text);
    }
};
