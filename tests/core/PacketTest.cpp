#include "core/Packet.h"
#include "core/Gbk.h"
#include "net/TZnUDP.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(Packet, ExamplePacketsByteForByte)
{
    const QByteArray offer = Packet::fileOffer(1234, u"a.txt"_s, u"hi"_s);
    EXPECT_EQ(offer, "51234Byte a.txt [" + Gbk::encode(u"备注："_s) + "hi]");
    EXPECT_EQ(offer.size(), 26);

    const QByteArray rest = Packet::autoReply(u"[自动回复]:休息中Zzz"_s);
    EXPECT_EQ(rest, "6[\xD7\xD4\xB6\xAF\xBB\xD8\xB8\xB4]:" + Gbk::encode(u"休息中"_s) + "Zzz");
    EXPECT_EQ(rest.size(), 21);
    EXPECT_EQ(Packet::autoReply(u"[自动回复]:请稍等，我马上回来"_s).size(), 30);
    EXPECT_EQ(Packet::autoReply(u"[自动回复]:"_s), "6[\xD7\xD4\xB6\xAF\xBB\xD8\xB8\xB4]:");
    EXPECT_EQ(Packet::autoReply(u"[自动回复]:"_s).size(), 12);

    EXPECT_EQ(Packet::fileAccept(), QByteArray("3"));
    EXPECT_EQ(Packet::friendRequest(QString()), QByteArray("2"));
    EXPECT_EQ(Packet::friendAccept(u"小明"_s), "4" + Gbk::encode(u"小明"_s));
    EXPECT_EQ(Packet::message(u"你好"_s), "1\xC4\xE3\xBA\xC3");
    EXPECT_EQ(Packet::progress(1048576), QByteArray("71048576"));
}

TEST(Packet, LongTextsAreCutToTheBufferOnACharacterBoundary)
{
    EXPECT_EQ(Packet::message(QString(300, u'a')), "1" + QByteArray(254, 'a'));
    EXPECT_EQ(Packet::friendRequest(QString(200, u'n')).size(), 127);
    EXPECT_EQ(Packet::friendAccept(QString(200, u'n')).size(), 127);
    // 11 bytes of "[自动回复]:" plus two-byte characters: 253 bytes fit in 254, the next would split.
    const QByteArray reply = Packet::autoReply(u"[自动回复]:"_s + QString(200, QChar(0x4E2D)));
    EXPECT_EQ(reply.size(), 254);
    EXPECT_EQ(Gbk::decode(reply.mid(1)), u"[自动回复]:"_s + QString(121, QChar(0x4E2D)));
    const QByteArray offer = Packet::fileOffer(5, QString(300, u'f'), u"note"_s);
    EXPECT_EQ(offer.size(), 255);
    EXPECT_TRUE(offer.startsWith("55Byte fff"));
}

TEST(Packet, SendPutsExactlyThePacketOnTheWire)
{
    QUdpSocket peer;
    ASSERT_TRUE(peer.bind(QHostAddress(u"127.0.0.43"_s), 2928));
    TZnUDP lwudp;
    lwudp.BindAddress = u"127.0.0.42"_s;
    lwudp.RemotePort = 2928;
    lwudp.SetLocalPort(2928);

    QByteArrayList arrived;
    QObject::connect(&peer, &QUdpSocket::readyRead, [&] {
        while (peer.hasPendingDatagrams()) {
            const QNetworkDatagram d = peer.receiveDatagram();
            EXPECT_EQ(d.senderAddress().toString(), u"127.0.0.42"_s);
            EXPECT_EQ(d.senderPort(), 2928);
            arrived << d.data();
        }
    });
    Packet::send(lwudp, u"127.0.0.43"_s, Packet::fileAccept());
    Packet::send(lwudp, u"127.0.0.43"_s, Packet::friendRequest(QString()));
    Packet::send(lwudp, u"127.0.0.43"_s, QByteArray(300, 'x'));       // cut to the 255-byte buffer
    Packet::send(lwudp, u"127.0.0.43"_s, "4" + QByteArray(300, 'y')); // cut to 127
    ASSERT_TRUE(QTest::qWaitFor([&] { return arrived.size() == 4; }, 5000));
    EXPECT_EQ(arrived[0], QByteArray("3"));
    EXPECT_EQ(arrived[1], QByteArray("2"));
    EXPECT_EQ(arrived[2], QByteArray(255, 'x'));
    EXPECT_EQ(arrived[3], "4" + QByteArray(126, 'y'));
    EXPECT_EQ(lwudp.RemoteHost, u"127.0.0.43"_s);
}
