// Fuzz target: the stream receiver's header and body handling. Each input goes as one TCP
// stream over loopback to a real listening TZnStrmServ, whose connection component reads it
// in ServeConnection on its own thread; the sender then closes its side and reads what comes
// back. A second stream carries a well-formed post made from the same bytes. The target
// checks that the acknowledgement comes exactly when OnMSG ran, that OnMSG got the name and
// body as they stood in the stream, that no body file is left behind and that every
// connection ends.
#include "fuzz/FuzzSupport.h"
#include "net/TZnStrmServ.h"

#include <QDir>
#include <QFile>

#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using FuzzSupport::require;

namespace {

const QByteArray Ack = QByteArray("OK") + QByteArray(14, ' ');

// What reached OnMSG, on the connection's thread.
struct Delivery {
    QByteArray from;
    QByteArray body;
};

// One listening receiver on 127.0.0.1 (any free port) for the whole run.
struct Harness {
    Harness()
    {
        server.Port = 0;
        server.BindAddress = u"127.0.0.1"_s;
        server.TempFolder = folder;
        server.OnMSG = [this](TZnStrmServ *, const QByteArray &from, QFile *strm) {
            const Delivery d{from, strm->readAll()};
            std::lock_guard guard(lock);
            delivered = d;
        };
        server.OnDisconnect = [this](RIzarorozi *) { ++ended; };
        server.Loaded();
        sockaddr_in a{};
        socklen_t length = sizeof a;
        require(server.Listening()
                    && ::getsockname(server.Socket(), reinterpret_cast<sockaddr *>(&a), &length) == 0,
                u"the receiver does not listen"_s);
        port = ntohs(a.sin_port);
    }

    std::optional<Delivery> takeDelivery()
    {
        std::lock_guard guard(lock);
        std::optional<Delivery> d;
        d.swap(delivered);
        return d;
    }

    QString folder = FuzzSupport::scratchFolder();
    TZnStrmServ server;
    quint16 port = 0;
    int ended = 0;
    unsigned streams = 0;
    std::mutex lock;
    std::optional<Delivery> delivered;
};

// A plain TCP sender (not our code). Each stream comes from a source address of its own in
// 127.1.1.1 to 127.250.250.250, so that the closed connections waiting out their time on either
// side never meet a new connection with the same addresses and ports: the addresses come round
// again only after 15 million streams (a 127.1.0.0/16 range came round within a minute at 1100
// streams a second, and a run failed to connect just when it did).
class RawSender {
public:
    RawSender(unsigned n, quint16 port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        const QByteArray source = "127." + QByteArray::number(1 + (n / 62500) % 250) + '.'
            + QByteArray::number(1 + (n / 250) % 250) + '.' + QByteArray::number(1 + n % 250);
        const sockaddr_in from = FuzzSupport::ipv4(source.constData(), 0);
        const sockaddr_in to = FuzzSupport::ipv4("127.0.0.1", port);
        const bool connected = fd_ >= 0
            && ::bind(fd_, reinterpret_cast<const sockaddr *>(&from), sizeof from) == 0 && connectTo(to);
        require(connected,
                u"cannot connect to the receiver from %1: %2"_s.arg(
                    QString::fromLatin1(source), QString::fromLocal8Bit(std::strerror(errno))));
    }
    ~RawSender() { ::close(fd_); }
    RawSender(const RawSender &) = delete;
    RawSender &operator=(const RawSender &) = delete;

    // Sends everything, then closes the sending side: the receiver sees the end of the stream.
    void sendAndClose(const QByteArray &bytes) const
    {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::send(fd_, bytes.constData() + done, size_t(bytes.size() - done),
                                     MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue; // libFuzzer's timer signal
            if (n <= 0)
                break; // the receiver gave up on the stream early
            done += n;
        }
        ::shutdown(fd_, SHUT_WR);
    }
    // What has come back, without waiting (the receiver has closed by now).
    QByteArray received() const
    {
        QByteArray all;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            all.append(buffer, n);
        return all;
    }

private:
    // A blocking connect that a signal interrupts (libFuzzer's timer) goes on in the
    // background: wait for it to finish and take its result.
    bool connectTo(const sockaddr_in &to) const
    {
        if (::connect(fd_, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0)
            return true;
        if (errno != EINTR)
            return false;
        pollfd writable{fd_, POLLOUT, 0};
        while (::poll(&writable, 1, -1) < 0) {
            if (errno != EINTR)
                return false;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            return false;
        errno = error;
        return error == 0;
    }

    int fd_;
};

// Sends one stream, waits until the receiver has ended the connection and returns the reply
// and what OnMSG got.
std::pair<QByteArray, std::optional<Delivery>> post(Harness &h, const QByteArray &stream)
{
    const int before = h.ended;
    const RawSender sender(h.streams++, h.port);
    sender.sendAndClose(stream);
    require(FuzzSupport::pumpUntil([&] { return h.ended > before; }, 10000), u"the connection did not end"_s);
    require(h.server.ConnectionCount() == 0, u"an ended connection is still listed"_s);
    require(QDir(h.folder).entryList(QDir::Files | QDir::Hidden).isEmpty(), u"a body file was left behind"_s);
    return {sender.received(), h.takeDelivery()};
}

// A stream as it arrived: acknowledged exactly when OnMSG ran, and then the name and the body
// are the bytes that the header announced, where it announced them.
void checkAnyStream(Harness &h, const QByteArray &stream)
{
    const auto [reply, delivery] = post(h, stream);
    require(reply.isEmpty() || reply == Ack, u"the reply is neither nothing nor the acknowledgement"_s);
    require((reply == Ack) == delivery.has_value(),
            u"acknowledged without OnMSG, or OnMSG without acknowledgement"_s);
    if (!delivery)
        return;
    const qsizetype n = delivery->from.size();
    const qsizetype l = delivery->body.size();
    require(stream.size() >= 14 + n + l, u"OnMSG got more than the stream held"_s);
    require(n == 0 || stream.left(4).endsWith(QByteArray::number(n)),
            u"the name is not as long as announced"_s);
    require(stream.mid(4, n) == delivery->from, u"the name is not the stream's"_s);
    require(stream.mid(4 + n, 10).endsWith(QByteArray::number(l)), u"the body is not as long as announced"_s);
    require(stream.mid(14 + n, l) == delivery->body, u"the body is not the stream's"_s);
}

// A well-formed post of name and body arrives whole and is acknowledged.
void checkWellFormed(Harness &h, const QByteArray &name, const QByteArray &body)
{
    const QByteArray stream = QByteArray::number(name.size()).rightJustified(4, '0') + name
        + QByteArray::number(body.size()).rightJustified(10, ' ') + body;
    const auto [reply, delivery] = post(h, stream);
    require(reply == Ack, u"a well-formed post was not acknowledged"_s);
    require(delivery && delivery->from == name && delivery->body == body,
            u"a well-formed post arrived changed"_s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Harness harness;
    const QByteArray bytes = FuzzSupport::input(data, size);
    checkAnyStream(harness, bytes);
    // The well-formed post: a name of up to 31 bytes (as long as the first byte says), then
    // the rest as the body.
    const qsizetype nameLength = bytes.isEmpty() ? 0 : bytes[0] & 0x1F;
    checkWellFormed(harness, bytes.mid(1, nameLength), bytes.mid(1 + nameLength));
    return 0;
}
