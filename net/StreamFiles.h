#pragma once

#include <QtGlobal>

class QIODevice;

// What the socket base's stream operations need to know of a stream, and writing into one.
namespace StreamFiles {

// The descriptor of a QFile (or a class derived from it) that is open on a regular file, or -1
// for any other stream: only a regular file can be sent by sendfile(2) or spliced into.
// A buffered file has its pending writes flushed first, so the descriptor holds all of it.
int regularFileHandle(QIODevice &stream);

// Writes all of data to the stream; a device that takes nothing more is a failure.
void writeAll(QIODevice &stream, const char *data, qint64 size);
// The same for a descriptor open for writing.
void writeAll(int file, const char *data, qint64 size);

} // namespace StreamFiles
