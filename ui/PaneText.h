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

// What a pane gives back for a text it was given to show, without laying it out: the
// characters its document keeps as paragraph, line or frame breaks come back as "\n", and a
// no-break space as a plain one.
inline QString givenBack(QString shownText)
{
    for (QChar &c : shownText) {
        switch (c.unicode()) {
        case QChar::ParagraphSeparator:
        case QChar::LineSeparator:
        case 0xFDD0: // the document's start of a frame
        case 0xFDD1: // and end of one
            c = u'\n';
            break;
        case QChar::Nbsp:
            c = u' ';
            break;
        default:
            break;
        }
    }
    return shownText;
}

} // namespace PaneText
