// Several files and folders in one offer between two peers of this program: the whole set with
// one accept, names that are taken, pause and resume, a resume whose bytes differ, hostile
// manifests, a full disk, drops, and a peer that takes one file per offer.
#include "core/PeerSecurity.h"
#include "fileset/Manifest.h"
#include "fileset/SetDatagrams.h"
#include "net/SetStrm.h"
#include "net/SetStrmServ.h"
#include "net/TZnUDP.h"
#include "secure/Envelope.h"
#include "tests/support/FileTree.h"
#include "tests/transfer/TwoPeers.h"
#include "tests/ui/NearbyPair.h"
#include "transfer/SetProgress.h"
#include "transfer/SetReceiveWindow.h"
#include "transfer/SetSendWindow.h"
#include "ui/TForm3.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QUrl>

#include <sys/mount.h>

namespace {

const QByteArray Acknowledgement = QByteArray("OK") + QByteArray(14, ' ');

class FileSets : public TwoPeers {
protected:
    void SetUp() override
    {
        linkPresence(a, b.ip());
        linkPresence(b, a.ip());
        ASSERT_TRUE(QTest::qWaitFor([&] { return a.files->takesSets(b.ip()) && b.files->takesSets(a.ip()); }, Wait));
        QDir().mkpath(files.file(u"in"_s));
    }

    // A drops paths on its buddy B and presses "发送"; B's window once it is there.
    SetReceiveWindow *offerSet(const QStringList &paths)
    {
        a.files->offerPaths(b.ip(), paths);
        sending = a.files->setSendWindows().value(a.files->setSendWindows().size() - 1);
        if (!sending)
            return nullptr;
        sending->Timer1->setInterval(10);
        QObject::connect(sending, &SetSendWindow::streamEnded, sending,
                [this](qint64 bytes, bool) { streamBytes.append(bytes); });
        sending->sendButton->click();
        SetReceiveWindow *window = nullptr;
        const bool opened = QTest::qWaitFor([&] {
            for (SetReceiveWindow *w : b.files->setReceiveWindows())
                if (w->setId() == sending->setId() && !w->isClosed())
                    window = w;
            return window != nullptr;
        }, Wait);
        if (!opened)
            return nullptr;
        window->Timer1->setInterval(10);
        return window;
    }

    // B's person chooses the folder and presses "接收".
    void accept(SetReceiveWindow *window, const QString &folder)
    {
        b.prompts.folderAnswers << folder;
        window->changeFolder->click();
        window->acceptButton->click();
    }

    bool boxShown(TestPeer &peer, const QString &text)
    {
        return QTest::qWaitFor([&] { return peer.prompts.texts().contains(text); }, Wait);
    }

    // A nested folder "假期" with an empty folder, names in several scripts and count files.
    QString makeTree(int count)
    {
        const QString root = files.file(u"假期"_s);
        QDir().mkpath(root + u"/空的文件夹"_s);
        QDir().mkpath(root + u"/照片/2026 夏天"_s);
        for (int i = 0; i < count; ++i) {
            const QString folder = i % 3 == 0 ? u"假期"_s : i % 3 == 1 ? u"假期/照片"_s : u"假期/照片/2026 夏天"_s;
            makeFile(folder + u"/文件 %1 café ✓.bin"_s.arg(i), 1 + (i * 7919) % 20000, quint32(i + 1));
        }
        return root;
    }

    // What both windows say, for a failure's message.
    std::string states(SetReceiveWindow *receiving) const
    {
        return "receiver: " + (receiving ? receiving->state->text().toStdString() : std::string("gone"))
            + "; sender: " + (sending ? sending->state->text().toStdString() : std::string("gone"))
            + "; boxes: " + b.prompts.texts().join(u" | "_s).toStdString() + " / " + a.prompts.texts().join(u" | "_s).toStdString();
    }

