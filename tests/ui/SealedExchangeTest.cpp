#include "core/KeyPins.h"
#include "core/Packet.h"
#include "core/PeerSecurity.h"
#include "core/SealedMessage.h"
#include "secure/IdentityKey.h"
#include "secure/SealedChannel.h"
#include "tests/ui/NearbyPair.h"
#include "ui/SafetyCodeDialog.h"
#include "ui/SecurityStrip.h"
#include "ui/TForm3.h"

#include "harness/TempDir.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QUdpSocket>

using namespace Qt::Literals::StringLiterals;

namespace {

using SealedExchange = NearbyPair;

// The newest message window of peer once it shows count of them; null when it never does.
TForm3 *newestWindow(const TestPeer &peer, qsizetype count)
{
    if (!QTest::qWaitFor([&] { return peer.form1->findChildren<TForm3 *>().size() >= count; }, 5000))
        return nullptr;
    return peer.form1->findChildren<TForm3 *>().last();
}

// One datagram from address (any port) to ip:2928: the source port is never looked at.
void sendFrom(const QString &address, const QString &ip, const QByteArray &datagram)
{
    QUdpSocket socket;
    ASSERT_TRUE(socket.bind(QHostAddress(address), 0));
    ASSERT_EQ(socket.writeDatagram(datagram, QHostAddress(ip), 2928), datagram.size());
}

QString newestText(const TestPeer &peer, qsizetype count)
{
    const TForm3 *window = newestWindow(peer, count);
    return window ? window->mess->toPlainText() : QString();
}

// A capable peer that is not a complete program: a raw socket that announces an identity key
// of the test's making and seals and opens with it.
struct KeyedProbe {
    explicit KeyedProbe(const QString &address) : socket(address) {}

    void announce(const QString &to)
    {
        PresenceDatagram hello{PresenceDatagram::Kind::Hello, QByteArray(16, 'q'), 1,
                               PresenceDatagram::CapabilitySealed, "probe", key.publicKey()};
        socket.send(to, hello.build());
    }
    QByteArray seal(const QByteArray &peerKey, const QByteArray &datagram)
    {
        return channel->seal(peerKey, PeerSecurity::BaseDatagram, datagram);
    }
    void renewKey()
    {
        key = IdentityKey::generate();
        channel = std::make_unique<SealedChannel>(key, QString(), QString());
    }

    RawUdpPeer socket;
    IdentityKey key = IdentityKey::generate();
    std::unique_ptr<SealedChannel> channel = std::make_unique<SealedChannel>(key, QString(), QString());
};

TEST_F(SealedExchange, TwoCapablePeersSealPinEachOtherAndShowTheSameCode)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothSee(); }, 5000));
    PeerSecurity &sa = a->form1->security();
    PeerSecurity &sb = b->form1->security();
    EXPECT_EQ(sa.linkTo(b->ip()), PeerSecurity::Link::Sealed);
    EXPECT_FALSE(sb.isPinned(a->ip())) << "nothing pinned before the first sealed exchange";

    a->form1->showMessageWindow(u"接收消息"_s, b->ip(), u"阿红"_s, QString(), true);
    TForm3 *out = newestWindow(*a, 1);
    ASSERT_TRUE(out);
    out->inpu->setPlainText(u"你好"_s);
    out->fs->click();
    EXPECT_EQ(newestText(*b, 1), u"你好"_s) << "sealed, opened, and shown without a mark";
    EXPECT_TRUE(QTest::qWaitFor([&] { return sb.isPinned(a->ip()); }, 2000));

    const QString code = sa.safetyCode(b->ip());
    EXPECT_TRUE(QRegularExpression(u"^\\d{4} \\d{4} \\d{4}$"_s).match(code).hasMatch()) << code.toStdString();
    EXPECT_EQ(sb.safetyCode(a->ip()), code) << "the same on both sides";
    TForm3 *in = newestWindow(*b, 1);
    ASSERT_TRUE(in);
    EXPECT_TRUE(in->security->stateLabel->text().contains(code));
    EXPECT_FALSE(in->security->warning->isVisible());

    // Marking it compared sticks to the key; a new key of A's is a change B is shown.
    sb.setVerified(a->ip(), true);
    EXPECT_TRUE(sb.isVerified(a->ip()));
    ASSERT_TRUE(sa.resetIdentity());
    EXPECT_TRUE(QTest::qWaitFor([&] { return sb.linkTo(a->ip()) == PeerSecurity::Link::KeyChanged; }, 5000));
    EXPECT_TRUE(in->security->warning->isVisible()) << "the open window says so at once";
    EXPECT_NE(sa.safetyCode(b->ip()), code) << "A's code follows its new key";
    sb.acceptKeyChange(a->ip());
    EXPECT_EQ(sb.linkTo(a->ip()), PeerSecurity::Link::Sealed);
    EXPECT_FALSE(sb.isVerified(a->ip())) << "a new key needs comparing again";
    EXPECT_EQ(sb.safetyCode(a->ip()), sa.safetyCode(b->ip()));
    EXPECT_TRUE(a->reporter.errors.isEmpty() && b->reporter.errors.isEmpty());
}

