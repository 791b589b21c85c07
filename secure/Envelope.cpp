#include "secure/Envelope.h"

#include "secure/IdentityKey.h"

#include <QtEndian>

#include <sodium.h>

#include <cstring>

static_assert(Envelope::NonceSize == crypto_aead_xchacha20poly1305_ietf_NPUBBYTES);
static_assert(Envelope::TagSize == crypto_aead_xchacha20poly1305_ietf_ABYTES);
static_assert(Envelope::KeyIdSize == IdentityKey::KeyIdSize);
static_assert(Envelope::HeaderSize == Envelope::NonceOffset + Envelope::NonceSize);

bool Envelope::hasValidHeader(QByteArrayView envelope)
{
    return envelope.size() >= Overhead && envelope.size() <= MaxDatagramSize && envelope[0] == TypeDigit
        && quint8(envelope[VersionOffset]) == Version;
}

quint64 Envelope::counter(QByteArrayView envelope)
{
    return qFromBigEndian<quint64>(envelope.data() + CounterOffset);
}

void Envelope::writeHeader(char *out, const char *keyId, quint64 counter)
{
    out[0] = TypeDigit;
    out[VersionOffset] = char(Version);
    std::memcpy(out + KeyIdOffset, keyId, KeyIdSize);
    qToBigEndian(counter, out + CounterOffset);
    randombytes_buf(out + NonceOffset, NonceSize);
}
