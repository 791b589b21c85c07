#pragma once

#include <QByteArray>
#include <QString>

// The code two people compare, by voice or side by side, to be sure their programs hold each
// other's real public keys: 12 decimal digits in three groups, "1234 5678 9012". Both sides get
// the same code whichever key they pass first. Derivation, version 1: BLAKE2b (16 bytes out,
// personalisation "talvino-safe-v1") of the two Ed25519 public keys, bytewise smaller first;
// its first 8 bytes as a big-endian number, modulo 10^12, zero-padded.
// An empty string when either key is not IdentityKey::PublicKeySize bytes.
QString safetyCode(const QByteArray &publicKeyA, const QByteArray &publicKeyB);
