#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

// The installation's long-term key pair: an Ed25519 key, kept as its 32-byte seed, whose
// X25519 form serves key agreement with peers. Peers know it by its public key and, shorter,
// by its key id. The secret bytes are wiped when an object goes away.
//
// Key file (text, mode 0600), exactly two lines, each ended by a line feed:
//   talvino-identity 1
//   <the seed as 64 lowercase hexadecimal digits>
// The public key is not stored: it follows from the seed.
class IdentityKey {
public:
    static constexpr int PublicKeySize = 32; // Ed25519 public key
    static constexpr int SeedSize = 32;      // Ed25519 seed: the secret, as stored
    static constexpr int KeyIdSize = 8;
    static constexpr int X25519KeySize = 32;

    static IdentityKey generate();
    // nullopt when seed is not SeedSize bytes.
    static std::optional<IdentityKey> fromSeed(const QByteArray &seed);
    // The key in the file at path; when there is no such file, a new key written there. A file
    // that exists but does not hold a key is left as it is: nullopt, and *error (naming the
    // path) says why; so is a new key that could not be written.
    static std::optional<IdentityKey> loadOrCreate(const QString &path, QString *error);
    // Writes the key file (see above); false with *error when it could not.
    bool save(const QString &path, QString *error) const;

    QByteArray publicKey() const;
    QByteArray seed() const;
    QByteArray keyId() const; // keyIdOf(publicKey())
    // The short name of a public key in envelopes: the first KeyIdSize bytes of its BLAKE2b
    // hash, personalised for this use.
    static QByteArray keyIdOf(const QByteArray &publicKey);
    // PublicKeySize bytes that have an X25519 form (not a point of small order, not malformed).
    static bool isValidPublicKey(const QByteArray &key);
    // The X25519 form of the secret key, for key agreement, into out (X25519KeySize bytes).
    void x25519SecretKey(unsigned char *out) const;

    IdentityKey(const IdentityKey &) = default;
    IdentityKey(IdentityKey &&) = default;
    IdentityKey &operator=(const IdentityKey &) = default;
    IdentityKey &operator=(IdentityKey &&) = default;
    ~IdentityKey();

private:
    IdentityKey() = default;
    static IdentityKey fromSeedBytes(const unsigned char *seed);

    std::array<unsigned char, SeedSize> seed_{};
    std::array<unsigned char, PublicKeySize> public_{};
};
