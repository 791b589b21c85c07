#include "core/Gbk.h"
#include "tests/core/DispatcherPeer.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>

using namespace Qt::Literals::StringLiterals;

namespace {

// Random datagrams, biased towards the packet types and the shapes that reach deep into the
// dispatcher: numbers of every size for types 5 and 7, nicknames with line breaks, brackets
// and invalid GBK, and datagrams longer than every buffer.
class DatagramGenerator {
public:
    explicit DatagramGenerator(unsigned seed) : random_(seed) {}

    QByteArray next()
    {
        QByteArray datagram;
        const int kind = pick(100);
        if (kind < 70)
            datagram += "1234567"[pick(7)];
        else if (kind < 80)
            datagram += "0890"[pick(4)];
        else if (kind < 98)
            datagram += char(pick(256));
        else
            return QByteArray(2040 + pick(60), char(pick(256))); // longer than 2048, or nearly
        switch (pick(4)) {
        case 0: datagram += randomBytes(pick(300)); break;
        case 1:
            datagram += QByteArray::number(quint64(random_()) * quint64(random_())).left(1 + pick(25))
                + "Byte x";
            break;
        case 2: datagram += QByteArray(1 + pick(40), char('0' + pick(10))); break;
        default:
            datagram += pickFrom(
                {"\r\n[MainSection]\r\nName=evil", "]x[", "\xD7", "\0\0"_ba, "=;", "\xFF\xFE\x81"});
            break;
        }
        return datagram;
    }
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

private:
    QByteArray randomBytes(int n)
    {
        QByteArray bytes(n, '\0');
        for (char &c : bytes)
            c = char(pick(256));
        return bytes;
    }
    QByteArray pickFrom(std::initializer_list<QByteArray> choices)
    {
        return *(choices.begin() + pick(int(choices.size())));
    }

    std::mt19937 random_;
};

} // namespace

TEST(DispatcherFuzz, ThousandsOfRandomDatagramsLeaveTheStoreIntact)
{
    DispatcherPeer b(u"127.0.0.3"_s);
    ASSERT_TRUE(b.bound()) << "127.0.0.3:2928 is taken";
    b.store.setNickname(u"小红"_s);
    b.windows.myname = u"小红"_s;

    std::vector<std::unique_ptr<QUdpSocket>> senders;
    QStringList senderIps;
    for (int i = 20; i < 28; ++i) {
        senders.push_back(std::make_unique<QUdpSocket>());
        senderIps << u"127.0.0.%1"_s.arg(i);
        ASSERT_TRUE(senders.back()->bind(QHostAddress(senderIps.last()), DispatcherPeer::Port));
    }

    DatagramGenerator generator(20240613);
    const int total = 3000;
    int bans = 0;
    b.prompts.whileOpen = [&](const ScriptedPrompts::Shown &shown) {
        if (shown.text.endsWith(u"此IP地址已被屏蔽!"_s))
            ++bans;
    };
    for (int i = 0; i < total; ++i) {
        RecordingWindows &w = b.windows;
        w.status = quint8(generator.pick(2));
        w.autopop = generator.pick(2);
        w.jjmsrxx = generator.pick(2);
        w.tag = generator.pick(2);
        w.caption = generator.pick(2) ? u"Talvino"_s : u"[自动回复]:"_s + QString(generator.pick(200), u'z');
        w.addFriendDialogExists = generator.pick(2);
        w.sendFileWindowExists = generator.pick(2);
        w.receiveFileWindowExists = generator.pick(2);
        b.prompts.confirmAnswers = {Prompts::Answer(generator.pick(3))};
        const QByteArray datagram = generator.next();
        senders[size_t(generator.pick(int(senders.size())))]->writeDatagram(datagram, QHostAddress(b.address),
                                                                            DispatcherPeer::Port);
        ASSERT_TRUE(b.waitForDatagrams(i + 1)) << "datagram " << i << " did not arrive";
    }

    // Every reported error is a conversion error: nothing else went wrong.
    const QRegularExpression conversion(u"^'.*' is not a valid integer value$"_s,
                                        QRegularExpression::DotMatchesEverythingOption);
    for (const QString &error : b.reporter.errors)
        EXPECT_TRUE(conversion.match(error).hasMatch()) << error.toStdString();
    EXPECT_FALSE(b.reporter.errors.isEmpty());

    // The store reads back intact: the nickname kept, one entry and one IP per number from 1
    // to Count, each IP a sender's and stored once, the bans counted, no stray lines.
    EXPECT_EQ(b.store.nickname(), u"小红"_s);
    const QByteArray file = b.ini();
    for (const QByteArray &line : file.split('\n')) {
        const QByteArray text = line.chopped(line.endsWith('\r') ? 1 : 0);
        EXPECT_TRUE(text.isEmpty() || text == "[MainSection]" || text == "[UserSection]"
                    || text == "[IpSection]" || text == "[BanSection]"
                    || QRegularExpression(u"^(Name|Count|[1-9][0-9]*)=[^\\r\\n]*$"_s)
                           .match(Gbk::decode(text))
                           .hasMatch())
            << text.toStdString();
    }
    IniFile ini(b.store.fileName());
    const int count = ini.readInteger(u"UserSection"_s, u"Count"_s);
    EXPECT_EQ(count, b.windows.buddyListRebuilds);
    EXPECT_GT(count, 0) << "the run added no buddy: the generator missed friend requests";
    std::set<QString> ips;
    for (int k = 1; k <= count; ++k) {
        const QString ip = b.store.buddyIp(QString::number(k));
        EXPECT_TRUE(senderIps.contains(ip)) << ip.toStdString();
        ips.insert(ip);
        EXPECT_TRUE(b.store.buddyEntry(QString::number(k)).startsWith(u"[%1]"_s.arg(k)));
    }
    EXPECT_EQ(int(ips.size()), count);
    EXPECT_EQ(b.store.buddyEntries().size(), count);
    EXPECT_EQ(ini.readInteger(u"BanSection"_s, u"Count"_s), bans);
}
