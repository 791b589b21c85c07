#include "secure/IdentityKey.h"

#include "secure/PrivateFile.h"
#include "secure/Sodium.h"

#include <sodium.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr char FileHeader[] = "talvino-identity 1\n";
constexpr qsizetype FileSize = qsizetype(sizeof(FileHeader) - 1) + 2 * IdentityKey::SeedSize + 1;
// BLAKE2b personalisation of key ids: 16 bytes, the version of the derivation in it.
constexpr unsigned char KeyIdPersonal[crypto_generichash_blake2b_PERSONALBYTES + 1] = "talvino-keyid-v1";

static_assert(IdentityKey::PublicKeySize == crypto_sign_PUBLICKEYBYTES);
static_assert(IdentityKey::SeedSize == crypto_sign_SEEDBYTES);
static_assert(IdentityKey::X25519KeySize == crypto_scalarmult_curve25519_BYTES);

// The seed in a key file's content, or nullopt when the content is not exactly a key file.
std::optional<IdentityKey> parseKeyFile(const QByteArray &content)
{
    const qsizetype headerSize = qsizetype(sizeof(FileHeader) - 1);
    if (content.size() != FileSize || !content.startsWith(FileHeader) || !content.endsWith('\n'))
        return std::nullopt;
    QByteArray seed(IdentityKey::SeedSize, '\0');
    size_t decoded = 0;
    const bool ok = sodium_hex2bin(reinterpret_cast<unsigned char *>(seed.data()), size_t(seed.size()),
                                   content.constData() + headerSize, 2 * IdentityKey::SeedSize, nullptr,
                                   &decoded, nullptr)
            == 0
        && decoded == size_t(IdentityKey::SeedSize);
    std::optional<IdentityKey> key = ok ? IdentityKey::fromSeed(seed) : std::nullopt;
    sodium_memzero(seed.data(), size_t(seed.size()));
    return key;
}

} // namespace

IdentityKey::~IdentityKey()
{
    sodium_memzero(seed_.data(), seed_.size());
}

IdentityKey IdentityKey::fromSeedBytes(const unsigned char *seed)
{
    ensureSodium();
    IdentityKey key;
    unsigned char secret[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(key.public_.data(), secret, seed);
    sodium_memzero(secret, sizeof secret);
    std::copy(seed, seed + SeedSize, key.seed_.begin());
    return key;
}

IdentityKey IdentityKey::generate()
{
    ensureSodium();
    unsigned char seed[SeedSize];
    randombytes_buf(seed, sizeof seed);
    IdentityKey key = fromSeedBytes(seed);
    sodium_memzero(seed, sizeof seed);
    return key;
}

std::optional<IdentityKey> IdentityKey::fromSeed(const QByteArray &seed)
{
    if (seed.size() != SeedSize)
        return std::nullopt;
    return fromSeedBytes(reinterpret_cast<const unsigned char *>(seed.constData()));
}

std::optional<IdentityKey> IdentityKey::loadOrCreate(const QString &path, QString *error)
{
    QByteArray content;
    switch (PrivateFile::read(path, FileSize, &content, error)) {
    case PrivateFile::ReadResult::Missing: {
        IdentityKey key = generate();
        if (!key.save(path, error))
            return std::nullopt;
        return key;
    }
    case PrivateFile::ReadResult::Failed:
        sodium_memzero(content.data(), size_t(content.size()));
        return std::nullopt;
    case PrivateFile::ReadResult::Read:
        break;
    }
    std::optional<IdentityKey> key = parseKeyFile(content);
    sodium_memzero(content.data(), size_t(content.size()));
    if (!key && error)
        *error = u"not an identity key file (left as it is): "_s + path;
    return key;
}

bool IdentityKey::save(const QString &path, QString *error) const
{
    QByteArray content(FileSize, '\0');
    const qsizetype headerSize = qsizetype(sizeof(FileHeader) - 1);
    std::copy(FileHeader, FileHeader + headerSize, content.begin());
    // sodium_bin2hex writes the digits and a terminating zero, which the line feed replaces.
    sodium_bin2hex(content.data() + headerSize, 2 * SeedSize + 1, seed_.data(), seed_.size());
    content[FileSize - 1] = '\n';
    const bool saved = PrivateFile::write(path, content, error);
    sodium_memzero(content.data(), size_t(content.size()));
    return saved;
}

QByteArray IdentityKey::publicKey() const
{
    return QByteArray(reinterpret_cast<const char *>(public_.data()), PublicKeySize);
}

QByteArray IdentityKey::seed() const
{
    return QByteArray(reinterpret_cast<const char *>(seed_.data()), SeedSize);
}

QByteArray IdentityKey::keyId() const
{
    return keyIdOf(publicKey());
}

QByteArray IdentityKey::keyIdOf(const QByteArray &publicKey)
{
    ensureSodium();
    // BLAKE2b gives at least 16 bytes; the id is the first KeyIdSize of them.
    unsigned char hash[crypto_generichash_BYTES_MIN];
    const unsigned char salt[crypto_generichash_blake2b_SALTBYTES] = {};
    crypto_generichash_blake2b_salt_personal(hash, sizeof hash,
                                             reinterpret_cast<const unsigned char *>(publicKey.constData()),
                                             size_t(publicKey.size()), nullptr, 0, salt, KeyIdPersonal);
    return QByteArray(reinterpret_cast<const char *>(hash), KeyIdSize);
}

bool IdentityKey::isValidPublicKey(const QByteArray &key)
{
    if (key.size() != PublicKeySize)
        return false;
    ensureSodium();
    unsigned char x25519[X25519KeySize];
    return crypto_sign_ed25519_pk_to_curve25519(x25519, reinterpret_cast<const unsigned char *>(key.constData()))
        == 0;
}

void IdentityKey::x25519SecretKey(unsigned char *out) const
{
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secret[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(publicKey, secret, seed_.data());
    crypto_sign_ed25519_sk_to_curve25519(out, secret);
    sodium_memzero(secret, sizeof secret);
}
