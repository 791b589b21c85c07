#include "secure/TlsSocketBio.h"

#include <cerrno>
#include <openssl/bio.h>
#include <sys/socket.h>

namespace {

bool transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

using Link = TlsSocketBio::Link;

int socketCreate(BIO *bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

// A record is taken into the pending bytes; they go out at once unless the link combines and
// holds less than CombineLimit. A full socket refuses the record only when the pending bytes
// are at the limit, so that what is gathered stays bounded.
int socketWrite(BIO *bio, const char *data, size_t size, size_t *written)
{
    auto *link = static_cast<Link *>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (link->pending.size() - link->sent >= TlsSocketBio::CombineLimit && !link->flush()) {
        if (link->error == 0)
            BIO_set_retry_write(bio);
        return 0;
    }
    link->pending.append(data, size);
    *written = size;
    if (link->combining && link->pending.size() - link->sent < TlsSocketBio::CombineLimit)
        return 1;
    if (!link->flush() && link->error != 0)
        return 0;
    return 1;
}

int socketRead(BIO *bio, char *data, size_t size, size_t *count)
{
    auto *link = static_cast<Link *>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::recv(link->socket, data, size, MSG_DONTWAIT);
    if (n > 0) {
        *count = size_t(n);
        return 1;
    }
    if (n == 0)
        link->ended = true;
    else if (transient(errno))
        BIO_set_retry_read(bio);
    else
        link->error = errno;
    return 0;
}

long socketControl(BIO *bio, int command, long, void *)
{
    switch (command) {
    case BIO_CTRL_FLUSH: {
        auto *link = static_cast<Link *>(BIO_get_data(bio));
        BIO_clear_retry_flags(bio);
        if (link->flush())
            return 1;
        if (link->error == 0)
            BIO_set_retry_write(bio);
        return 0;
    }
    case BIO_CTRL_EOF:
        return static_cast<Link *>(BIO_get_data(bio))->ended ? 1 : 0;
    default:
        return 0;
    }
}

// Made once and never changed: a read-only table of functions.
const BIO_METHOD *method()
{
    static const BIO_METHOD *const table = [] {
        BIO_METHOD *made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "talvino socket");
        if (made
            && (BIO_meth_set_create(made, &socketCreate) != 1
                || BIO_meth_set_write_ex(made, &socketWrite) != 1
                || BIO_meth_set_read_ex(made, &socketRead) != 1
                || BIO_meth_set_ctrl(made, &socketControl) != 1)) {
            BIO_meth_free(made);
            made = nullptr;
        }
        return made;
    }();
    return table;
}

} // namespace

bool TlsSocketBio::Link::flush()
{
    while (hasPending()) {
        const ssize_t n = ::send(socket, pending.data() + sent, pending.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (!transient(errno))
                error = errno;
            if (errno == EINTR)
                continue;
            return false;
        }
        sent += size_t(n);
    }
    pending.clear();
    sent = 0;
    return true;
}

BIO *TlsSocketBio::open(Link *link)
{
    const BIO_METHOD *kind = method();
    BIO *bio = kind ? BIO_new(kind) : nullptr;
    if (bio)
        BIO_set_data(bio, link);
    return bio;
}
