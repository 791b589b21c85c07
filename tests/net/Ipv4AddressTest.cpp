#include "net/Ipv4Address.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QStringList>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Reading {
    QString text;
    QString address; // as written back; empty: refused
};

void expectReadings(const QList<Reading> &readings)
{
    for (const Reading &r : readings) {
        const Ipv4Address address(r.text);
        EXPECT_EQ(address.isNull(), r.address.isEmpty()) << r.text.toStdString();
        EXPECT_EQ(address.toString(), r.address) << r.text.toStdString();
    }
}

// Numbers in every notation the reader knows and some it does not, to be put together into
// dotted texts.
const QStringList &tokens()
{
    static const QStringList all{
        u""_s,         u"0"_s,         u"00"_s,      u"1"_s,        u"7"_s,         u"8"_s,        u"019"_s,
        u"255"_s,      u"256"_s,       u"0x"_s,      u"0X1f"_s,     u"0xff"_s,      u"0x100"_s,    u"0b"_s,
        u"0b1"_s,      u"0B101"_s,     u"0b2"_s,     u"010"_s,      u"08"_s,        u"+"_s,        u" "_s,
        u"-"_s,        u"65535"_s,     u"65536"_s,   u"16777215"_s, u"16777216"_s,  u"4294967295"_s,
        u"4294967296"_s, u"x"_s,       u"1 "_s,      u" 1"_s,       u"+1"_s,        u" +1"_s,      u"e"_s,
        u"\t"_s,       u"0xFFFFFFFF"_s, u"99999999999999999999"_s};
    return all;
}

QString randomDotted(QRandomGenerator &random)
{
    QStringList parts;
    const int count = int(random.bounded(1, 6));
    for (int i = 0; i < count; ++i) {
        QString part = tokens().at(int(random.bounded(tokens().size())));
        if (random.bounded(4) == 0)
            part += tokens().at(int(random.bounded(tokens().size())));
        parts << part;
    }
    QString text = parts.join(u'.');
    if (random.bounded(8) == 0)
        text = u"  "_s + text + u"\n"_s;
    return text;
}

} // namespace

TEST(Ipv4Address, DottedDecimalIsReadAndWrittenBack)
{
    expectReadings({{u"0.0.0.0"_s, u"0.0.0.0"_s},
                    {u"255.255.255.255"_s, u"255.255.255.255"_s},
                    {u"192.168.1.7"_s, u"192.168.1.7"_s},
                    {u"10.0.0.1"_s, u"10.0.0.1"_s}});
    EXPECT_EQ(Ipv4Address(u"192.168.1.7"_s).toUInt(), 0xc0a80107u);
    EXPECT_EQ(Ipv4Address(0xc0a80107u).toString(), u"192.168.1.7"_s);
    EXPECT_EQ(Ipv4Address(0xffffffffu).toString(), u"255.255.255.255"_s);
    EXPECT_TRUE(Ipv4Address().isNull());
    EXPECT_EQ(Ipv4Address().toString(), QString());
    EXPECT_EQ(Ipv4Address::any(), Ipv4Address(u"0.0.0.0"_s));
    EXPECT_NE(Ipv4Address::any(), Ipv4Address());
}