    QPointer<SetSendWindow> sending;
    QList<qint64> streamBytes;
};

TEST_F(FileSets, AFolderWithAnEmptyFolderAndUnicodeNamesArrivesIdenticalWithOneAccept)
{
    const QString root = makeTree(120);
    const QString single = makeFile(u"说明.txt"_s, 5000);
    qint64 total = 5000;
    for (int i = 0; i < 120; ++i)
        total += 1 + (i * 7919) % 20000;
    SetReceiveWindow *receiving = offerSet({root, single});
    ASSERT_TRUE(receiving);
    EXPECT_EQ(receiving->summary->text(), u"121 个文件，4 个文件夹，共 "_s + FileWindow::readableSize(total));
    EXPECT_TRUE(receiving->names->text().contains(u"假期"_s));
    accept(receiving, files.file(u"in"_s));
    ASSERT_TRUE(boxShown(b, u"接收完毕！"_s)) << states(receiving);
    ASSERT_TRUE(boxShown(a, u"发送完毕！"_s));

    QMap<QString, QByteArray> expected;
    for (auto [path, hash] : treeOf(root).asKeyValueRange())
        expected.insert(u"假期/"_s + path, hash);
    expected.insert(u"假期/"_s, {});
    expected.insert(u"说明.txt"_s, QCryptographicHash::hash(files.read(u"说明.txt"_s), QCryptographicHash::Sha256));
    EXPECT_EQ(treeOf(files.file(u"in"_s)), expected) << "every file whole, the empty folder too, and nothing else";
    EXPECT_TRUE(QDir(b.context.configDir + u"/filesets"_s).entryList({u"in-*"_s}, QDir::AllEntries).isEmpty());
    EXPECT_TRUE(QDir(a.context.configDir + u"/filesets"_s).entryList({u"out-*"_s}, QDir::AllEntries).isEmpty());
    EXPECT_TRUE(a.reporter.errors.isEmpty() && b.reporter.errors.isEmpty());
}

TEST_F(FileSets, NamesThatAreTakenArriveAsNameTwoAndWhatWasThereStays)
{
    const QString root = makeTree(3);
    const QString note = makeFile(u"note.txt"_s, 300);
    const QString in = files.file(u"in"_s);
    QDir().mkpath(in + u"/假期"_s);
    files.write(u"in/假期/old.txt"_s, "kept");
    files.write(u"in/note.txt"_s, "kept too");
    SetReceiveWindow *receiving = offerSet({root, note});
    ASSERT_TRUE(receiving);
    accept(receiving, in);
    ASSERT_TRUE(boxShown(b, u"接收完毕！"_s));
    EXPECT_EQ(files.read(u"in/假期/old.txt"_s), "kept");
    EXPECT_EQ(files.read(u"in/note.txt"_s), "kept too");
    EXPECT_EQ(files.read(u"in/note (2).txt"_s), files.read(u"note.txt"_s));
    EXPECT_TRUE(QFileInfo(in + u"/假期 (2)/空的文件夹"_s).isDir());
    EXPECT_EQ(QDir(in + u"/假期"_s).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{u"old.txt"_s});
}

// B pauses while the first file is on its way; "继续" then brings only the rest, or the whole
// file again when the bytes B holds are not the sender's.
TEST_F(FileSets, ContinueSendsOnlyTheRestAndTheWholeFileWhenTheHeldBytesDiffer)
{
    struct Case {
        const char *name;
        bool damageHeldBytes;
    };
    for (const Case &c : {Case{"held bytes intact", false}, Case{"held bytes changed", true}}) {
        SCOPED_TRACE(c.name);
        const qint64 size = 48 << 20;
        const QString big = makeFile(u"big-%1.bin"_s.arg(c.damageHeldBytes), size, 99);
        const QString in = files.file(u"in-%1"_s.arg(c.damageHeldBytes));
        QDir().mkpath(in);
        streamBytes.clear();
        SetReceiveWindow *receiving = offerSet({big});
        ASSERT_TRUE(receiving);
        sending->strm->OnPacketSent = [receiving = QPointer(receiving), done = false](RIzarorozi *sender) mutable {
            if (!done && sender->BytesSent() > (4 << 20) && receiving) {
                done = true;
                receiving->pauseButton->click();
            }
        };
        accept(receiving, in);
        // A slow receiver, so that the pause comes while the body moves.
        const int smallest = 1;
        ::setsockopt(receiving->server->Socket(), SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);
        ASSERT_TRUE(QTest::qWaitFor([&] { return streamBytes.size() == 1; }, 60000)) << states(receiving);
        EXPECT_EQ(receiving->pauseButton->text(), u"继续"_s);
        const QStringList parts = QDir(in).entryList({u".*.part"_s}, QDir::Files | QDir::Hidden);
        ASSERT_EQ(parts.size(), 1);
        const qint64 held = QFileInfo(in + u'/' + parts[0]).size();
        ASSERT_GT(held, 0);
        ASSERT_LT(held, size);
        if (c.damageHeldBytes) {
            QFile part(in + u'/' + parts[0]);
            ASSERT_TRUE(part.open(QIODevice::ReadWrite));
            part.seek(held - 1);
            const char last = part.read(1)[0];
            part.seek(held - 1);
            part.write(QByteArray(1, char(last ^ 0x5a)));
        }
        receiving->pauseButton->click();
        ASSERT_TRUE(boxShown(b, u"接收完毕！"_s)) << states(receiving);
        ASSERT_EQ(streamBytes.size(), 2);
        if (c.damageHeldBytes)
            EXPECT_EQ(streamBytes[1], size) << "the file again from its start";
        else
            EXPECT_EQ(streamBytes[1], size - held) << "only what B did not hold";
        QFile arrived(in + u"/big-%1.bin"_s.arg(c.damageHeldBytes));
        ASSERT_TRUE(arrived.open(QIODevice::ReadOnly));
        EXPECT_TRUE(arrived.readAll() == files.read(QFileInfo(big).fileName())) << "arrived identical";
        b.prompts.shown.clear();
        a.prompts.shown.clear();
    }
}

// A sender that offers a manifest it does not keep to: B refuses the whole set before it
// writes anything, whatever else the set holds.
TEST_F(FileSets, HostileManifestsAreRefusedAndWriteNothing)
{
    const auto entry = [](ManifestEntry::Kind kind, const QString &path, qint64 size = 0) {
        return ManifestEntry{kind, path, size, 0};
    };
    const ManifestEntry folder = entry(ManifestEntry::Kind::Folder, u"good"_s);
    const ManifestEntry file = entry(ManifestEntry::Kind::File, u"good/a.txt"_s, 3);
    const QList<QPair<const char *, ManifestEntry>> hostile = {
        {"absolute", entry(ManifestEntry::Kind::File, u"/etc/x"_s, 3)},
        {"parent", entry(ManifestEntry::Kind::File, u"good/../../x"_s, 3)},
        {"dot", entry(ManifestEntry::Kind::File, u"good/./x"_s, 3)},
        {"empty name", entry(ManifestEntry::Kind::File, u"good//x"_s, 3)},
        {"backslash", entry(ManifestEntry::Kind::File, u"good\\x"_s, 3)},
        {"control", entry(ManifestEntry::Kind::File, u"good/x\ny"_s, 3)},
        {"long name", entry(ManifestEntry::Kind::File, u"good/"_s + QString(256, u'x'), 3)},
        {"repeat", file},
        {"unlisted folder", entry(ManifestEntry::Kind::File, u"other/x"_s, 3)},
    };
    const std::optional<TlsKeys> keys = a.form1->security().tlsKeysFor(b.ip());
    ASSERT_TRUE(keys);
    int round = 0;
    for (const auto &[name, bad] : hostile) {
        SCOPED_TRACE(name);
        const QString in = files.file(u"hostile-%1"_s.arg(++round));
        QDir().mkpath(in);
        Manifest manifest;
        manifest.entries = {folder, file, bad};
        const QByteArray bytes = manifest.encode();
        SetOffer offer = SetOffer::describe(newSetId(), manifest, QString());
        offer.manifestHash = Manifest::hashOf(bytes);
        offer.topNames = {u"good"_s}; // a bad top name would not even pass as an offer
        const std::optional<QByteArray> sealed = a.form1->security().seal(b.ip(), InnerKind::SetOffer, offer.encode());
        ASSERT_TRUE(sealed);
        a.endpoint().RemoteHost = b.ip();
        a.endpoint().SendDatagram(*sealed, int(sealed->size()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return b.files->setReceiveWindows().size() == 1; }, Wait));
        SetReceiveWindow *receiving = b.files->setReceiveWindows().constLast();
        accept(receiving, in);

        SetStrm post;
        post.Host = b.ip();
        post.Port = FileWindow::StreamPort;
        post.BindAddress = a.ip();
        post.Tls = keys;
        const QString source = makeFile(u"a.txt"_s, 3);
        QByteArray reply;
        try {
            post.PostSet(offer.setId, bytes, {SetStrm::Record{1, source, 0, 3, {}}}, reply);
        } catch (const std::exception &) {
        }
        EXPECT_NE(reply, Acknowledgement);
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return std::any_of(b.prompts.shown.begin(), b.prompts.shown.end(),
                               [](const auto &box) { return box.text.startsWith(u"已拒绝这组文件："_s); });
        }, Wait));
        EXPECT_TRUE(QDir(in).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty())
            << "nothing written";
        ASSERT_TRUE(QTest::qWaitFor([&] { return b.files->setReceiveWindows().isEmpty(); }, Wait));
        b.prompts.shown.clear();
    }
}

