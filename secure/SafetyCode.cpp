#include "secure/SafetyCode.h"

#include "secure/IdentityKey.h"
#include "secure/Sodium.h"

#include <sodium.h>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// 16 bytes, zero-padded: the version of the derivation is part of it.
constexpr unsigned char Personal[crypto_generichash_blake2b_PERSONALBYTES] = "talvino-safe-v1";
constexpr quint64 CodeRange = 1'000'000'000'000ULL; // 12 decimal digits

} // namespace

QString safetyCode(const QByteArray &publicKeyA, const QByteArray &publicKeyB)
{
    if (publicKeyA.size() != IdentityKey::PublicKeySize || publicKeyB.size() != IdentityKey::PublicKeySize)
        return {};
    ensureSodium();
    const auto [first, second] = std::minmax(publicKeyA, publicKeyB);
    unsigned char both[2 * IdentityKey::PublicKeySize];
    std::copy(first.begin(), first.end(), both);
    std::copy(second.begin(), second.end(), both + IdentityKey::PublicKeySize);
    unsigned char hash[crypto_generichash_BYTES_MIN];
    const unsigned char salt[crypto_generichash_blake2b_SALTBYTES] = {};
    crypto_generichash_blake2b_salt_personal(hash, sizeof hash, both, sizeof both, nullptr, 0, salt, Personal);
    quint64 number = 0;
    for (int i = 0; i < 8; ++i)
        number = (number << 8) | hash[i];
    const QString digits = u"%1"_s.arg(number % CodeRange, 12, 10, QLatin1Char('0'));
    return digits.left(4) + u' ' + digits.mid(4, 4) + u' ' + digits.mid(8);
}
