#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class LogStamp;
class QIODevice;

// One message read from a chat log file.
struct LogEntry {
    QString name;    // the name in its header: the buddy's entry or the own nickname
    qint64 time = 0; // seconds since 1970 (UTC)
    QString text;    // its lines joined by CR LF
};

// Reads the entries of one chat log file, as the message window writes them:
//
//     name ":[" date " " time "]" CR text CR  CR LF
//
// which reads back as a header line, the text's lines and an empty line; a lone CR, a lone LF
// and CR LF each end a line. The file is GBK; bytes that are not (a legacy file, damage) become
// U+FFFD, and so do control characters.
//
// A header is a line "name:[stamp]" whose stamp is a date and a time (LogStamp) that follows an
// empty line or begins the file, or that names one of the known names (the buddy, the own
// nickname: an entry cut short is followed by the next header directly). Any other line is
// text, so a message that holds a line looking like a header stays whole unless that line
// follows an empty line and could be a header. Text before the first header is kept as a
// message of the buddy. Nothing is dropped: a truncated entry is kept as far as it goes, and
// an over-long line or text is read in pieces.
class LogReader {
public:
    // A line is read in pieces of at most this many bytes.
    static constexpr qsizetype MaxLineBytes = 64 * 1024;
    // A longer text goes on in a further entry with the same header.
    static constexpr qsizetype MaxTextChars = 64 * 1024;
    // The file is read in blocks of this size.
    static constexpr qsizetype BlockBytes = 64 * 1024;

    // buddy names text before the first header; fallbackTime dates it when no header follows.
    LogReader(QIODevice &file, const LogStamp &stamps, QString buddy, QStringList knownNames,
              qint64 fallbackTime);

    // The next entry with text; false at the end of the file.
    bool next(LogEntry *entry);

private:
    // One line's bytes (or a piece of a long one) decoded; false at the end of the file.
    bool readLine(QString *line, bool *continues);
    bool fill();
    bool isHeader(const QString &line, QString *name, qint64 *time) const;
    // Hands over the entry built so far, when it has text; true when it did.
    bool take(LogEntry *entry, qint64 orphanTime);

    QIODevice &file_;
    const LogStamp &stamps_;
    QString buddy_;
    QStringList knownNames_;
    qint64 fallbackTime_;

    QByteArray buffer_;
    qsizetype position_ = 0;
    bool atEnd_ = false;

    bool haveHeader_ = false;
    LogEntry current_;
    bool afterEmptyLine_ = true; // the start of the file counts as one
    bool lineContinues_ = false; // the last piece read ended inside a line
    bool firstLine_ = true;      // no line of the current entry's text yet
};
