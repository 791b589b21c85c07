#include "core/Dispatcher.h"

#include "core/ContactStore.h"
#include "core/Deliveries.h"
#include "core/DispatcherWindows.h"
#include "core/ErrorReporter.h"
#include "core/FileWindows.h"
#include "core/Gbk.h"
#include "core/LocalTime.h"
#include "core/Packet.h"
#include "core/PeerSecurity.h"
#include "core/Prompts.h"
#include "net/Exceptions.h"
#include "net/TZnUDP.h"
#include "secure/Envelope.h"

#include <algorithm>
#include <array>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString NoAutoReplyCaption = u"Talvino"_s;

constexpr char SealedType = '9';

// The GBK bytes of "自动回复": payload bytes 2 to 9 of every automatic reply.
const QByteArray AutoReplyMarker = QByteArrayLiteral("\xD7\xD4\xB6\xAF\xBB\xD8\xB8\xB4");

} // namespace

Dispatcher::Dispatcher(TZnUDP &lwudp, ContactStore &store, DispatcherWindows &windows, Prompts &prompts,
                       ErrorReporter &reporter)
    : lwudp_(lwudp), store_(store), windows_(windows), prompts_(prompts), reporter_(reporter)
{
    clock_.start();
    release_.setSingleShot(true);
    release_.callOnTimeout([this] { guarded(reporter_, [this] { releaseHeld(); }); });
}

void Dispatcher::setSealedMessages(ArrivalOrder *arrivals, Deliveries *deliveries)
{
    arrivals_ = arrivals;
    deliveries_ = deliveries;
}

void Dispatcher::lwudpDataReceived(TZnUDP *, int, const QString &FromIP, int)
{
    Datagram datagram = readDatagram(FromIP);
    // While older datagrams wait, a newer one waits behind them, so the order is kept.
    if (depth_ >= maxNesting_ || !backlog_.isEmpty())
        backlog_.push(std::move(datagram));
    else
        dispatchGuarded(datagram);
    dispatchBacklog();
}

DatagramBacklog::Datagram Dispatcher::readDatagram(const QString &fromIp) const
{
    // Sealed datagrams may be longer; every other type is read into its 255-byte buffer as
    // it always was (the rest of a longer one is cut off).
    std::array<char, TZnUDP::ReceiveBufferSize> buffer{};
    int n = 0;
    lwudp_.ReadDatagram(buffer.data(), int(buffer.size()), n);
    n = std::max(n, 0);
    if (n > Packet::BufferSize && buffer[0] != SealedType)
        n = Packet::BufferSize;
    return {QByteArray(buffer.data(), n), fromIp};
}

// Counts the dispatch as standing open until its handler and the error box of its failure
// have returned: the nested event loop of either box dispatches the next datagrams.
void Dispatcher::dispatchGuarded(const Datagram &datagram)
{
    struct Level {
        int &depth;
        explicit Level(int &d) : depth(d) { ++depth; }
        ~Level() { --depth; }
        Level(const Level &) = delete;
        Level &operator=(const Level &) = delete;
    } level(depth_);
    guarded(reporter_, [&] { dispatch(datagram); });
}

// The waiting datagrams, oldest first, for as long as the nesting is below its bound; one
// that opens a box again makes the next ones wait for that box.
void Dispatcher::dispatchBacklog()
{
    while (depth_ < maxNesting_ && !backlog_.isEmpty())
        dispatchGuarded(backlog_.take());
}

void Dispatcher::dispatch(const Datagram &datagram)
{
    // Each datagram has its own bytes: nested calls from a box's event loop do not disturb them.
    const QByteArray &bytes = datagram.bytes;
    const char type = bytes.isEmpty() ? '\0' : bytes[0];
    if (type < '0' || type > '9')
        throw EConvertError(Gbk::decode(bytes.left(1)));

    switch (type) {
    case '8':
        if (OnPresence)
            OnPresence(bytes, datagram.fromIp);
        return;
    case SealedType: return dispatchSealed(datagram);
    default: return dispatchBase(type, bytes.mid(1), datagram.fromIp, Origin::Plain);
    }
}

