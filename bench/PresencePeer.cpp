#include "bench/PresencePeer.h"

#include "bench/BenchPeer.h"
#include "core/PresenceService.h"
#include "ui/PresencePage.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"

#include "core/Deliveries.h"
#include "core/PeerSecurity.h"
#include "fileset/SetStores.h"
#include "transfer/TForm6.h"
#include "transfer/OfferStrmServ.h"
#include "transfer/SetReceiveWindow.h"
#include "transfer/SetSendWindow.h"
#include "transfer/TForm7.h"
#include "transfer/TransferWindows.h"
#include "ui/ArrivedMessage.h"
#include "ui/TForm3.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Text from the network on one line of output.
QString oneLine(QString text) { return text.replace(u'\r', u' ').replace(u'\n', u' '); }

void printLine(const QString &line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

QString hex(const QByteArray &id) { return QString::fromLatin1(id.toHex()); }

// A state as the console prints it.
QString stateName(Deliveries::State state)
{
    switch (state) {
    case Deliveries::State::Sending: return u"sending"_s;
    case Deliveries::State::Delivered: return u"delivered"_s;
    case Deliveries::State::NotDelivered: return u"notdelivered"_s;
    case Deliveries::State::Waiting: return u"waiting"_s;
    case Deliveries::State::NoReceipt: return u"noreceipt"_s;
    case Deliveries::State::NotQueued: return u"notqueued"_s;
    }
    return {};
}

} // namespace

PresencePeerOptions PresencePeerOptions::parse(const QStringList &arguments)
{
    PresencePeerOptions o;
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        const QString &key = arguments.at(i);
        const QString &value = arguments.at(i + 1);
        if (key == u"--ip"_s)
            o.ip = value;
        else if (key == u"--nick"_s)
            o.nick = value;
        else if (key == u"--status"_s)
            o.status = value.toInt();
        else if (key == u"--presence"_s)
            o.presence = value != u"off"_s;
        else if (key == u"--keepalive-ms"_s)
            o.keepAliveMs = std::max(1, value.toInt());
        else if (key == u"--answer-delay-ms"_s)
            o.answerDelayMs = std::max(0, value.toInt());
        else if (key == u"--interfaces"_s)
            o.interfaces = value.split(u',', Qt::SkipEmptyParts);
        else if (key == u"--dir"_s)
            o.dir = value;
        else if (key == u"--chat-room"_s)
            o.chatRoom = value == u"on"_s;
        else if (key == u"--file-sets"_s)
            o.fileSets = value != u"off"_s;
    }
    return o;
}

PresenceConsole::PresenceConsole(BenchPeer &peer, PresenceService &service, QObject *parent)
    : QObject(parent), peer_(peer), service_(service), sets_(new SetConsole(peer, this)),
      input_(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this))
{
    connect(input_, &QSocketNotifier::activated, this, &PresenceConsole::readInput);
    connect(&service_, &PresenceService::peerFound, this,
            [this](const NearbyPeer &p) { print(u"found"_s, p); });
    connect(&service_, &PresenceService::peerChanged, this,
            [this](const NearbyPeer &p) { print(u"changed"_s, p); });
    connect(&service_, &PresenceService::peerGone, this,
            [](const QByteArray &id) { printLine(u"gone "_s + QString::fromLatin1(id.toHex())); });
    peer_.form1->OnMessageShown = [](const ArrivedMessage &m) { printLine(u"message "_s + m.fromIp + u' ' + oneLine(m.text)); };
    connect(&peer_.form1->deliveries(), &Deliveries::stateChanged, this,
            [](const QString &ip, const QByteArray &id, Deliveries::State state) {
                printLine(u"delivery "_s + ip + u' ' + QString::fromLatin1(id.toHex()) + u' ' + stateName(state) + u' '
                          + QString::number(QDeadlineTimer::current().deadline()));
            });
    peer_.prompts.echo = false;
    peer_.prompts.onShown = [](const QString &text) { printLine(u"box "_s + oneLine(text)); };
}