TEST_F(FileSets, TooLittleFreeSpaceIsSaidBeforeAnythingIsAskedFor)
{
    const QString small = files.file(u"small"_s);
    QDir().mkpath(small);
    if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    const QString big = makeFile(u"two-mib.bin"_s, 2 << 20);
    SetReceiveWindow *receiving = offerSet({big});
    ASSERT_TRUE(receiving);
    accept(receiving, small);
    const bool said = std::any_of(b.prompts.shown.begin(), b.prompts.shown.end(),
                                  [](const auto &box) { return box.text.startsWith(u"磁盘空间不足：还需要 "_s); });
    EXPECT_TRUE(said);
    EXPECT_FALSE(receiving->accepted());
    QTest::qWait(300);
    EXPECT_TRUE(QDir(small).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_FALSE(sending->streaming());
    ::umount(QFile::encodeName(small).constData());
}

// Files dropped on the buddy in the main window's list, or on a message window, open the set's
// window with them.
TEST_F(FileSets, FilesDroppedOnABuddyOrAMessageWindowAreOffered)
{
    const QString one = makeFile(u"one.txt"_s, 10);
    const QString two = makeFile(u"two.txt"_s, 20);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(one), QUrl::fromLocalFile(two)});
    QWidget *list = a.form1->userlist->viewport();
    const QPoint onBuddy = a.form1->userlist->visualItemRect(a.form1->userlist->item(0)).center();
    QDragEnterEvent enter(onBuddy, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(onBuddy), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &drop);
    ASSERT_EQ(a.files->setSendWindows().size(), 1);
    EXPECT_EQ(a.files->setSendWindows()[0]->chosenPaths(), (QStringList{one, two}));
    EXPECT_EQ(a.files->setSendWindows()[0]->peerIp(), b.ip());

    a.form1->showMessageWindow(u"发送消息"_s, b.ip(), u"乙"_s, QString(), true);
    TForm3 *message = a.form1->findChildren<TForm3 *>(Qt::FindDirectChildrenOnly).constLast();
    EXPECT_EQ(message->ip->text(), b.ip());
    QDragEnterEvent enterInput(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(message->inpu->viewport(), &enterInput);
    QDropEvent onInput(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(message->inpu->viewport(), &onInput);
    EXPECT_TRUE(onInput.isAccepted());
    ASSERT_EQ(a.files->setSendWindows().size(), 2);
    EXPECT_EQ(a.files->setSendWindows()[1]->chosenPaths(), (QStringList{one, two}));
    EXPECT_TRUE(message->inpu->toPlainText().isEmpty()) << "the names are not typed into the message";
}

// To a peer that takes one file per offer, files go one after another as today's offers, each
// in a window of its own on the other side; a folder is refused with a box.
TEST_F(FileSets, APeerThatTakesOneFilePerOfferGetsSingleOffersInTurnAndNoFolder)
{
    b.form1->setAnnounceFileSets(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a.files->takesSets(b.ip()); }, Wait));
    const QString one = makeFile(u"first.bin"_s, 1000, 1);
    const QString two = makeFile(u"second.bin"_s, 2000, 2);
    a.files->offerPaths(b.ip(), {files.path() + u"/in"_s});
    EXPECT_TRUE(a.prompts.texts().constLast().startsWith(u"对方的程序不能接收文件夹"_s));
    EXPECT_EQ(a.files->sendWindow(), nullptr);

    a.files->offerPaths(b.ip(), {one, two});
    for (const QString &name : {u"first.bin"_s, u"second.bin"_s}) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(QTest::qWaitFor([&] { return a.files->sendWindow() && !a.files->sendWindow()->isClosed(); }, Wait));
        TForm6 *window = a.files->sendWindow();
        window->Timer1->setInterval(10);
        if (name == u"first.bin"_s)
            window->Button1->click(); // the person's "发送"; the next goes by itself
        ASSERT_TRUE(QTest::qWaitFor([&] {
            const QList<TForm7 *> windows = b.files->receiveWindows();
            return !windows.isEmpty() && !windows.last()->accepted() && windows.last()->fsm->text().contains(name);
        }, Wait));
        TForm7 *receiving = b.files->receiveWindows().last();
        receiving->Timer1->setInterval(10);
        const QString target = files.file(u"in/"_s + name);
        TwoPeers::accept(receiving, target);
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(target); }, Wait));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->isClosed(); }, Wait));
    }
    EXPECT_EQ(files.read(u"in/first.bin"_s), files.read(u"first.bin"_s));
    EXPECT_EQ(files.read(u"in/second.bin"_s), files.read(u"second.bin"_s));
    EXPECT_TRUE(b.files->setReceiveWindows().isEmpty());
}

} // namespace
