// Opens every window of two peers in one process, A (127.0.0.2) and B (127.0.0.3), with the
// longest values (a 20-byte nickname, an offer of 2 GiB - 1 bytes), their conversation sealed,
// the safety code of B and a message window of a peer whose key changed, in a light or a dark
// palette, and prints each window's id for scripts/screenshots.sh. Once the file "box" appears
// in its folder it raises the settings window's "保存成功！" box, to show where a box opens.
// Usage: screenshot_tour light|dark folder
#include "core/ContactStore.h"
#include "core/Deliveries.h"
#include "core/Gbk.h"
#include "core/Packet.h"
#include "core/PeerSecurity.h"
#include "core/PresenceService.h"
#include "net/TZnUDP.h"
#include "tests/tour/Tour.h"
#include "transfer/TForm6.h"
#include "transfer/SetProgress.h"
#include "transfer/SetReceiveWindow.h"
#include "transfer/SetSendWindow.h"
#include "transfer/TForm7.h"
#include "transfer/TransferWindows.h"
#include "ui/NearbyList.h"
#include "ui/PresenceWhy.h"
#include "ui/SafetyCodeDialog.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"
#include "ui/TForm3.h"
#include "ui/TForm5.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUdpSocket>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>

using namespace Qt::Literals::StringLiterals;