// A sealed datagram carries a base datagram, a message with its id, a receipt, or a file set's
// offer or answer; one that does not open, repeats, or carries anything else (presence, another
// envelope) is dropped without a word.
void Dispatcher::dispatchSealed(const Datagram &datagram)
{
    if (!security_)
        return;
    const std::optional<PeerSecurity::Opened> opened = security_->open(datagram.bytes, datagram.fromIp);
    if (!opened)
        return;
    switch (opened->innerKind) {
    case InnerKind::Message:
        return dispatchSealedMessage(opened->inner, opened->senderKey, datagram.fromIp, opened->keyChanged);
    case InnerKind::Receipt:
        if (deliveries_)
            deliveries_->receiptArrived(opened->senderKey, opened->inner);
        return;
    case InnerKind::SetOffer:
    case InnerKind::SetAnswer:
        // Files only from the pinned key: a changed key must be accepted first.
        if (files_ && !opened->keyChanged)
            files_->fileSetArrived(opened->innerKind, opened->inner, datagram.fromIp, opened->senderKey);
        return;
    default:
        break;
    }
    const char type = opened->inner[0];
    if (type < Packet::Message || type > Packet::Progress)
        return;
    const QByteArray inner = opened->inner.left(Packet::bufferSize(type));
    dispatchBase(type, inner.mid(1), datagram.fromIp, opened->keyChanged ? Origin::SealedKeyChanged : Origin::Sealed);
}

// Every copy of a message is answered with a receipt at once, a copy of one already shown too;
// what the copy lets through is shown in its sender's order.
void Dispatcher::dispatchSealedMessage(const QByteArray &inner, const QByteArray &senderKey, const QString &fromIp,
                                       bool keyChanged)
{
    const std::optional<SealedMessage> message = SealedMessage::parse(inner);
    if (!message || !arrivals_)
        return;
    if (const std::optional<QByteArray> receipt = security_->seal(fromIp, InnerKind::Receipt, message->id.bytes())) {
        lwudp_.RemoteHost = fromIp;
        lwudp_.SendDatagram(*receipt, int(receipt->size()));
    }
    QList<ArrivalOrder::Arrival> shown;
    arrivals_->arrive(senderKey, {*message, fromIp, keyChanged, clock_.elapsed()}, shown);
    scheduleRelease();
    showArrivals(shown);
}

void Dispatcher::showArrivals(const QList<ArrivalOrder::Arrival> &shown)
{
    for (const ArrivalOrder::Arrival &a : shown)
        dispatchBase(a.message.datagram[0], a.message.datagram.mid(1), a.fromIp,
                     a.keyChanged ? Origin::SealedKeyChanged : Origin::Sealed);
}

void Dispatcher::releaseHeld()
{
    const QList<ArrivalOrder::Arrival> due = arrivals_->release(clock_.elapsed());
    scheduleRelease();
    showArrivals(due);
}

void Dispatcher::scheduleRelease()
{
    const std::optional<qint64> due = arrivals_->nextDueMs();
    if (!due)
        return release_.stop();
    release_.start(int(std::clamp<qint64>(*due - clock_.elapsed(), 0, std::numeric_limits<int>::max())));
}

void Dispatcher::dispatchBase(char type, const QByteArray &payload, const QString &fromIp, Origin origin)
{
    switch (type) {
    case Packet::Message: return handleMessage(payload, fromIp, false, origin);
    case Packet::FriendRequest: return handleFriendRequest(payload, fromIp);
    case Packet::FileAccept: return handleFileAccept(fromIp);
    case Packet::FriendAccept: return handleFriendAccept(payload, fromIp);
    case Packet::FileOffer: return handleFileOffer(payload, fromIp, origin);
    case Packet::AutoReply: return handleMessage(payload, fromIp, true, origin);
    case Packet::Progress: return handleProgress(payload, fromIp);
    default: return; // type 0 means nothing
    }
}

QString Dispatcher::shownText(const QString &text, const QString &fromIp, Origin origin) const
{
    switch (origin) {
    case Origin::Plain: return security_ && security_->isPinned(fromIp) ? u"[未加密]"_s + text : text;
    case Origin::SealedKeyChanged: return u"[密钥已变]"_s + text;
    case Origin::Sealed: return text;
    }
    return text;
}

// Types 1 and 6: a message window or a chat-room entry; a message may be answered.
void Dispatcher::handleMessage(const QByteArray &payload, const QString &fromIp, bool autoReply, Origin origin)
{
    const QString name = store_.senderLookup(fromIp);
    const QString shownName = name.isEmpty() ? u"陌生人"_s : name;
    const QString text = shownText(Gbk::decode(payload, windows_.textCharset(fromIp)), fromIp, origin);
    if (windows_.autoPopup()) {
        if (!(name.isEmpty() && windows_.rejectStrangers())) {
            windows_.showMessageWindow(autoReply ? u"对方自动回复"_s : u"接收消息"_s, fromIp, shownName, text,
                                       !autoReply);
            windows_.messageShown(fromIp, shownName, text, autoReply);
        }
    } else {
        windows_.appendChatRoomEntry(
            chatRoomEntry(autoReply ? u"[对方自动回复]"_s : QString(), shownName, lwudp_.ReceiveTime(), text));
        windows_.messageShown(fromIp, shownName, text, autoReply);
    }
    if (!autoReply)
        sendAutoReply(payload, fromIp);
}

