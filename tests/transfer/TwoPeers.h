#pragma once

#include "core/ContactStore.h"
#include "core/Gbk.h"
#include "core/Packet.h"
#include "net/TZnStrm.h"
#include "tests/support/TestPeer.h"
#include "transfer/OfferStrmServ.h"
#include "transfer/TForm6.h"
#include "transfer/TForm7.h"
#include "transfer/TransferWindows.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <sys/socket.h>

using namespace Qt::Literals::StringLiterals;

// Two complete peers in one process, with their file windows: A on 127.0.0.2 sends files to its
// buddy B on 127.0.0.3. Files live in a temporary folder of their own. File windows opened
// through the helpers release 10 ms after they close, and A reports progress every 10 ms.
class TwoPeers : public ::testing::Test {
protected:
    static constexpr int Wait = 10000;

    TwoPeers()
    {
        a.storeNickname(u"甲"_s);
        b.storeNickname(u"乙"_s);
        a.start();
        b.start();
        befriend(a, u"乙"_s, b.ip());
        a.prompts.shown.clear();
        b.prompts.shown.clear();
    }

    // peer gets ip as its only buddy, selected.
    static void befriend(TestPeer &peer, const QString &nickname, const QString &ip)
    {
        ContactStore &store = peer.form1->store();
        store.adduser(Gbk::encode(nickname), ip, 1);
        peer.form1->buddyListChanged(store.buddyEntries());
        peer.form1->userlist->item(0)->setSelected(true);
    }

    // A file of size pseudo-random bytes in the files folder.
    QString makeFile(const QString &name, qint64 size, quint32 seed = 7) const
    {
        QByteArray bytes(size, Qt::Uninitialized);
        QRandomGenerator random(seed);
        for (char &c : bytes)
            c = char(random.generate() & 0xff);
        files.write(name, bytes);
        return files.file(name);
    }

    // The names in the files folder, sorted.
    QStringList filesThere(const QString &folder) const
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    // A's user chooses "传送文件" for the selected buddy B.
    TForm6 *openSendWindow()
    {
        a.form1->N2->trigger();
        TForm6 *window = a.files->sendWindow();
        if (window) {
            window->Timer1->setInterval(10);
            window->Timer2->setInterval(10);
        }
        return window;
    }

    // A's user types the note, presses "发送" and chooses path; gives B's new receive-file
    // window once B has opened it.
    TForm7 *offer(TForm6 *window, const QString &path, const QString &note = QString())
    {
        const qsizetype before = b.files->receiveWindows().size();
        window->fsm->setText(note);
        a.prompts.openAnswers << path;
        window->Button1->click();
        if (!QTest::qWaitFor([&] { return b.files->receiveWindows().size() > before; }, Wait))
            return nullptr;
        TForm7 *received = b.files->receiveWindows().last();
        received->Timer1->setInterval(10);
        return received;
    }

    // B's user presses "接收" and chooses target (or cancels the dialog, when empty).
    void accept(TForm7 *window, const QString &target)
    {
        if (!target.isEmpty())
            b.prompts.saveAnswers << target;
        window->Button1->click();
    }

    // Runs during A's post, once, right after the first bytes of the body went out. The body
    // moves on a thread of its own while the action runs: B's receive windows take it through
    // the smallest receive buffer the system allows, so that a body of a few MiB is still
    // moving for a good while after its first bytes.
    void duringBody(TForm6 *window, std::function<void()> action)
    {
        for (TForm7 *receiving : b.files->receiveWindows()) {
            const int smallest = 1;
            ::setsockopt(receiving->jsd->Socket(), SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);
        }
        auto original = window->fsd->OnPacketSent;
        window->fsd->OnPacketSent = [original, action, done = false](RIzarorozi *sender) mutable {
            original(sender);
            if (!done) {
                done = true;
                action();
            }
        };
    }

    // Until the window has been released.
    template <typename Window> static bool released(const QPointer<Window> &window)
    {
        return QTest::qWaitFor([&] { return window.isNull(); }, Wait);
    }

    TestPeer a{u"127.0.0.2"_s};
    TestPeer b{u"127.0.0.3"_s};
    TempDir files;
};
