#pragma once

#include "core/Prompts.h"

#include <QList>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <optional>

class QEventLoop;

// A prompts implementation for tests: records every box with its kind and text, and answers
// from queues the test fills. An empty queue gives the default answer (No, Cancel, empty).
// While holdBoxes() is in force every box stays open, running a nested event loop as a modal
// box does (so boxes open inside boxes), until release().
class ScriptedPrompts : public Prompts {
public:
    // Longest time a held box stays open when the test never releases it.
    static constexpr int HoldLimitMs = 60000;

    struct Shown {
        QString kind; // "information", "message", "confirm", "input", "error"; ScriptedDialogs adds
                      // "open", "save", "font"
        QString text;
        const QObject *owner; // the window the box belongs to; null for the main window
    };

    void information(const QString &text) override;
    void message(const QString &text) override;
    Answer confirm(const QString &text, bool offerNoToAll) override;
    QString input(const QString &title, const QString &prompt, int maxLength, bool *accepted) override;
    void error(const QString &text) override;

    // From now on every box stays open until release() (or holdLimitMs passed).
    void holdBoxes(int holdLimitMs = HoldLimitMs);
    // Closes every held box, innermost first as their loops unwind; later boxes close at once.
    void release();
    // Boxes open now, the most that were open at once, and whether a hold ran out of time.
    int openBoxes() const { return int(open_.size()); }
    int mostOpenBoxes = 0;
    bool holdTimedOut = false;

    // Texts shown so far, in order, optionally of one kind only.
    QStringList texts(const QString &kind = {}) const;
    // The window the last box of that text belonged to; null if none was shown.
    const QObject *ownerOf(const QString &text) const;

    QList<Shown> shown;
    QList<Answer> confirmAnswers;
    QList<std::optional<QString>> inputAnswers; // nullopt = Cancel
    // Called while a box stands open, before it is answered: lets a test run the event loop
    // (for example to deliver more datagrams) the way a real modal box would.
    std::function<void(const Shown &)> whileOpen;

protected:
    // The first answer of a queue, taken off it; nullopt when the queue is empty.
    template <typename T> static std::optional<T> takeFirst(QList<T> &queue)
    {
        if (queue.isEmpty())
            return std::nullopt;
        return queue.takeFirst();
    }
    // Notes a box (held open while holdBoxes() is in force) before it is answered.
    void record(const QString &kind, const QString &text);

private:
    void holdOpen();

    bool holding_ = false;
    int holdLimitMs_ = HoldLimitMs;
    QList<QPointer<QEventLoop>> open_;
};
