// Files between two peers that both announce their keys go inside TLS, checked against the
// pinned keys; a peer whose key changed gets no file until the person accepts the new key.
#include "core/PeerSecurity.h"
#include "tests/transfer/TwoPeers.h"
#include "tests/ui/NearbyPair.h"

namespace {

class EncryptedTransfer : public TwoPeers {
protected:
    void SetUp() override
    {
        // B is a peer of this program that takes one file per offer: the single-file window.
        b.form1->setAnnounceFileSets(false);
        linkPresence(a, b.ip());
        linkPresence(b, a.ip());
        ASSERT_TRUE(QTest::qWaitFor([&] { return linkOf(a, b) == PeerSecurity::Link::Sealed
                                                 && linkOf(b, a) == PeerSecurity::Link::Sealed; }, Wait));
    }

    static PeerSecurity::Link linkOf(TestPeer &from, const TestPeer &to)
    {
        return from.form1->security().linkTo(to.ip());
    }

    // A's send-file window offers path to B; the cipher suite of the post is kept once its
    // body went out (the connection forgets it when it closes).
    TForm7 *offerWatched(const QString &path)
    {
        TForm6 *sending = openSendWindow();
        if (!sending)
            return nullptr;
        sending->fsd->OnMessageSent = [this](RIzarorozi *post) { suite = post->TlsCipherSuite(); };
        return offer(sending, path);
    }

    bool boxShown(TestPeer &peer, const QString &text)
    {
        return QTest::qWaitFor([&] { return peer.prompts.texts().contains(text); }, Wait);
    }

    QString suite;
};

TEST_F(EncryptedTransfer, AFileBetweenCapablePeersGoesInsideTlsAndArrivesWhole)
{
    const QString path = makeFile(u"secret.bin"_s, 3 << 20);
    TForm7 *receiving = offerWatched(path);
    ASSERT_TRUE(receiving);
    const QString target = files.file(u"received.bin"_s);
    accept(receiving, target);
    ASSERT_TRUE(boxShown(b, u"接收完毕！"_s));
    ASSERT_TRUE(boxShown(a, u"发送完毕！"_s));
    EXPECT_EQ(files.read(u"received.bin"_s), files.read(u"secret.bin"_s));
    EXPECT_TRUE(suite.startsWith(u"TLS_"_s)) << suite.toStdString();
    EXPECT_TRUE(a.reporter.errors.isEmpty() && b.reporter.errors.isEmpty());
}

TEST_F(EncryptedTransfer, AFileFromAPeerWhoseKeyChangedWaitsUntilThePersonAcceptsTheKey)
{
    // B pins A's key at their first sealed exchange; then A makes itself a new key.
    Packet::send(a.endpoint(), b.ip(), Packet::message(u"hi"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.form1->security().isPinned(a.ip()); }, Wait));
    ASSERT_TRUE(a.form1->security().resetIdentity());
    ASSERT_TRUE(QTest::qWaitFor([&] { return linkOf(b, a) == PeerSecurity::Link::KeyChanged; }, Wait));

    const QString path = makeFile(u"after-reset.bin"_s, 100000);
    TForm7 *receiving = offerWatched(path);
    ASSERT_TRUE(receiving);
    EXPECT_TRUE(receiving->fsm->text().startsWith(u"[密钥已变]"_s)) << "the offer says who it may be from";
    const QString target = files.file(u"from-changed.bin"_s);
    accept(receiving, target);
    EXPECT_TRUE(boxShown(b, PeerSecurity::keyChangedRefusal()));
    EXPECT_FALSE(receiving->accepted()) << "no file accept went out";
    EXPECT_TRUE(receiving->Button1->isEnabled());
    QTest::qWait(200);
    EXPECT_FALSE(QFile::exists(target));

    // The person compared the new code and accepts the key: the same window now takes the file.
    b.form1->security().acceptKeyChange(a.ip());
    b.prompts.saveAnswers.clear();
    accept(receiving, target);
    ASSERT_TRUE(boxShown(b, u"接收完毕！"_s));
    EXPECT_EQ(files.read(u"from-changed.bin"_s), files.read(u"after-reset.bin"_s));
    EXPECT_TRUE(suite.startsWith(u"TLS_"_s)) << "inside TLS with the new key";
}

} // namespace
