#include "core/PresenceDatagram.h"
#include "core/Gbk.h"
#include "core/PresenceId.h"
#include "harness/TempDir.h"

#include <QFile>
#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using Kind = PresenceDatagram::Kind;

namespace {

const QByteArray ExampleId = QByteArray::fromHex("00112233445566778899aabbccddeeff");

PresenceDatagram example(Kind kind)
{
    PresenceDatagram d;
    d.kind = kind;
    d.id = ExampleId;
    d.statusMode = 1;
    d.capabilities = PresenceDatagram::CapabilityGb18030;
    d.nickname = Gbk::encode(u"小明"_s);
    return d;
}

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

} // namespace

// The examples of docs/presence.md, byte for byte, both ways.
TEST(PresenceDatagram, EachKindIsBuiltAndParsedByteForByte)
{
    const struct {
        Kind kind;
        QByteArray wire;
    } cases[] = {
        {Kind::Hello, hex("380148 00112233445566778899aabbccddeeff 01 0001 04 d0a1c3f7")},
        {Kind::Answer, hex("380141 00112233445566778899aabbccddeeff 01 0001 04 d0a1c3f7")},
        {Kind::KeepAlive, hex("38014b 00112233445566778899aabbccddeeff 01 0001 04 d0a1c3f7")},
        {Kind::Goodbye, hex("380147 00112233445566778899aabbccddeeff")},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(example(c.kind).build(), c.wire) << char(c.kind);
        const auto parsed = PresenceDatagram::parse(c.wire);
        ASSERT_TRUE(parsed.has_value()) << char(c.kind);
        PresenceDatagram expected = example(c.kind);
        if (c.kind == Kind::Goodbye)
            expected = PresenceDatagram{Kind::Goodbye, ExampleId, 0, 0, {}, {}};
        EXPECT_EQ(*parsed, expected) << char(c.kind);
    }
    EXPECT_EQ(example(Kind::Hello).build().size(), 27);
    EXPECT_TRUE(PresenceDatagram::parse(example(Kind::Hello).build())->supportsGb18030());
}

TEST(PresenceDatagram, UnknownVersionKindAndFlagsAreIgnoredAndExtensionsSkipped)
{
    const QByteArray hello = example(Kind::Hello).build();
    QByteArray v2 = hello;
    v2[1] = 2;
    EXPECT_FALSE(PresenceDatagram::parse(v2));
    QByteArray unknownKind = hello;
    unknownKind[2] = 'Z';
    EXPECT_FALSE(PresenceDatagram::parse(unknownKind));
    EXPECT_FALSE(PresenceDatagram::parse("1" + hello.mid(1))) << "not a presence datagram";

    QByteArray moreFlags = hello;
    moreFlags[20] = char(0x80);
    moreFlags[21] = char(0x03);
    const auto parsed = PresenceDatagram::parse(moreFlags + "later fields");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->capabilities, PresenceDatagram::CapabilityGb18030) << "unknown flags are dropped";
    EXPECT_EQ(parsed->nickname, Gbk::encode(u"小明"_s));
    EXPECT_TRUE(PresenceDatagram::parse(example(Kind::Goodbye).build() + "xyz"));
}

// The identity key rides in the extension area after the nickname, announced by its flag.
TEST(PresenceDatagram, TheIdentityKeyFollowsTheNicknameOnlyWithItsFlag)
{
    const QByteArray key = QByteArray::fromHex("a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf");
    PresenceDatagram d = example(Kind::KeepAlive);
    d.capabilities |= PresenceDatagram::CapabilitySealed;
    d.publicKey = key;
    const QByteArray wire = d.build();
    EXPECT_EQ(wire, hex("38014b 00112233445566778899aabbccddeeff 01 0003 04 d0a1c3f7") + key);
    EXPECT_EQ(PresenceDatagram::parse(wire), d);
    EXPECT_TRUE(PresenceDatagram::parse(wire + "later")->supportsSealing()) << "later extensions skipped";

    const struct {
        const char *what;
        QByteArray wire;
    } unannounced[] = {
        {"flag without the whole key", wire.left(wire.size() - 1)},
        {"flag without any key", wire.left(PresenceDatagram::FixedSize + 4)},
    };
    for (const auto &c : unannounced) {
        const auto parsed = PresenceDatagram::parse(c.wire);
        ASSERT_TRUE(parsed) << c.what;
        EXPECT_FALSE(parsed->supportsSealing()) << c.what;
        EXPECT_TRUE(parsed->publicKey.isEmpty()) << c.what;
        EXPECT_TRUE(parsed->supportsGb18030()) << c.what;
    }
    d.publicKey = key.left(31);
    EXPECT_EQ(d.build(), hex("38014b 00112233445566778899aabbccddeeff 01 0001 04 d0a1c3f7"))
        << "no flag goes out without a whole key";
    d.capabilities = PresenceDatagram::CapabilityGb18030;
    d.publicKey = key;
    EXPECT_EQ(d.build().size(), 27) << "no key goes out without the flag";
}