void PresenceConsole::prepare(const PresencePeerOptions &options)
{
    service_.setKeepAliveMs(options.keepAliveMs);
    // The rate limit's window shrinks with the keep-alive period, so that a shortened period
    // is not mistaken for a flood.
    service_.rateLimit().windowMs = std::max<qint64>(
        1, PresenceRateLimit::DefaultWindowMs * options.keepAliveMs / PresenceService::DefaultKeepAliveMs);
    service_.setMaxAnswerDelayMs(options.answerDelayMs);
    setPresence(options.presence);
    if (!options.fileSets)
        peer_.form1->setAnnounceFileSets(false);
}

void PresenceConsole::started(const PresencePeerOptions &options)
{
    if (options.status == 1)
        peer_.form1->N18Click();
    if (!options.interfaces.isEmpty())
        service_.setChosenInterfaces(options.interfaces);
    if (options.chatRoom)
        peer_.enterChatRoom();

    printLine(u"ready "_s + QString::fromLatin1(service_.ownId().toHex()));
}

// As the person does it: the settings window's presence box, which the main window follows.
void PresenceConsole::setPresence(bool on) { peer_.form2->presencePage->presenceOn->setChecked(on); }

bool PresenceConsole::run(const QString &line)
{
    const QString command = line.section(u' ', 0, 0);
    const QString argument = line.section(u' ', 1);
    if (command == u"nick"_s)
        peer_.form2->setNickname(argument);
    else if (command == u"status"_s)
        argument == u"1"_s ? peer_.form1->N18Click() : peer_.form1->N19Click();
    else if (command == u"presence"_s)
        setPresence(argument != u"off"_s);
    else if (command == u"refresh"_s)
        service_.refresh();
    else if (command == u"quit"_s)
        emit quitRequested();
    else if (command == u"send"_s)
        sendMessage(argument.section(u' ', 0, 0), argument.section(u' ', 1));
    else if (command == u"offer"_s)
        offerFile(argument.section(u' ', 0, 0), argument.section(u' ', 1));
    else if (command == u"accept"_s) {
        acceptInto_ = argument;
        acceptOffers();
    } else if (command == u"code"_s)
        printLine(u"code "_s + argument + u' ' + peer_.form1->security().safetyCode(argument));
    else if (command == u"list"_s) {
        const QList<NearbyPeer> peers = service_.peers();
        for (const NearbyPeer &p : peers)
            print(u"peer"_s, p);
        printLine(u"listed "_s + QString::number(peers.size()));
    } else
        return sets_->run(command, argument);
    return true;
}

// As a person answers a message: the message window to ip, the text typed, "发送信息".
void PresenceConsole::sendMessage(const QString &ip, const QString &text)
{
    peer_.form1->showMessageWindow(u"接收消息"_s, ip, ip, QString(), true);
    // The message windows are the main window's own children: no need to look deeper.
    TForm3 *window = peer_.form1->findChildren<TForm3 *>(Qt::FindDirectChildrenOnly).constLast();
    window->inpu->setPlainText(text);
    window->fs->click();
}

// As a person offers a file: the send-file window to ip, the file chosen, "发送".
void PresenceConsole::offerFile(const QString &ip, const QString &path)
{
    peer_.prompts.openAnswer = path;
    peer_.files->openSendFileWindow(ip);
    if (TForm6 *window = peer_.files->sendWindow())
        window->Button1->click();
}

// Every offer's window is answered with "接收" as soon as it is there, into acceptInto_.
void PresenceConsole::acceptOffers()
{
    if (accepting_)
        return;
    auto *user = new QTimer(this);
    accepting_ = user;
    connect(user, &QTimer::timeout, this, [this] {
        TForm7 *window = peer_.files->receiveWindow();
        if (!window || window->accepted() || window->isClosed())
            return;
        printLine(u"offer "_s + window->jsd->Host + u' ' + oneLine(window->fsm->text()));
        peer_.prompts.saveAnswer = acceptInto_;
        window->Button1->click();
    });
    user->start(20);
}

void PresenceConsole::readInput()
{
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) { // the parent has gone: end as on quit
        input_->setEnabled(false);
        emit quitRequested();
        return;
    }
    pending_.append(buffer, n);
    for (qsizetype end; (end = pending_.indexOf('\n')) >= 0; pending_.remove(0, end + 1)) {
        const QString line = QString::fromUtf8(pending_.left(end)).trimmed();
        if (!line.isEmpty() && !run(line))
            std::fprintf(stderr, "presence_peer: unknown command: %s\n", line.toUtf8().constData());
    }
}

