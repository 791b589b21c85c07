// Fuzz target: datagram reception through the dispatcher. Each input is sent as one UDP
// datagram over loopback to a real TZnUDP endpoint whose OnDataReceived runs the dispatcher,
// once for each of a few settings: from a friend and from a stranger, in auto-pop-up and in
// chat-room mode, with the friend-request question answered Yes, No and No to all, and once
// more arriving again while the first box stands open. Windows
// are a recorder and prompts are scripted. After each datagram the target checks that only
// conversion errors were reported, that messages show exactly their payload, that every
// answer sent back fits its packet buffer, and that the contact store is still well-formed.
#include "core/ContactStore.h"
#include "core/Dispatcher.h"
#include "core/Gbk.h"
#include "core/Packet.h"
#include "fuzz/DispatcherHarness.h"
#include "fuzz/FuzzSupport.h"
#include "net/TZnUDP.h"
#include "tests/core/RecordingWindows.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/ScriptedPrompts.h"

#include <QFile>
#include <QRegularExpression>

#include <cstddef>
#include <cstdint>
#include <utility>

using namespace Qt::Literals::StringLiterals;
using FuzzSupport::require;

namespace {

const char *const PeerIp = DispatcherHarness::PeerIp;
const char *const FriendIp = DispatcherHarness::FriendIp;
const QString FriendEntry = u"[1]小明"_s;
const QString OwnName = u"小红"_s;
const QString RestCaption = u"[自动回复]:休息中Zzz"_s;

// The store at the start of every datagram: the own name and one friend.
const QByteArray StartFile = Gbk::encode(u"[MainSection]\r\nName="_s + OwnName
                                         + u"\r\n[UserSection]\r\nCount=1\r\n1="_s + FriendEntry
                                         + u"\r\n[IpSection]\r\n1=127.0.0.2\r\n"_s);

struct Setting {
    bool fromFriend;
    bool autopop;
    bool rejectStrangers;
    quint8 status;
    bool autoReply;
    Prompts::Answer answer;
    bool fileWindows; // Tag 1, with a send-file and a receive-file window
    bool addFriendDialog;
    bool nested; // while the first box stands open, the same datagram comes from the other peer
};

const Setting Settings[] = {
    {true, true, false, 0, true, Prompts::Answer::Yes, true, true, false},
    {false, true, true, 0, true, Prompts::Answer::NoToAll, false, false, false},
    {false, true, false, 1, false, Prompts::Answer::No, true, true, false},
    {true, false, false, 1, false, Prompts::Answer::No, true, false, false},
    {false, false, false, 0, true, Prompts::Answer::Yes, false, true, false},
    {false, true, false, 0, false, Prompts::Answer::Yes, true, true, true},
};

// The harness of every datagram: the nested datagram of a setting is sent from inside the first box.
struct Harness : DispatcherHarness {
    Harness()
    {
        prompts.whileOpen = [this](const ScriptedPrompts::Shown &) { sendNested(); };
    }

    // While the first box of a nested setting stands open: the datagram once more, from the
    // other peer, dispatched inside that box as the event loop of a real modal box would.
    void sendNested()
    {
        const RawPeer *from = std::exchange(nestedFrom, nullptr);
        const int before = dispatched;
        if (from && from->sendTo(PeerIp, quint16(lwudp.BoundPort()), nestedDatagram))
            require(FuzzSupport::pumpUntil([&] { return dispatched > before; }),
                    u"the nested datagram was not dispatched"_s);
    }

