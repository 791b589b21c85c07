#include "secure/SealedChannel.h"

#include "secure/Envelope.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>

namespace {

const unsigned char *bytes(const char *data)
{
    return reinterpret_cast<const unsigned char *>(data);
}

} // namespace

SealedChannel::SealedChannel(const IdentityKey &own, QString counterPath, QString replayPath)
    : sessions_(own), counter_(std::move(counterPath)), replay_(std::move(replayPath))
{
    takeKeyId(own);
}

void SealedChannel::setIdentity(const IdentityKey &own)
{
    sessions_.setIdentity(own);
    takeKeyId(own);
}

void SealedChannel::takeKeyId(const IdentityKey &own)
{
    const QByteArray id = own.keyId();
    std::copy(id.begin(), id.end(), ownKeyId_.begin());
}

QByteArray SealedChannel::seal(const QByteArray &peerPublicKey, quint8 innerKind, const QByteArray &inner)
{
    if (inner.size() > Envelope::MaxInnerSize)
        return {};
    const SessionCache::Keys *keys = sessions_.keysFor(peerPublicKey);
    if (!keys)
        return {};
    // One allocation: the plaintext is laid out where its ciphertext goes and encrypted there.
    QByteArray envelope(Envelope::Overhead + inner.size(), Qt::Uninitialized);
    char *out = envelope.data();
    Envelope::writeHeader(out, ownKeyId_.data(), counter_.next());
    char *plain = out + Envelope::HeaderSize;
    plain[0] = char(innerKind);
    std::memcpy(plain + 1, inner.constData(), size_t(inner.size()));
    unsigned long long cipherSize = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(reinterpret_cast<unsigned char *>(plain), &cipherSize,
                                               bytes(plain), 1 + size_t(inner.size()), bytes(out),
                                               Envelope::HeaderSize, nullptr,
                                               bytes(out + Envelope::NonceOffset), keys->send.data());
    return envelope;
}

std::optional<SealedChannel::Opened> SealedChannel::drop(Drop reason, Drop *why)
{
    ++dropped_[size_t(reason)];
    if (why)
        *why = reason;
    return std::nullopt;
}

std::optional<SealedChannel::Opened> SealedChannel::open(
    const QByteArray &envelope, const std::function<QByteArray(const QByteArray &keyId)> &keyForId, Drop *why)
{
    if (!Envelope::hasValidHeader(envelope))
        return drop(Drop::Malformed, why);
    const QByteArray senderKey = keyForId(Envelope::senderKeyId(envelope).toByteArray());
    if (senderKey.isEmpty())
        return drop(Drop::UnknownKey, why);
    const quint64 counter = Envelope::counter(envelope);
    if (!replay_.accepts(senderKey, counter))
        return drop(Drop::Replayed, why);
    const SessionCache::Keys *keys = sessions_.keysFor(senderKey);
    if (!keys)
        return drop(Drop::UnknownKey, why);

    const char *header = envelope.constData();
    const qsizetype cipherSize = envelope.size() - Envelope::HeaderSize;
    QByteArray plain(cipherSize - Envelope::TagSize, Qt::Uninitialized);
    unsigned long long plainSize = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(
            reinterpret_cast<unsigned char *>(plain.data()), &plainSize, nullptr,
            bytes(header + Envelope::HeaderSize), size_t(cipherSize), bytes(header), Envelope::HeaderSize,
            bytes(header + Envelope::NonceOffset), keys->receive.data())
        != 0)
        return drop(Drop::NotOpened, why);
    replay_.record(senderKey, counter);

    Opened opened;
    opened.senderKey = senderKey;
    opened.innerKind = quint8(plain[0]);
    // Dropping the kind byte from the front moves no bytes and allocates nothing.
    plain.remove(0, 1);
    opened.inner = std::move(plain);
    return opened;
}