void PresenceConsole::print(const QString &event, const NearbyPeer &peer)
{
    printLine(event + u' ' + QString::fromLatin1(peer.id.toHex()) + u' ' + peer.address + u' '
              + QString::number(peer.statusMode) + u' ' + peer.displayNickname);
}

SetConsole::SetConsole(BenchPeer &peer, QObject *parent)
    : QObject(parent), peer_(peer), ticker_(new QTimer(this))
{
    qApp->installEventFilter(this);
    connect(ticker_, &QTimer::timeout, this, &SetConsole::tick);
    ticker_->start(TickMs);
}

SetConsole::~SetConsole() { qApp->removeEventFilter(this); }

bool SetConsole::run(const QString &command, const QString &argument)
{
    if (command == u"offerset"_s)
        offerSet(argument.section(u' ', 0, 0), argument.section(u' ', 1).split(u'|', Qt::SkipEmptyParts));
    else if (command == u"acceptsets"_s)
        acceptInto_ = argument;
    else if (command == u"pausesets"_s)
        clickPause(true);
    else if (command == u"continuesets"_s)
        clickPause(false);
    else
        return false;
    return true;
}

// A send window is shown before it streams (a restored one streams at once): its end of
// stream is reported from the first show on.
bool SetConsole::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show)
        if (auto *window = qobject_cast<SetSendWindow *>(watched); window && !reported_.contains(window)) {
            reported_.removeAll(nullptr);
            reported_.append(window);
            connect(window, &SetSendWindow::streamEnded, this, [window](qint64 bodyBytes, bool acknowledged) {
                printLine(u"setstream "_s + hex(window->setId()) + u' ' + QString::number(bodyBytes) + u' '
                          + (acknowledged ? u'1' : u'0'));
            });
        }
    return QObject::eventFilter(watched, event);
}

// As a person drops files and folders on a buddy and presses "发送" in the set's window.
void SetConsole::offerSet(const QString &ip, const QStringList &paths)
{
    const QList<SetSendWindow *> before = peer_.files->setSendWindows();
    peer_.files->offerPaths(ip, paths);
    for (SetSendWindow *window : peer_.files->setSendWindows()) {
        if (before.contains(window))
            continue;
        window->sendButton->click();
        if (!window->offered())
            return; // a box said why
        const std::optional<OutgoingSet> set
            = SetStore(peer_.context.configDir + u"/filesets"_s).outgoing(window->setId());
        printLine(u"setsent "_s + hex(window->setId()) + u' '
                  + QString::number(set ? set->manifest.fileCount() : -1));
    }
}

void SetConsole::tick()
{
    for (SetSendWindow *window : peer_.files->setSendWindows())
        showState(window, u"send"_s);
    for (SetReceiveWindow *window : peer_.files->setReceiveWindows()) {
        if (!acceptInto_.isEmpty())
            acceptSet(window);
        showState(window, u"recv"_s);
    }
}

// The person chooses the folder with "更改…" and presses "接收", once per offer.
void SetConsole::acceptSet(SetReceiveWindow *window)
{
    if (window->accepted() || window->isClosed() || tried_.contains(window))
        return;
    tried_.removeAll(nullptr);
    tried_.append(window);
    peer_.prompts.folderAnswer = acceptInto_;
    window->changeFolder->click();
    window->acceptButton->click();
    if (window->accepted())
        printLine(u"setoffer "_s + hex(window->setId()) + u' ' + window->peerIp() + u' '
                  + oneLine(window->summary->text()));
}

void SetConsole::showState(SetWindow *window, const QString &direction)
{
    const QString text = oneLine(window->state->text());
    if (text.isEmpty() || shown_.value(window) == text)
        return;
    if (!shown_.contains(window))
        connect(window, &QObject::destroyed, this, [this](QObject *gone) { shown_.remove(gone); });
    shown_.insert(window, text);
    printLine(u"setstate "_s + direction + u' ' + hex(window->setId()) + u' ' + text);
    if (direction == u"recv"_s && text == u"接收完毕！"_s)
        printLine(u"setdone "_s + hex(window->setId()));
}

void SetConsole::clickPause(bool running)
{
    for (SetReceiveWindow *window : peer_.files->setReceiveWindows())
        if (!window->isClosed() && window->accepted() && window->running() == running)
            window->pauseButton->click();
}