    QByteArray nestedDatagram;
    const RawPeer *nestedFrom = nullptr;
};

void prepare(Harness &h, const Setting &s)
{
    h.writeStore(StartFile);
    h.windows = RecordingWindows();
    h.windows.status = s.status;
    h.windows.caption = s.autoReply ? RestCaption : u"Talvino"_s;
    h.windows.autopop = s.autopop;
    h.windows.jjmsrxx = s.rejectStrangers;
    h.windows.tag = s.fileWindows ? 1 : 0;
    h.windows.sendFileWindowExists = h.windows.receiveFileWindowExists = s.fileWindows;
    h.windows.addFriendDialogExists = s.addFriendDialog;
    h.windows.myname = OwnName;
    h.prompts.shown.clear();
    h.prompts.confirmAnswers = {s.answer, s.answer};
    h.reporter.errors.clear();
}

// Types 1 and 6 show exactly the payload (what the 255-byte receive buffer holds after the
// type), under the right name, in the window or transcript that the mode asks for.
void checkMessage(const Harness &h, const Setting &s, char type, const QByteArray &payload)
{
    const QString text = Gbk::decode(payload);
    const RecordingWindows &w = h.windows;
    if (!s.autopop) {
        require(w.chatRoom.size() == 1 && w.messageWindows.isEmpty(), u"chat-room mode: not one entry"_s);
        const QString head = (type == Packet::AutoReply ? u"[对方自动回复]"_s : QString())
            + (s.fromFriend ? FriendEntry : u"陌生人"_s) + u":["_s;
        require(w.chatRoom[0].startsWith(head)
                    && w.chatRoom[0].endsWith(u"]\r\n"_s + text + u"\r\n"_s + QString(51, u'-')),
                u"chat-room entry does not hold the payload"_s);
        return;
    }
    require(w.chatRoom.isEmpty(), u"auto-pop-up mode wrote to the chat room"_s);
    if (!s.fromFriend && s.rejectStrangers) {
        require(w.messageWindows.isEmpty(), u"a rejected stranger's message was shown"_s);
        return;
    }
    require(w.messageWindows.size() == 1, u"not one message window"_s);
    const RecordingWindows::MessageWindow &shown = w.messageWindows[0];
    require(shown.mess == text && shown.nc == (s.fromFriend ? FriendEntry : u"陌生人"_s)
                && shown.answerable == (type == Packet::Message),
            u"the message window does not show the payload as sent"_s);
}

// Whether a line of myinfo.ini is what its section holds: the name in MainSection, a positive
// Count in UserSection and BanSection, "k=[k]nickname" in UserSection, "k=" and a sender's
// address in IpSection and BanSection.
bool lineFits(const QString &section, const QString &text)
{
    static const QRegularExpression entry(u"^([1-9][0-9]*)=\\[([1-9][0-9]*)\\].*$"_s);
    static const QRegularExpression address(u"^[1-9][0-9]*=127\\.0\\.0\\.[23]$"_s);
    if (section == u"[MainSection]"_s)
        return text.startsWith(u"Name="_s);
    if (text.startsWith(u"Count="_s))
        return section != u"[IpSection]"_s && text.mid(6).toInt() > 0;
    if (section == u"[UserSection]"_s) {
        const QRegularExpressionMatch m = entry.match(text);
        return m.hasMatch() && m.captured(1) == m.captured(2);
    }
    return address.match(text).hasMatch();
}

// The store keeps its shape: the own name and the friend stay, each section stands once, and
// every line fits its section (a nickname never adds lines or sections).
void checkStore(const Harness &h)
{
    static const QRegularExpression header(u"^\\[(MainSection|UserSection|IpSection|BanSection)\\]$"_s);
    require(h.store.nickname() == OwnName, u"the own name changed"_s);
    require(h.store.senderLookup(QString::fromLatin1(FriendIp)) == FriendEntry, u"the friend was lost"_s);
    QFile file(h.store.fileName());
    require(file.open(QIODevice::ReadOnly), u"myinfo.ini is gone"_s);
    QStringList seen;
    QString section;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString text = QString::fromLatin1(raw.endsWith('\r') ? raw.chopped(1) : raw);
        if (text.isEmpty())
            continue;
        if (header.match(text).hasMatch()) {
            require(!seen.contains(text), u"a section stands twice: "_s + text);
            seen << (section = text);
        } else {
            require(lineFits(section, text), u"a stray line in "_s + section + u": "_s + text);
        }
    }
}

// Answers the peer sent back (friend accepts, automatic replies) fit their packet buffers.
void checkAnswers(const RawPeer &peer)
{
    for (const QByteArray &answer : peer.drain()) {
        require(!answer.isEmpty() && (answer[0] == Packet::FriendAccept || answer[0] == Packet::AutoReply),
                u"an unexpected answer was sent"_s);
        require(answer.size() <= Packet::bufferSize(answer[0]), u"an answer longer than its packet buffer"_s);
    }
}

void deliver(Harness &h, const Setting &s, const QByteArray &datagram)
{
    prepare(h, s);
    h.nestedDatagram = datagram;
    h.nestedFrom = s.nested ? (s.fromFriend ? &h.strangerPeer : &h.friendPeer) : nullptr;
    const int before = h.dispatched;
    const RawPeer &sender = s.fromFriend ? h.friendPeer : h.strangerPeer;
    if (!sender.sendTo(PeerIp, quint16(h.lwudp.BoundPort()), datagram))
        return; // too long for one datagram: nothing to receive
    require(FuzzSupport::pumpUntil([&] { return h.dispatched > before; }),
            u"the datagram was not dispatched"_s);

    static const QRegularExpression conversion(u"^'.*' is not a valid integer value$"_s,
                                               QRegularExpression::DotMatchesEverythingOption);
    for (const QString &error : h.reporter.errors)
        require(conversion.match(error).hasMatch(), u"the dispatcher reported: "_s + error);

    const bool received = datagram.size() <= TZnUDP::ReceiveBufferSize;
    const char type = received && !datagram.isEmpty() ? datagram[0] : '\0';
    if (type < '0' || type > '9') {
        require(h.reporter.errors.size() == 1 && h.prompts.shown.isEmpty()
                    && h.windows.messageWindows.isEmpty() && h.windows.chatRoom.isEmpty()
                    && h.windows.receiveWindows.isEmpty(),
                u"a datagram without a type digit did more than report the conversion error"_s);
    } else if (type == Packet::Message || type == Packet::AutoReply) {
        checkMessage(h, s, type, datagram.mid(1, Packet::BufferSize - 1));
    }
    checkStore(h);
    checkAnswers(h.friendPeer);
    checkAnswers(h.strangerPeer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Harness harness;
    const QByteArray datagram = FuzzSupport::input(data, size);
    for (const Setting &setting : Settings)
        deliver(harness, setting, datagram);
    return 0;
}
