#include "harness/TempDir.h"
#include "secure/IdentityKey.h"

#include <QFileInfo>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

TEST(IdentityKeyTest, IsCreatedOnceThenReloadedFromAPrivateFile)
{
    TempDir dir;
    const QString path = dir.file(u"identity.key"_s);
    QString error;
    const std::optional<IdentityKey> created = IdentityKey::loadOrCreate(path, &error);
    ASSERT_TRUE(created) << error.toStdString();
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(dir.read(u"identity.key"_s), "talvino-identity 1\n" + created->seed().toHex() + '\n');
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{u"identity.key"_s}); // no temporary left

    const std::optional<IdentityKey> reloaded = IdentityKey::loadOrCreate(path, &error);
    ASSERT_TRUE(reloaded) << error.toStdString();
    EXPECT_EQ(reloaded->publicKey(), created->publicKey());
    EXPECT_EQ(reloaded->keyId(), IdentityKey::keyIdOf(created->publicKey()));
    EXPECT_EQ(reloaded->keyId().size(), IdentityKey::KeyIdSize);
    EXPECT_NE(IdentityKey::generate().keyId(), created->keyId());
    EXPECT_EQ(IdentityKey::fromSeed(created->seed())->publicKey(), created->publicKey());
    for (int size : {0, 31, 33})
        EXPECT_FALSE(IdentityKey::fromSeed(QByteArray(size, 'x'))) << size;
}

TEST(IdentityKeyTest, AFileThatHoldsNoKeyIsLeftAsItIs)
{
    const QByteArray digits(64, 'a');
    const QByteArray contents[] = {
        "",
        "talvino-identity 1\n",
        "talvino-identity 2\n" + digits + '\n',
        "talvino-identity 1\n" + digits,                      // no final line feed
        "talvino-identity 1\n" + digits.chopped(2) + "\n\n\n", // right size, too few digits
        "talvino-identity 1\n" + digits.chopped(1) + "g\n",
        "talvino-identity 1\n" + digits + "\nmore\n",
        QByteArray(1 << 20, 'a'),
    };
    for (const QByteArray &content : contents) {
        TempDir dir;
        dir.write(u"identity.key"_s, content);
        QString error;
        EXPECT_FALSE(IdentityKey::loadOrCreate(dir.file(u"identity.key"_s), &error)) << content.left(40).data();
        EXPECT_TRUE(error.contains(dir.file(u"identity.key"_s))) << error.toStdString();
        EXPECT_EQ(dir.read(u"identity.key"_s), content);
    }
    QString error;
    EXPECT_FALSE(IdentityKey::loadOrCreate(u"/nonexistent-folder/identity.key"_s, &error));
    EXPECT_TRUE(error.contains(u"/nonexistent-folder/identity.key"_s)) << error.toStdString();
}

TEST(IdentityKeyTest, OnlyKeysWithAnX25519FormAreValid)
{
    const IdentityKey key = IdentityKey::generate();
    EXPECT_TRUE(IdentityKey::isValidPublicKey(key.publicKey()));
    EXPECT_FALSE(IdentityKey::isValidPublicKey(key.publicKey().chopped(1)));
    EXPECT_FALSE(IdentityKey::isValidPublicKey(key.publicKey() + '\0'));
    QByteArray neutral(IdentityKey::PublicKeySize, '\0'); // the neutral point: small order
    neutral[0] = 1;
    EXPECT_FALSE(IdentityKey::isValidPublicKey(neutral));
    EXPECT_FALSE(IdentityKey::isValidPublicKey(QByteArray(IdentityKey::PublicKeySize, '\0')));
}
