// Fuzz target: presence datagrams that carry identity keys, read by a peer that seals. Each
// input is split at its first byte: that byte picks the sender's address (one of four), the rest
// is the datagram. The datagram goes through the presence service of a peer whose security
// follows it (keys by address, key changes of pinned addresses, the same key at two addresses).
// Checks: the parser accepts nothing longer than a datagram, whatever it accepts builds back
// to the same value, a key is kept exactly when the sealing flag is set, and the security's
// view of the sender (its link, its safety code, other addresses with its key) agrees with
// what the table holds.
#include "core/PeerSecurity.h"
#include "core/PresenceDatagram.h"
#include "core/PresenceService.h"
#include "fuzz/FuzzSupport.h"
#include "net/TZnUDP.h"
#include "secure/IdentityKey.h"

#include <cstddef>
#include <cstdint>
#include <memory>

using namespace Qt::Literals::StringLiterals;
using FuzzSupport::require;

namespace {

const QString Senders[] = {u"127.0.0.2"_s, u"127.0.0.3"_s, u"127.0.0.4"_s, u"10.1.2.3"_s};

// The receiving peer: an endpoint that sends nowhere that matters, presence on, its security
// in a scratch folder; one of its four senders has a pinned key, so that changes are seen.
struct Peer {
    Peer()
    {
        endpoint.RemotePort = 9; // the discard port: answers go nowhere
        presence.setMaxAnswerDelayMs(0);
        presence.start();
        KeyPins(folder).observe(Senders[0], IdentityKey::fromSeed(QByteArray(32, '\x42'))->publicKey());
    }

    QString folder = FuzzSupport::scratchFolder();
    TZnUDP endpoint;
    PresenceService presence{endpoint, QByteArray(16, '\x11')};
    PeerSecurity security{folder, presence};
};

Peer &peer()
{
    static Peer instance;
    return instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = FuzzSupport::input(data, size);
    if (input.isEmpty())
        return 0;
    const QString &from = Senders[quint8(input[0]) % std::size(Senders)];
    const QByteArray datagram = input.mid(1);

    const auto parsed = PresenceDatagram::parse(datagram);
    if (parsed) {
        require(datagram.size() <= PresenceDatagram::MaxDatagramSize, u"an overlong datagram was read"_s);
        require(PresenceDatagram::parse(parsed->build()) == parsed, u"a datagram does not build back"_s);
        require(parsed->supportsSealing() == (parsed->publicKey.size() == PresenceDatagram::PublicKeySize),
                u"a key without its flag, or the flag without a key"_s);
    }

    Peer &p = peer();
    p.presence.handleDatagram(datagram, from);
    const PeerSecurity::Link link = p.security.linkTo(from);
    const QString code = p.security.safetyCode(from);
    require(code.isEmpty() || code.size() == 14, u"a safety code of the wrong form"_s);
    if (link != PeerSecurity::Link::Plain) {
        require(!code.isEmpty(), u"a sealed link without a safety code"_s);
        require(link == PeerSecurity::Link::KeyChanged || p.security.peerKey(from).size() == 32,
                u"a sealed link without a key"_s);
    }
    (void)p.security.sameKeyElsewhere(from);
    return 0;
}
