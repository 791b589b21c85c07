#pragma once

#include "core/Prompts.h"

#include <QList>
#include <QStringList>
#include <functional>
#include <optional>

// A prompts implementation for tests: records every box with its kind and text, and answers
// from queues the test fills. An empty queue gives the default answer (No, Cancel, empty).
class ScriptedPrompts : public Prompts {
public:
    struct Shown {
        QString kind; // "information", "message", "confirm", "input", "open", "save", "font", "error"
        QString text;
        const QObject *owner; // the window the box belongs to; null for the main window
    };

    void information(const QString &text) override;
    void message(const QString &text) override;
    Answer confirm(const QString &text, bool offerNoToAll) override;
    QString input(const QString &title, const QString &prompt, int maxLength, bool *accepted) override;
    QString openFileName(const QString &filter) override;
    QString saveFileName(const QString &suggestedName) override;
    QFont chooseFont(const QFont &initial, bool *accepted) override;
    void error(const QString &text) override;

    // Texts shown so far, in order, optionally of one kind only.
    QStringList texts(const QString &kind = {}) const;
    // The window the last box of that text belonged to; null if none was shown.
    const QObject *ownerOf(const QString &text) const;

    QList<Shown> shown;
    QList<Answer> confirmAnswers;
    QList<std::optional<QString>> inputAnswers; // nullopt = Cancel
    QStringList openAnswers;
    QStringList saveAnswers;
    QList<std::optional<QFont>> fontAnswers;
    // Called while a box stands open, before it is answered: lets a test run the event loop
    // (for example to deliver more datagrams) the way a real modal box would.
    std::function<void(const Shown &)> whileOpen;

private:
    void record(const QString &kind, const QString &text);
};