TEST(PresenceDatagram, TruncatedOverlongAndZeroIdAreRejected)
{
    const QByteArray hello = example(Kind::Hello).build();
    for (int n = 0; n < hello.size(); ++n)
        EXPECT_FALSE(PresenceDatagram::parse(hello.left(n))) << "prefix of " << n << " bytes";
    QByteArray longName = hello.left(PresenceDatagram::FixedSize - 1) + char(21) + QByteArray(21, 'a');
    EXPECT_FALSE(PresenceDatagram::parse(longName)) << "a nickname over 20 bytes";
    QByteArray padded = hello + QByteArray(PresenceDatagram::MaxDatagramSize - hello.size(), 'x');
    EXPECT_TRUE(PresenceDatagram::parse(padded)) << "255 bytes in all";
    EXPECT_FALSE(PresenceDatagram::parse(padded + 'x')) << "256 bytes";
    QByteArray zero = hello;
    zero.replace(PresenceDatagram::HeaderSize, PresenceDatagram::IdSize,
                 QByteArray(PresenceDatagram::IdSize, '\0'));
    EXPECT_FALSE(PresenceDatagram::parse(zero));
    PresenceDatagram noId = example(Kind::Hello);
    noId.id = QByteArray(8, 'x');
    EXPECT_TRUE(noId.build().isEmpty());
}

TEST(PresenceDatagram, HostileNicknamesStayDataAndShowAsPlainText)
{
    PresenceDatagram d = example(Kind::Hello);
    d.nickname = QByteArray("<b>\x01\r\n</b>\xE2\x80\xAE", 13); // markup, controls, a bidi override's bytes
    auto parsed = PresenceDatagram::parse(d.build());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->nickname, d.nickname) << "kept as received";
    EXPECT_FALSE(parsed->displayNickname().contains(u'\x01'));
    EXPECT_FALSE(parsed->displayNickname().contains(u'\n'));
    EXPECT_TRUE(parsed->displayNickname().startsWith(u"<b>\?\?\?</b>"_s));

    d.nickname = QByteArray("\x81\x20\xFF", 3); // not GBK
    parsed = PresenceDatagram::parse(d.build());
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->displayNickname().contains(QChar::ReplacementCharacter));

    d.nickname = Gbk::encode(u"一二三四五六七八九十x"_s); // 21 bytes: cut before the last character
    EXPECT_EQ(PresenceDatagram::parse(d.build())->nickname, Gbk::encode(u"一二三四五六七八九十"_s));
    d.nickname = "123456789012345678\xD6\xD0"; // exactly 20
    EXPECT_EQ(PresenceDatagram::parse(d.build())->nickname.size(), 20);
}

// Random bytes behind a valid header: the parser never throws, and whatever it accepts builds
// back to a datagram that parses to the same value.
TEST(PresenceDatagram, RandomInputNeverBreaksTheParser)
{
    QRandomGenerator random(16);
    int accepted = 0;
    for (int round = 0; round < 5000; ++round) {
        QByteArray bytes(int(random.bounded(0, 300)), '\0');
        for (char &c : bytes)
            c = char(random.bounded(256));
        if (bytes.size() >= 3 && round % 2 == 0) {
            bytes[0] = '8';
            bytes[1] = 1;
            bytes[2] = "HAKG"[round % 4];
        }
        const auto parsed = PresenceDatagram::parse(bytes);
        if (!parsed)
            continue;
        ++accepted;
        EXPECT_LE(bytes.size(), PresenceDatagram::MaxDatagramSize);
        EXPECT_EQ(PresenceDatagram::parse(parsed->build()), parsed);
    }
    EXPECT_GT(accepted, 0);
}

TEST(PresenceId, IsMadeOnceKeptPrivateAndReplacedWhenDamaged)
{
    TempDir dir;
    const QByteArray first = PresenceId::loadOrCreate(dir.path());
    EXPECT_TRUE(PresenceDatagram::isValidId(first));
    EXPECT_EQ(PresenceId::loadOrCreate(dir.path()), first);
    EXPECT_EQ(dir.read(PresenceId::FileName), first.toHex() + '\n');
    EXPECT_EQ(QFile::permissions(dir.file(PresenceId::FileName)) & 0x0077, 0) << "not readable by others";
    dir.write(PresenceId::FileName, "not an id");
    const QByteArray second = PresenceId::loadOrCreate(dir.path());
    EXPECT_TRUE(PresenceDatagram::isValidId(second));
    EXPECT_NE(second, first);
}
