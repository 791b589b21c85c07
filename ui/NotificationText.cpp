#include "ui/NotificationText.h"

using namespace Qt::Literals::StringLiterals;

QString NotificationText::excerpt(const QString &text, int length)
{
    QString lines = text;
    lines.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
    QString out;
    int characters = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (characters == length)
            return out + u"…"_s;
        QChar c = lines.at(i);
        if (c.isHighSurrogate() && i + 1 < lines.size() && lines.at(i + 1).isLowSurrogate()) {
            out += c;
            c = lines.at(++i);
        } else if (c != u'\n' && (c.category() == QChar::Other_Control || c.isSurrogate())) {
            c = u' ';
        }
        out += c;
        ++characters;
    }
    return out;
}

QString NotificationText::escapeMarkup(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            out += u"&amp;"_s;
        else if (c == u'<')
            out += u"&lt;"_s;
        else if (c == u'>')
            out += u"&gt;"_s;
        else
            out += c;
    }
    return out;
}
