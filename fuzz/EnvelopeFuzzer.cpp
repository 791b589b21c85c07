// Fuzz target: opening sealed envelopes. Each input is opened as one envelope by peer B, which
// knows one real peer, A, and maps two other key ids to keys that are no valid keys. A and B
// have fixed seeds, so the same in every run: the seeds in fuzz/corpus/envelope are envelopes
// A sealed for B, and they open. Checks: a datagram whose size, type digit or version do not fit
// is dropped as malformed; an envelope that opens comes from A, its inner bytes are all it
// carried, and the same bytes again are dropped as a replay; every drop is counted under its
// reason. Then A seals the input itself (cut to the largest inner size) for B, which must open
// it to the same kind and bytes.
#include "fuzz/FuzzSupport.h"
#include "secure/Envelope.h"
#include "secure/IdentityKey.h"
#include "secure/SealedChannel.h"

#include <cstddef>
#include <cstdint>
#include <memory>

using namespace Qt::Literals::StringLiterals;
using FuzzSupport::require;
using Drop = SealedChannel::Drop;

namespace {

const IdentityKey &keyA()
{
    static const IdentityKey key = *IdentityKey::fromSeed(QByteArray(IdentityKey::SeedSize, '\xa1'));
    return key;
}

const IdentityKey &keyB()
{
    static const IdentityKey key = *IdentityKey::fromSeed(QByteArray(IdentityKey::SeedSize, '\xb2'));
    return key;
}

// B's peer table: A's key, and for the ids of all zero bytes and all 0xff bytes a key without an
// X25519 form (a point of small order) and a key one byte short.
QByteArray lookup(const QByteArray &id)
{
    static const QByteArray idA = keyA().keyId();
    static const QByteArray publicA = keyA().publicKey();
    if (id == idA)
        return publicA;
    if (id == QByteArray(IdentityKey::KeyIdSize, '\0'))
        return QByteArray(IdentityKey::PublicKeySize, '\0');
    if (id == QByteArray(IdentityKey::KeyIdSize, '\xff'))
        return publicA.chopped(1);
    return {};
}

bool fitsHeader(const QByteArray &bytes)
{
    return bytes.size() >= Envelope::Overhead && bytes.size() <= Envelope::MaxDatagramSize && bytes[0] == '9'
        && bytes[1] == '\x01';
}

// B's channel for the inputs. Only an envelope that opens changes its state (a replay window):
// then the next input gets a fresh channel, so that each input meets the same state.
std::unique_ptr<SealedChannel> &receiver()
{
    static std::unique_ptr<SealedChannel> channel;
    if (!channel)
        channel = std::make_unique<SealedChannel>(keyB(), QString(), QString());
    return channel;
}

void checkOpening(const QByteArray &bytes)
{
    std::unique_ptr<SealedChannel> &atB = receiver();
    quint64 before[4];
    for (int i = 0; i < 4; ++i)
        before[i] = atB->dropped(Drop(i));
    Drop why{};
    const auto opened = atB->open(bytes, lookup, &why);
    if (!opened) {
        require(atB->dropped(why) == before[int(why)] + 1, u"a drop was not counted"_s);
        require(fitsHeader(bytes) || why == Drop::Malformed, u"a datagram that does not fit was not malformed"_s);
        return;
    }
    require(fitsHeader(bytes), u"an envelope that does not fit opened"_s);
    require(opened->senderKey == keyA().publicKey(), u"opened from someone but A"_s);
    require(opened->inner.size() == bytes.size() - Envelope::Overhead, u"inner size differs from the envelope's"_s);
    require(!atB->open(bytes, lookup, &why) && why == Drop::Replayed, u"the same envelope opened twice"_s);
    atB.reset();
}

void checkRoundTrip(const QByteArray &bytes)
{
    static SealedChannel fromA(keyA(), QString(), QString());
    static SealedChannel atB(keyB(), QString(), QString());
    const quint8 kind = bytes.isEmpty() ? 0 : quint8(bytes[0]);
    const QByteArray inner = bytes.left(Envelope::MaxInnerSize);
    const QByteArray envelope = fromA.seal(keyB().publicKey(), kind, inner);
    require(envelope.size() == Envelope::Overhead + inner.size(), u"sealed envelope of the wrong size"_s);
    const auto opened = atB.open(envelope, lookup);
    require(opened && opened->innerKind == kind && opened->inner == inner, u"a sealed input did not open as it was"_s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = FuzzSupport::input(data, size);
    checkOpening(bytes);
    checkRoundTrip(bytes);
    return 0;
}