// Short forms and C notation, as addresses typed elsewhere in the program are read.
TEST(Ipv4Address, ShortFormsAndCNotationAreRead)
{
    expectReadings({{u"127.1"_s, u"127.0.0.1"_s},
                    {u"127.0.1"_s, u"127.0.0.1"_s},
                    {u"1"_s, u"0.0.0.1"_s},
                    {u"2130706433"_s, u"127.0.0.1"_s},
                    {u"1.2.65535"_s, u"1.2.255.255"_s},
                    {u"1.16777215"_s, u"1.255.255.255"_s},
                    {u"4294967295"_s, u"255.255.255.255"_s},
                    {u"0x7f.1"_s, u"127.0.0.1"_s},
                    {u"0X7F.0.0.1"_s, u"127.0.0.1"_s},
                    {u"0x1.0x2.0x3.0x4"_s, u"1.2.3.4"_s},
                    {u"0xffffffff"_s, u"255.255.255.255"_s},
                    {u"1.0x10000"_s, u"1.1.0.0"_s},
                    {u"010.0.0.1"_s, u"8.0.0.1"_s},
                    {u"0127.0.0.1"_s, u"87.0.0.1"_s},
                    {u"037777777777"_s, u"255.255.255.255"_s},
                    {u"00.0.0.0"_s, u"0.0.0.0"_s},
                    {u"1.2.3.04"_s, u"1.2.3.4"_s},
                    {u"1.2.3.0b1"_s, u"1.2.3.1"_s},
                    {u"00000000000000000000001.2.3.4"_s, u"1.2.3.4"_s},
                    {u"1.2.3.0x0000000000000000000000000004"_s, u"1.2.3.4"_s},
                    {u"+1.2.3.4"_s, u"1.2.3.4"_s},
                    {u"1.+2.3.4"_s, u"1.2.3.4"_s},
                    {u"1.2.3.+0x4"_s, u"1.2.3.4"_s}});
}

// Blanks around the address go, any Unicode blank (a full-width space typed with a Chinese
// input method included); inside it, a blank may only open a number.
TEST(Ipv4Address, BlanksAroundTheAddressAndBeforeANumberAreAllowed)
{
    expectReadings({{u" 127.0.0.1"_s, u"127.0.0.1"_s},
                    {u"\t127.0.0.1\r\n"_s, u"127.0.0.1"_s},
                    {u"\u3000" "192.168.0.2\u3000"_s, u"192.168.0.2"_s},
                    {u"\u00a0" "1.2.3.4\u2028"_s, u"1.2.3.4"_s},
                    {u"127.0.0. 1"_s, u"127.0.0.1"_s},
                    {u"1.2.3.\t\t4"_s, u"1.2.3.4"_s},
                    {u"1.2.3. +4"_s, u"1.2.3.4"_s},
                    {u"1.2.3.\u3000" "4"_s, u"1.2.3.4"_s},
                    {u"1 .2.3.4"_s, QString()},
                    {u"1.2.3.4 5"_s, QString()},
                    {u"1.2.3.+ 4"_s, QString()},
                    {u"1.2.3.\u200b" "4"_s, QString()}});
}

TEST(Ipv4Address, AnythingElseIsRefused)
{
    const QStringList refused{
        u""_s,          u"   "_s,           u"abc"_s,         u"08.0.0.1"_s,    u"1.2.3.019"_s,
        u"1.2.3.0009"_s, u"-1.0.0.1"_s,     u"1.2.3.-0"_s,    u"127.0.0.1."_s,  u"127..0.1"_s,
        u".127.0.0.1"_s, u"256.0.0.1"_s,    u"1.2.3.256"_s,   u"1.2.65536"_s,   u"1.16777216"_s,
        u"4294967296"_s, u"040000000000"_s, u"0x100.0.0.1"_s, u"18446744073709551617"_s,
        u"4294967296.1"_s, u"1.2.3.4.5"_s,  u"1.2.3.4x"_s,    u"1.2.3.4/24"_s,  u"1.2.3.4:80"_s,
        u"[1.2.3.4]"_s, u"0x"_s,            u"0x.1.2.3"_s,    u"1.2.3.0x"_s,    u"00x1.2.3.4"_s,
        u"0xx1.2.3.4"_s, u"1.2.3.++4"_s,    u"1.2.3.0x+4"_s,  u"1.2.3.0b2"_s,   u"1.2.3.4e0"_s,
        u"1,2,3,4"_s,   u"1.2.3.4\x7f"_s,   u"\uff11.2.3.4"_s, u"127.0.0.1\uff0e"_s,
        u"::1"_s,       u"::ffff:127.0.0.1"_s, u"fe80::1%eth0"_s, u"1.2.3.4%eth0"_s,
        u"1.2.3.4"_s + QChar(0) + u"junk"_s, QChar(0) + u"1.2.3.4"_s, u"1.2.3."_s + QChar(0) + u"4"_s};
    for (const QString &text : refused)
        EXPECT_TRUE(Ipv4Address(text).isNull()) << text.toStdString();
}