// What a host on the LAN can try against a peer with pinned keys, each dropped or shown marked.
TEST_F(SealedExchange, ForgedReplayedAndAlteredDatagramsAreDroppedOrMarked)
{
    KeyedProbe probe(u"127.0.0.4"_s);
    ASSERT_TRUE(probe.socket.isBound());
    PeerSecurity &sa = a->form1->security();
    probe.announce(a->ip());
    ASSERT_TRUE(QTest::qWaitFor([&] { return sa.linkTo(probe.socket.address()) == PeerSecurity::Link::Sealed; }, 5000));
    const QByteArray aKey = sa.ownPublicKey();

    const QByteArray first = probe.seal(aKey, "1first");
    probe.socket.send(a->ip(), first);
    EXPECT_EQ(newestText(*a, 1), u"first"_s);
    EXPECT_TRUE(sa.isPinned(probe.socket.address()));

    // A's answer to it goes sealed, with its id, and opens with the probe's key.
    TForm3 *reply = newestWindow(*a, 1);
    ASSERT_TRUE(reply);
    reply->inpu->setPlainText(u"secret reply"_s);
    reply->fs->click();
    ASSERT_TRUE(probe.socket.waitForDatagrams(1));
    const QByteArray sealed = probe.socket.received.last();
    EXPECT_EQ(sealed.at(0), '9');
    EXPECT_FALSE(sealed.contains("secret reply"));
    const auto opened = probe.channel->open(sealed, [&](const QByteArray &) { return aKey; });
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->innerKind, InnerKind::Message);
    const std::optional<SealedMessage> message = SealedMessage::parse(opened->inner);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->datagram, "1secret reply");
    EXPECT_EQ(message->id.prefix, IdentityKey::keyIdOf(aKey));

    const quint64 droppedBefore = sa.dropped();
    QByteArray altered = probe.seal(aKey, "1altered");
    altered[altered.size() - 3] = char(altered[altered.size() - 3] ^ 0x01);
    const struct {
        const char *what;
        QString from;
        QByteArray datagram;
    } dropped[] = {
        {"a replay", probe.socket.address(), first},
        {"an altered byte", probe.socket.address(), altered},
        {"a truncated envelope", probe.socket.address(), probe.seal(aKey, "1cut").left(50)},
        {"another source address", u"127.0.0.5"_s, probe.seal(aKey, "1elsewhere")},
        {"an unknown key", probe.socket.address(), KeyedProbe(u"127.0.0.6"_s).seal(aKey, "1stranger")},
    };
    for (const auto &c : dropped)
        sendFrom(c.from, a->ip(), c.datagram);
    // A plain message after them all shows they were taken in (and dropped) in order.
    sendFrom(probe.socket.address(), a->ip(), "1plain");
    EXPECT_EQ(newestText(*a, 2), u"[未加密]plain"_s) << "a plain message from a pinned peer may be forged";
    EXPECT_EQ(a->form1->findChildren<TForm3 *>().size(), 2) << "none of the dropped ones was shown";
    EXPECT_EQ(sa.dropped() - droppedBefore, std::size(dropped));

    // The probe comes back with another key: shown marked and in red, never taken silently.
    probe.renewKey();
    probe.announce(a->ip());
    ASSERT_TRUE(QTest::qWaitFor([&] { return sa.linkTo(probe.socket.address()) == PeerSecurity::Link::KeyChanged; }, 5000));
    probe.socket.send(a->ip(), probe.seal(aKey, "1new key"));
    EXPECT_EQ(newestText(*a, 3), u"[密钥已变]new key"_s);
    TForm3 *changed = newestWindow(*a, 3);
    ASSERT_TRUE(changed);
    EXPECT_TRUE(changed->security->warning->isVisible());
    changed->inpu->setPlainText(u"not yet"_s);
    const auto messagesToProbe = [&] {
        return std::count_if(probe.socket.received.begin(), probe.socket.received.end(),
                             [](const QByteArray &d) { return !d.startsWith('8'); });
    };
    const qsizetype before = messagesToProbe();
    changed->fs->click();
    EXPECT_TRUE(a->prompts.texts(u"information"_s).last().contains(u"身份密钥变了"_s));
    QTest::qWait(100);
    EXPECT_EQ(messagesToProbe(), before) << "nothing goes to a changed key until accepted";
    EXPECT_TRUE(a->reporter.errors.isEmpty());
}

