#pragma once

#include <cstddef>
#include <openssl/types.h>
#include <string>

// OpenSSL's I/O over a connected non-blocking socket, as its own socket BIO does, but sending
// with MSG_NOSIGNAL: a peer that went away gives EPIPE instead of a SIGPIPE that would end the
// program. The socket stays open when the BIO is freed; its owner closes it.
// While the link combines, the records of one large write are gathered (up to CombineLimit)
// and go to the socket in few large sends instead of one send per 16 KiB record; flush()
// sends what was gathered. Otherwise every write goes out at once.
class TlsSocketBio {
public:
    // What one BIO reads and writes, and the errno of its last failed call (0 for none). The
    // BIO only points to it: the link must outlive the BIO.
    struct Link {
        int socket = -1;
        int error = 0;
        bool ended = false;     // the peer closed its sending side
        bool combining = false; // records are gathered, not sent one by one
        std::string pending;    // bytes taken but not yet sent, from sent on
        std::size_t sent = 0;

        bool hasPending() const { return sent < pending.size(); }
        // Sends what is pending; false when the socket is full (retry when writable) or failed
        // (error set).
        bool flush();
    };
    // Bytes gathered at most before they go out even while combining.
    static constexpr std::size_t CombineLimit = 512 * 1024;

    // A new BIO over link->socket (one reference), or null when OpenSSL has no memory.
    static BIO *open(Link *link);
};
