#pragma once

#include <openssl/types.h>

// OpenSSL's I/O over a connected non-blocking socket, as its own socket BIO does, but sending
// with MSG_NOSIGNAL: a peer that went away gives EPIPE instead of a SIGPIPE that would end the
// program. The socket stays open when the BIO is freed; its owner closes it.
class TlsSocketBio {
public:
    // What one BIO reads and writes, and the errno of its last failed call (0 for none). The
    // BIO only points to it: the link must outlive the BIO.
    struct Link {
        int socket = -1;
        int error = 0;
        bool ended = false; // the peer closed its sending side
    };

    // A new BIO over link->socket (one reference), or null when OpenSSL has no memory.
    static BIO *open(Link *link);
};