TEST_F(SealedExchange, TheSafetyCodeDialogMarksAndAcceptsAndTheMenuOpensIt)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothSee(); }, 5000));
    PeerSecurity &sa = a->form1->security();
    Packet::send(b->endpoint(), a->ip(), Packet::message(u"hi"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return sa.isPinned(b->ip()); }, 5000));
    SafetyCodeDialog dialog(sa, b->ip(), u"阿红"_s, a->form1.get());
    EXPECT_EQ(dialog.code->text(), sa.safetyCode(b->ip()));
    EXPECT_TRUE(dialog.verified->isEnabled());
    EXPECT_FALSE(dialog.acceptKey->isVisibleTo(&dialog));
    dialog.verified->click();
    EXPECT_TRUE(sa.isVerified(b->ip()));
    EXPECT_TRUE(dialog.state->text().contains(u"已核对"_s)) << dialog.state->text().toStdString() << int(sa.linkTo(b->ip()));
}

} // namespace

// KeyPins on its own: what each sealed exchange or announcement does to the stored pins.
TEST(KeyPins, PinOnFirstContactFollowMovesAndHoldChangesForThePerson)
{
    TempDir dir;
    const QByteArray k1(32, '\x01'), k2(32, '\x02'), k3(32, '\x03');
    {
        KeyPins pins(dir.path());
        EXPECT_EQ(pins.observe(u"10.0.0.1"_s, k1), KeyPins::Seen::FirstContact);
        EXPECT_EQ(pins.observe(u"10.0.0.1"_s, k1), KeyPins::Seen::Pinned);
        pins.setVerified(u"10.0.0.1"_s, true);
        EXPECT_EQ(pins.observe(u"10.0.0.9"_s, k1), KeyPins::Seen::Pinned) << "the peer moved with its key";
        EXPECT_TRUE(pins.pinned(u"10.0.0.1"_s).isEmpty());
        EXPECT_TRUE(pins.isVerified(u"10.0.0.9"_s)) << "the mark follows the key";
        EXPECT_FALSE(pins.noteAnnounced(u"10.0.0.9"_s, k1));
        EXPECT_TRUE(pins.noteAnnounced(u"10.0.0.9"_s, k2)) << "an announcement alone records a change";
        EXPECT_EQ(pins.pinned(u"10.0.0.9"_s), k1) << "but pins nothing";
        EXPECT_FALSE(pins.noteAnnounced(u"10.0.0.9"_s, k1)) << "the pinned key again ends it";
        EXPECT_TRUE(pins.changedTo(u"10.0.0.9"_s).isEmpty());
        EXPECT_EQ(pins.observe(u"10.0.0.9"_s, k3), KeyPins::Seen::Changed);
        EXPECT_EQ(pins.pinned(u"10.0.0.9"_s), k1);
    }
    KeyPins reopened(dir.path()); // kept on disk
    EXPECT_EQ(reopened.changedTo(u"10.0.0.9"_s), k3);
    EXPECT_TRUE(reopened.isVerified(u"10.0.0.9"_s));
    reopened.acceptChange(u"10.0.0.9"_s);
    EXPECT_EQ(reopened.pinned(u"10.0.0.9"_s), k3);
    EXPECT_FALSE(reopened.isVerified(u"10.0.0.9"_s)) << "a new key is not compared yet";
    EXPECT_EQ(reopened.observe(u"10.0.0.9"_s, k3), KeyPins::Seen::Pinned);
}

// A key file that cannot be read is left for the person, who is told; the peer then seals
// nothing and announces no key.
TEST(SealedStart, ADamagedKeyFileIsLeftAloneAndSaidAndNothingIsSealed)
{
    TempDir dir;
    dir.write(PeerSecurity::KeyFileName, "not a key");
    TestPeer peer(u"127.0.0.2"_s, dir.path());
    peer.storeNickname(u"阿明"_s);
    peer.start();
    EXPECT_TRUE(peer.prompts.texts(u"information"_s).join(u'\n').contains(u"无法读取身份密钥文件"_s));
    EXPECT_EQ(dir.read(PeerSecurity::KeyFileName), "not a key");
    EXPECT_FALSE(peer.form1->security().hasIdentity());
    EXPECT_TRUE(peer.form1->security().ownPublicKey().isEmpty());
    EXPECT_EQ(peer.form1->security().linkTo(u"127.0.0.3"_s), PeerSecurity::Link::Plain);
}