void Dispatcher::sendAutoReply(const QByteArray &payload, const QString &fromIp)
{
    const QString caption = windows_.mainCaption();
    if (caption == NoAutoReplyCaption || payload.isEmpty() || payload.mid(1, 8) == AutoReplyMarker)
        return;
    const QByteArray reply = Packet::autoReply(caption, windows_.textCharset(fromIp));
    if (deliveries_)
        deliveries_->send(fromIp, reply);
    else
        Packet::send(lwudp_, fromIp, reply);
}

void Dispatcher::handleFriendRequest(const QByteArray &payload, const QString &fromIp)
{
    if (store_.isBanned(fromIp))
        return;
    if (windows_.statusFlag() == 1)
        return yx(payload, fromIp);
    switch (prompts_.confirm(friendRequestQuestion(fromIp), true)) {
    case Prompts::Answer::Yes: return yx(payload, fromIp);
    case Prompts::Answer::NoToAll: return store_.ban(fromIp);
    case Prompts::Answer::No: return;
    }
}

void Dispatcher::yx(const QByteArray &nickname, const QString &ip)
{
    addBuddy(nickname.isEmpty() ? Gbk::encode(ip) : nickname, ip);
    Packet::send(lwudp_, ip, Packet::friendAccept(windows_.ownNickname()));
}

void Dispatcher::handleFriendAccept(const QByteArray &payload, const QString &fromIp)
{
    // An accept that answers no open add-friend dialog, or comes from another address than
    // the one that dialog asked, was not asked for: it touches nothing and adds nobody, so a
    // peer cannot push itself into the friend list.
    if (!windows_.closeAddFriendDialog(fromIp))
        return;
    addBuddy(payload, fromIp);
}

void Dispatcher::addBuddy(const QByteArray &nickname, const QString &ip)
{
    if (store_.adduser(nickname, ip, windows_.statusFlag()))
        windows_.buddyListChanged(store_.buddyEntries());
}

void Dispatcher::handleFileAccept(const QString &fromIp)
{
    if (files_ && files_->fileWindowFlag() == 1)
        files_->clickTrueSend(fromIp);
}

void Dispatcher::handleFileOffer(const QByteArray &payload, const QString &fromIp, Origin origin)
{
    // The size stands before the first "B" (of "Byte "); an offer without one is all size.
    const qsizetype b = payload.indexOf('B');
    const qint64 size = toInteger(b < 0 ? payload : payload.left(b));
    if (files_)
        files_->openReceiveFileWindow(size, shownText(Gbk::decode(payload), fromIp, origin), fromIp);
}

void Dispatcher::handleProgress(const QByteArray &payload, const QString &fromIp)
{
    if (files_ && files_->fileWindowFlag() == 1 && files_->hasReceiveFileWindow())
        files_->showReceiveProgress(fromIp, toInteger(payload));
}

// A size or position: decimal digits only, at most what 64 bits hold. Anything else raises
// the conversion error naming the text.
qint64 Dispatcher::toInteger(const QByteArray &text)
{
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    qint64 value = 0;
    bool ok = !text.isEmpty();
    for (char c : text) {
        if (c < '0' || c > '9' || value > (max - (c - '0')) / 10) {
            ok = false;
            break;
        }
        value = value * 10 + (c - '0');
    }
    if (!ok)
        throw EConvertError(Gbk::decode(text));
    return value;
}

QString Dispatcher::chatRoomEntry(const QString &prefix, const QString &name, const QTime &time,
                                  const QString &text)
{
    return prefix + name + u":["_s + LocalTime::longTime(time) + u"]\r\n"_s + text + u"\r\n"_s
        + QString(51, u'-');
}

QString Dispatcher::friendRequestQuestion(const QString &ip)
{
    return ip + u"申请将您加入好友,并与您连接,如果允许请选择"_s + u"\r\r"_s
        + u"[Yes 表示允许]   [No 表示拒绝]   [NoToAll 表示不在显示该IP的申请]"_s + u"\r\r"_s;
}
