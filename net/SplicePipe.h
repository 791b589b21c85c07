#pragma once

#include <QtGlobal>
#include <sys/types.h>

class QIODevice;

// A pipe that carries a body from a socket into a file by splice(2), so that the bytes never
// pass through the program: each round fills the empty pipe from the socket, then drains it
// wholly into the file. Both ends are non-blocking and closed with the object.
class SplicePipe {
public:
    // Opens the pipe and asks for a capacity of size bytes (the default stays when refused).
    explicit SplicePipe(int size);
    ~SplicePipe();
    SplicePipe(const SplicePipe &) = delete;
    SplicePipe &operator=(const SplicePipe &) = delete;

    // False when no pipe could be had (no descriptor to spare, say).
    bool valid() const { return in_ >= 0; }
    qint64 capacity() const { return capacity_; }

    // Moves up to count bytes (at most the capacity) from socket into the empty pipe, without
    // waiting: the count moved, 0 at the end of the stream, -1 with errno set.
    ssize_t fill(int socket, qint64 count);
    // Writes the count bytes the pipe holds into file at offset, which advances. 0 when all went,
    // else the errno of the failure; when it is EINVAL nothing has been written and the bytes are
    // still in the pipe (drainTo a stream then takes them).
    int drainTo(int file, off_t &offset, qint64 count);
    // Reads the count bytes the pipe holds through buffer (of bufferSize bytes) into stream.
    void drainTo(QIODevice &stream, qint64 count, char *buffer, qint64 bufferSize);

private:
    int out_ = -1; // the read end
    int in_ = -1;  // the write end
    qint64 capacity_ = 0;
};