// The reader agrees with Qt's on every text of numbers, dots, blanks and signs (Qt's also
// reads IPv6, and it ignores whatever follows a NUL, which this reader refuses).
TEST(Ipv4Address, ReadsWhatQtReadsAsAnIpv4Address)
{
    QRandomGenerator random(2928);
    for (int i = 0; i < 50'000; ++i) {
        const QString text = randomDotted(random);
        const QHostAddress qt(text);
        const Ipv4Address ours(text);
        const bool qtRead = qt.protocol() == QAbstractSocket::IPv4Protocol;
        ASSERT_EQ(ours.isNull(), !qtRead) << text.toStdString();
        if (qtRead) {
            ASSERT_EQ(ours.toUInt(), qt.toIPv4Address()) << text.toStdString();
        }
    }
}

TEST(Ipv4Address, LoopbackIsTheWholeOf127)
{
    EXPECT_TRUE(Ipv4Address(u"127.0.0.1"_s).isLoopback());
    EXPECT_TRUE(Ipv4Address(u"127.255.255.254"_s).isLoopback());
    EXPECT_FALSE(Ipv4Address(u"126.255.255.255"_s).isLoopback());
    EXPECT_FALSE(Ipv4Address(u"128.0.0.1"_s).isLoopback());
    EXPECT_FALSE(Ipv4Address::any().isLoopback());
    EXPECT_FALSE(Ipv4Address().isLoopback());
}

TEST(Ipv4Address, InSubnetComparesThePrefixBits)
{
    const Ipv4Address host(u"10.1.2.3"_s);
    EXPECT_TRUE(host.isInSubnet(Ipv4Address(u"99.0.0.0"_s), 0));
    EXPECT_TRUE(host.isInSubnet(Ipv4Address(u"10.9.9.9"_s), 8));
    EXPECT_FALSE(host.isInSubnet(Ipv4Address(u"11.1.2.3"_s), 8));
    EXPECT_TRUE(host.isInSubnet(Ipv4Address(u"10.1.2.200"_s), 24));
    EXPECT_FALSE(host.isInSubnet(Ipv4Address(u"10.1.3.3"_s), 24));
    EXPECT_TRUE(host.isInSubnet(host, 32));
    EXPECT_FALSE(host.isInSubnet(Ipv4Address(u"10.1.2.2"_s), 32));
    EXPECT_TRUE(Ipv4Address(u"192.168.1.255"_s).isInSubnet(Ipv4Address(u"192.168.1.0"_s), 24));
    EXPECT_FALSE(Ipv4Address(u"192.168.2.0"_s).isInSubnet(Ipv4Address(u"192.168.1.0"_s), 24));
    EXPECT_TRUE(Ipv4Address(u"10.1.2.127"_s).isInSubnet(Ipv4Address(u"10.1.2.0"_s), 25));
    EXPECT_FALSE(Ipv4Address(u"10.1.2.128"_s).isInSubnet(Ipv4Address(u"10.1.2.0"_s), 25));
}

TEST(Ipv4Address, InSubnetOutOfRangeAndNullMatchNothingButItself)
{
    const Ipv4Address host(u"10.1.2.3"_s);
    EXPECT_TRUE(host.isInSubnet(host, 33)); // counts as 32
    EXPECT_FALSE(host.isInSubnet(Ipv4Address(u"10.1.2.4"_s), 40));
    EXPECT_FALSE(host.isInSubnet(host, -1));
    EXPECT_FALSE(Ipv4Address().isInSubnet(Ipv4Address::any(), 0));
    EXPECT_FALSE(host.isInSubnet(Ipv4Address(), 0));
}
