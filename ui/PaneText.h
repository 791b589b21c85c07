#pragma once

#include <QPlainTextEdit>
#include <QString>

// Text panes hold one "\n" per line break; the messenger's texts (packets, entries, logs)
// break lines with CR LF. These convert between the two.
namespace PaneText {

// The pane's text with CR LF line breaks.
inline QString get(const QPlainTextEdit *pane)
{
    return pane->toPlainText().replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
}

// Shows text in the pane; CR LF, a lone CR and a lone LF each break a line.
inline QString shown(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
}

inline void set(QPlainTextEdit *pane, const QString &text) { pane->setPlainText(shown(text)); }

} // namespace PaneText
