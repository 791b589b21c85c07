#pragma once

#include <QByteArray>
#include <QString>

// Small private files of this installation (identity key, send counter, replay state): read
// whole with a bound on their size, and written whole with mode 0600 from the moment they
// exist, through a temporary file in the same folder that reaches the disk (fsync) before it is
// renamed over the old one; so a crash leaves either the old content or the new, never a mix.
class PrivateFile {
public:
    enum class ReadResult { Read, Missing, Failed };

    // Reads path into *content. Missing when there is no such file; Failed (with *error naming
    // the path) when it cannot be read or holds more than maxSize bytes.
    static ReadResult read(const QString &path, qsizetype maxSize, QByteArray *content, QString *error);
    // Replaces path's content by content; false (with *error naming the path) when that failed,
    // the old content then being left as it was.
    static bool write(const QString &path, const QByteArray &content, QString *error);
    // Adds bytes at the end of path, made with mode 0600 when missing; false (with *error) when
    // that failed.
    static bool append(const QString &path, const QByteArray &bytes, QString *error);
};
