#include "tests/support/ScriptedPrompts.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>

void ScriptedPrompts::record(const QString &kind, const QString &text)
{
    shown.append({kind, text, owner()});
    if (whileOpen)
        whileOpen(shown.last());
    if (holding_)
        holdOpen();
}

void ScriptedPrompts::holdBoxes(int holdLimitMs)
{
    holding_ = true;
    holdLimitMs_ = holdLimitMs;
}

void ScriptedPrompts::release()
{
    holding_ = false;
    for (const QPointer<QEventLoop> &loop : open_)
        if (loop)
            loop->quit();
}

// The box's own event loop: timers, sockets and datagrams go on while it stands open.
void ScriptedPrompts::holdOpen()
{
    QEventLoop loop;
    open_.append(&loop);
    mostOpenBoxes = std::max(mostOpenBoxes, openBoxes());
    QTimer::singleShot(holdLimitMs_, &loop, [&] {
        holdTimedOut = true;
        loop.quit();
    });
    loop.exec();
    open_.removeOne(&loop);
}

void ScriptedPrompts::information(const QString &text) { record(QStringLiteral("information"), text); }

void ScriptedPrompts::message(const QString &text) { record(QStringLiteral("message"), text); }

void ScriptedPrompts::error(const QString &text) { record(QStringLiteral("error"), text); }

Prompts::Answer ScriptedPrompts::confirm(const QString &text, bool)
{
    record(QStringLiteral("confirm"), text);
    return takeFirst(confirmAnswers).value_or(Answer::No);
}

QString ScriptedPrompts::input(const QString &title, const QString &, int maxLength, bool *accepted)
{
    record(QStringLiteral("input"), title);
    const std::optional<QString> answer = takeFirst(inputAnswers).value_or(std::nullopt);
    if (accepted)
        *accepted = answer.has_value();
    return answer.value_or(QString()).left(maxLength);
}

QStringList ScriptedPrompts::texts(const QString &kind) const
{
    QStringList result;
    for (const Shown &s : shown)
        if (kind.isEmpty() || s.kind == kind)
            result << s.text;
    return result;
}

const QObject *ScriptedPrompts::ownerOf(const QString &text) const
{
    for (auto it = shown.crbegin(); it != shown.crend(); ++it)
        if (it->text == text)
            return it->owner;
    return nullptr;
}
