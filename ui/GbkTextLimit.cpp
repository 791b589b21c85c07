#include "ui/GbkTextLimit.h"

#include "core/Gbk.h"

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>

GbkTextLimit::GbkTextLimit(QPlainTextEdit *edit, int maxBytes)
    : QObject(edit), edit_(edit), maxBytes_(maxBytes)
{
    connect(edit->document(), &QTextDocument::contentsChange, this,
            [this](int position, int, int added) { clip(position, added); });
}

int GbkTextLimit::byteLength(const QString &paneText, Gbk::Charset charset)
{
    return Gbk::byteLength(paneText, charset) + int(paneText.count(u'\n'));
}

void GbkTextLimit::clip(int position, int added)
{
    const QString text = edit_->toPlainText();
    const int total = byteLength(text, charset_);
    if (total <= maxBytes_)
        return;
    position = qBound(0, position, int(text.size()));
    added = qBound(0, added, int(text.size()) - position);
    const QString inserted = text.mid(position, added);
    int room = qMax(0, maxBytes_ - (total - byteLength(inserted, charset_)));
    int keep = 0;
    while (keep < inserted.size()) {
        const int width = inserted.at(keep).isHighSurrogate() && keep + 1 < inserted.size() ? 2 : 1;
        const int bytes = byteLength(inserted.mid(keep, width), charset_);
        if (bytes > room)
            break;
        room -= bytes;
        keep += width;
    }
    QTextCursor cursor(edit_->document());
    cursor.setPosition(position + keep);
    cursor.setPosition(position + added, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    emit clipped();
}