using Tour::Peer;
using Tour::print;
using Tour::waitFor;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    Tour::dress(app, argv[1]);
    const QString folder = QString::fromLocal8Bit(argv[2]);

    const QString longName = QString(10, u'昵'); // 20 bytes, the longest nickname
    Peer a(u"127.0.0.2"_s, folder + u"/a"_s, longName);
    Peer b(u"127.0.0.3"_s, folder + u"/b"_s, u"阿红"_s);
    a.form1->show();
    waitFor([&] { return a.form1->isVisible(); });
    a.befriend(u"阿红"_s, u"127.0.0.3"_s);
    b.befriend(longName, u"127.0.0.2"_s);
    a.befriend(u"老王"_s, u"127.0.0.4"_s); // a peer of the base protocol: "未加密"
    a.form1->move(40, 40);
    // A and B hear each other's presence, keys included: what they send each other is sealed.
    b.form1->show(); // its start-up starts its presence
    waitFor([&] { return b.form1->isVisible(); });
    b.form1->hide();
    for (auto [from, to] : {std::pair{&a, &b}, std::pair{&b, &a}}) {
        from->form1->presence()->setMaxAnswerDelayMs(0);
        from->form1->presence()->setUnicastTargets({to->context.bindAddress});
        from->form1->presence()->refresh();
    }
    waitFor([&] { return a.form1->security().linkTo(b.context.bindAddress) == PeerSecurity::Link::Sealed
                         && b.form1->security().linkTo(a.context.bindAddress) == PeerSecurity::Link::Sealed; });

    // Two peers nearby that are not buddies, found by presence (by unicast: a namespace has
    // only loopback), one of them with markup in its nickname.
    Peer c(u"127.0.0.5"_s, folder + u"/c"_s, u"小刚"_s);
    Peer d(u"127.0.0.6"_s, folder + u"/d"_s, u"<i>斜体</i>"_s);
    for (Peer *peer : {&c, &d}) {
        peer->form1->show();
        waitFor([&] { return peer->form1->isVisible(); });
        peer->form1->hide();
        peer->form1->presence()->setUnicastTargets({a.context.bindAddress});
        peer->form1->presence()->refresh();
    }
    d.form1->N18Click();
    waitFor([&] { return a.form1->nearbylist->count() == 2; });

    // What A sent B earlier: its message window lists it with its state.
    a.form1->deliveries().send(b.context.bindAddress, Packet::message(u"明天上午十点开会"_s));
    waitFor([&] {
        const QList<Deliveries::Sent> sent = a.form1->deliveries().conversation(b.context.bindAddress);
        return !sent.isEmpty() && sent.last().state == Deliveries::State::Delivered;
    });

    // The person types in a message window of their own; two messages arrive meanwhile.
    a.form1->userlist->setCurrentRow(0);
    a.form1->userlistDblClick();
    TForm3 *typing = a.form1->findChildren<TForm3 *>().last();
    typing->activateWindow();
    waitFor([&] { return typing->isActiveWindow(); });
    typing->inpu->setPlainText(u"我正在打字"_s);
    Packet::send(*b.form1->lwudp, a.context.bindAddress, Packet::message(u"第一条：<b>不是粗体</b>"_s));
    Packet::send(*b.form1->lwudp, a.context.bindAddress, Packet::message(QString(100, u'长')));
    waitFor([&] { return a.form1->findChildren<TForm3 *>().size() == 3; });
    TForm3 *arrived = a.form1->findChildren<TForm3 *>().last();
    // Given a second to take the keyboard, the arrived windows leave it where it was.
    waitFor([&] { return QApplication::activeWindow() != typing; }, 1000);
    std::printf("keyboard %s\n", QApplication::activeWindow() == typing ? "kept" : "taken");
    arrived->Button1->click(); // with its history

    // A holiday folder in one offer to B, which saves it in its download folder; and a second
    // set as B is offered it.
    b.context.downloadDir = folder + u"/b/下载"_s;
    QDir().mkpath(b.context.downloadDir);
    const QString holiday = folder + u"/假期照片"_s;
    QDir().mkpath(holiday + u"/第一天"_s);
    QDir().mkpath(holiday + u"/第二天"_s);
    for (int i = 1; i <= 6; ++i) {
        QFile photo(holiday + (i <= 3 ? u"/第一天/IMG_%1.jpg"_s : u"/第二天/IMG_%1.jpg"_s).arg(i));
        photo.open(QIODevice::WriteOnly);
        photo.write(QByteArray(1000 * i, 'x'));
    }
    QFile notes(folder + u"/行程安排.txt"_s);
    notes.open(QIODevice::WriteOnly);
    notes.write("day 1, day 2");
    notes.close();
    a.files->offerPaths(b.context.bindAddress, {holiday, notes.fileName()});
    SetSendWindow *setSending = a.files->setSendWindows().last();
    setSending->note->setText(u"上周末的照片"_s);
    setSending->sendButton->click();
    waitFor([&] { return !b.files->setReceiveWindows().isEmpty(); });
    // One photo changes after the offer: it cannot go, and both windows list it for "全部重试".
    QFile changed(holiday + u"/第二天/IMG_6.jpg"_s);
    changed.open(QIODevice::Append);
    changed.write("edited");
    changed.close();
    b.files->setReceiveWindows().last()->acceptButton->click();
    waitFor([&] { return setSending->state->text().contains(u"未能"_s); });
    // A second set as B is offered it.
    a.files->offerPaths(b.context.bindAddress, {holiday});
    a.files->setSendWindows().last()->sendButton->click();
    a.files->setSendWindows().last()->move(1420, 700);
    waitFor([&] { return b.files->setReceiveWindows().size() == 2; });
    SetReceiveWindow *setReceiving = b.files->setReceiveWindows().last();

    // B receives an offer of 2 GiB - 1 bytes from A, in the window of one file: for this, B is a
    // peer that takes one file per offer.
    b.form1->setAnnounceFileSets(false);
    waitFor([&] { return !a.files->takesSets(b.context.bindAddress); });
    a.files->openSendFileWindow(b.context.bindAddress);
    TForm6 *sending = a.files->sendWindow();
    sending->fsm->setText(u"给你的文件"_s);
    sending->fsjd->setMaximum(std::numeric_limits<int>::max());
    sending->fsjd->setValue(std::numeric_limits<int>::max());
    sending->ztPanel1->setText(u"正在传送数据"_s);
    Packet::send(*a.form1->lwudp, b.context.bindAddress,
                 Packet::fileOffer(std::numeric_limits<int>::max(), QString(40, u'文') + u".iso"_s,
                                   u"<h1>系统警告</h1>请查收"_s));
    waitFor([&] { return b.files->hasReceiveFileWindow(); });
    sending->Timer2Timer(); // the progress text and a progress packet to B
    waitFor([&] { return b.files->receiveWindows().last()->jsjd->value() > 0; });
    TForm7 *receiving = b.files->receiveWindows().last();


    // 小刚 (C) talks to A, then makes itself a new key and talks again: A's window says in red
    // that its key changed.
    Packet::send(*c.form1->lwudp, a.context.bindAddress, Packet::message(u"你好"_s));
    waitFor([&] { return a.form1->security().isPinned(c.context.bindAddress); });
    const qsizetype beforeChange = a.form1->findChildren<TForm3 *>().size();
    c.form1->security().resetIdentity();
    waitFor([&] { return a.form1->security().linkTo(c.context.bindAddress) == PeerSecurity::Link::KeyChanged; });
    Packet::send(*c.form1->lwudp, a.context.bindAddress, Packet::message(u"我换了电脑"_s));
    waitFor([&] { return a.form1->findChildren<TForm3 *>().size() > beforeChange; });
    TForm3 *keyChanged = a.form1->findChildren<TForm3 *>().last();

    // The safety code of B, from the buddy list's menu.
    a.form1->userlist->setCurrentRow(0);
    a.form1->safetyCode->trigger();
    auto *code = a.form1->findChild<SafetyCodeDialog *>();

    // The settings window, then the chat-room view beside the main window with a stranger's entry.
    a.form1->szClick();
    a.form2->autopop->setChecked(false);
    QUdpSocket stranger;
    stranger.bind(QHostAddress(u"127.0.0.4"_s), 2928);
    stranger.writeDatagram("1" + Gbk::encode(u"路过打个招呼"_s), QHostAddress(a.context.bindAddress), 2928);
    Packet::send(*b.form1->lwudp, a.context.bindAddress, Packet::message(u"聊天室里的消息"_s));
    waitFor([&] { return a.form2->chatRoomView()->lts->blockCount() >= 2; });

    a.form1->N12Click(); // an automatic reply: the caption grows
    // Apart from each other, so that each can be taken whole.
    a.form2->move(40, 420);
    sending->move(40, 740);
    receiving->move(480, 740);
    setSending->move(1420, 40);
    setReceiving->move(1420, 480);
    arrived->move(900, 40);
    a.form1->why->trigger();
    auto *why = a.form1->findChild<PresenceWhy *>();
    why->move(480, 300);
    keyChanged->move(480, 40);
    code->move(900, 400);
    print("main", a.form1.get());
    print("message", arrived);
    print("typing", typing);
    print("chatroom", a.form2->chatRoomView());
    print("settings", a.form2.get());
    print("sendfile", sending);
    print("receivefile", receiving);
    print("sendset", setSending);
    print("receiveset", setReceiving);
    print("why", why);
    print("keychanged", keyChanged);
    print("safetycode", code);
    std::printf("ready\n");
    std::fflush(stdout);

    a.prompts.quiet = false;
    QFileSystemWatcher watcher({folder});
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &app, [&] {
        if (!QFile::exists(folder + u"/box"_s))
            return;
        QFile::remove(folder + u"/box"_s);
        QTimer::singleShot(0, a.form2.get(), [&] { a.form2->Button1->click(); });
    });
    return QApplication::exec();
}
