#pragma once

#include "core/Gbk.h"

#include <QObject>

class QPlainTextEdit;

// Keeps a multi-line box's text within a number of GBK bytes (a Chinese character counts two,
// a line break counts as CR LF). Whatever is typed, pasted, dropped or composed beyond the
// limit is cut from the end of that insertion, a whole character at a time, the way a
// character limit clips it.
class GbkTextLimit : public QObject {
    Q_OBJECT
public:
    // Watches edit's document from now on; edit becomes the parent.
    GbkTextLimit(QPlainTextEdit *edit, int maxBytes);

    int maxBytes() const { return maxBytes_; }
    // The charset the text will be sent in (GBK unless set): bytes are counted in it.
    void setCharset(Gbk::Charset charset) { charset_ = charset; }
    Gbk::Charset charset() const { return charset_; }
    // Bytes of a pane's text as sent: GBK (or charset), with each "\n" as CR LF.
    static int byteLength(const QString &paneText, Gbk::Charset charset = Gbk::Charset::Gbk);

signals:
    // Some of an insertion was cut away.
    void clipped();

private:
    void clip(int position, int added);

    QPlainTextEdit *edit_;
    int maxBytes_;
    Gbk::Charset charset_ = Gbk::Charset::Gbk;
};
