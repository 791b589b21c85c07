// Fuzz target: a sequence of datagrams arriving while the boxes they raise stay open. The
// first input byte chooses the dispatcher's bounds (nesting 1 to 4, backlog 0 to 7), the
// status, whether failures show an error box and whether file and add-friend windows exist;
// the rest is up to 48 datagrams, each a length byte (low 7 bits; the high bit sends it from
// the stranger instead of the friend) and that many bytes. Every datagram goes over loopback
// to a real TZnUDP endpoint whose OnDataReceived runs the dispatcher; every box stays open
// (a nested event loop, as a modal box runs) until the whole sequence has been taken in.
// A model of which datagrams raise a box gives, for each input, how many boxes must stand open
// and how many datagrams must wait and be dropped; the target checks the dispatcher against
// it, that the nesting never passes its bound, that everything waiting is dispatched once the
// boxes close, and that only conversion errors are reported.
#include "core/Gbk.h"
#include "core/Packet.h"
#include "fuzz/DispatcherHarness.h"

#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <limits>

using namespace Qt::Literals::StringLiterals;
using FuzzSupport::require;

namespace {

constexpr int MaxDatagrams = 48;
const QByteArray StartFile = Gbk::encode(
    u"[MainSection]\r\nName=小红\r\n[UserSection]\r\nCount=1\r\n1=[1]小明\r\n"
    u"[IpSection]\r\n1=127.0.0.2\r\n"_s);

struct Sequence {
    int maxNesting = 1;
    int maxBacklog = 0;
    quint8 status = 0;
    bool errorBoxes = false;
    bool windowsOpen = false;                 // Tag 1 with file windows, and an add-friend dialog
    QList<QPair<bool, QByteArray>> datagrams; // from the stranger?, bytes
};

Sequence parse(const QByteArray &input)
{
    Sequence s;
    const quint8 head = input.isEmpty() ? 0 : quint8(input[0]);
    s.maxNesting = 1 + (head & 3);
    s.maxBacklog = (head >> 2) & 7;
    s.status = (head >> 5) & 1;
    s.errorBoxes = (head >> 6) & 1;
    s.windowsOpen = (head >> 7) & 1;
    for (qsizetype at = 1; at < input.size() && s.datagrams.size() < MaxDatagrams;) {
        const quint8 length = quint8(input[at]);
        s.datagrams.append({(length & 0x80) != 0, input.mid(at + 1, length & 0x7f)});
        at += 1 + (length & 0x7f);
    }
    return s;
}

// Whether the dispatcher's integer conversion takes text: decimal digits only, at most what
// 64 bits hold (leading zeros count for nothing).
bool isNumber(const QByteArray &text)
{
    if (text.isEmpty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    QByteArray digits = text;
    while (digits.size() > 1 && digits.startsWith('0'))
        digits.remove(0, 1);
    const QByteArray max = QByteArray::number(std::numeric_limits<qint64>::max());
    return digits.size() < max.size() || (digits.size() == max.size() && digits <= max);
}

// Whether the dispatcher, with every box held open and nothing answered yet, opens a box for
// this datagram: a conversion error (when failures show a box), a friend request (the question
// in secure status, adduser's information box in normal status), a friend accept while the
// dialog exists (adduser's box). Nothing is written to the store before a box closes, so the
// answer depends on the starting state only.
bool raisesBox(const Sequence &s, const QByteArray &d)
{
    const char type = d.isEmpty() ? '\0' : d[0];
    const QByteArray payload = d.mid(1);
    bool failure = type < '0' || type > '9';
    if (type == Packet::FileOffer) {
        const qsizetype b = payload.indexOf('B');
        failure = !isNumber(b < 0 ? payload : payload.left(b));
    } else if (type == Packet::Progress) {
        failure = s.windowsOpen && !isNumber(payload);
    }
    if (failure)
        return s.errorBoxes;
    return type == Packet::FriendRequest || (type == Packet::FriendAccept && s.windowsOpen);
}

struct Expected {
    int mostOpen = 0;
    qsizetype waiting = 0;
    quint64 dropped = 0;
};

// The bound as the dispatcher keeps it: at once below it, then waiting, then dropped.
Expected expect(const Sequence &s)
{
    Expected e;
    for (const auto &[fromStranger, d] : s.datagrams) {
        if (e.mostOpen >= s.maxNesting || e.waiting > 0) {
            if (e.waiting < s.maxBacklog)
                ++e.waiting;
            else
                ++e.dropped;
        } else if (raisesBox(s, d)) {
            ++e.mostOpen;
        }
    }
    return e;
}

// The harness with a check in every box: none opens past the nesting bound.
struct Harness : DispatcherHarness {
    void prepare(const Sequence &s)
    {
        writeStore(StartFile);
        windows = RecordingWindows();
        windows.status = s.status;
        windows.myname = u"小红"_s;
        windows.tag = s.windowsOpen ? 1 : 0;
        windows.sendFileWindowExists = windows.receiveFileWindowExists = s.windowsOpen;
        windows.addFriendDialogExists = s.windowsOpen;
        prompts = ScriptedPrompts();
        prompts.whileOpen = [this](const ScriptedPrompts::Shown &) {
            require(dispatcher.nesting() <= dispatcher.maxNesting(), u"a box opened past the bound"_s);
        };
        reporter.errors.clear();
        reporter.boxes = s.errorBoxes ? &prompts : nullptr;
        dispatcher.setMaxNesting(s.maxNesting);
        dispatcher.setMaxBacklog(s.maxBacklog);
        dispatched = 0;
    }
};

void run(Harness &h, const Sequence &s)
{
    h.prepare(s);
    const Expected expected = expect(s);
    const quint64 droppedBefore = h.dispatcher.dropped();
    int sent = 0;
    bool released = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (released || h.dispatched < sent)
            return;
        released = true;
        require(h.prompts.openBoxes() == expected.mostOpen, u"not the boxes the model opens"_s);
        require(h.dispatcher.backlog() == expected.waiting, u"not the datagrams the model keeps waiting"_s);
        require(h.dispatcher.dropped() - droppedBefore == expected.dropped,
                u"not the datagrams the model drops"_s);
        h.prompts.release();
    });
    h.prompts.holdBoxes(10000);
    for (const auto &[fromStranger, d] : s.datagrams)
        sent += h.send(fromStranger, d) ? 1 : 0;
    watcher.start(0);
    require(FuzzSupport::pumpUntil([&] {
                return released && h.prompts.openBoxes() == 0 && h.dispatcher.backlog() == 0
                    && h.dispatcher.nesting() == 0;
            }),
            u"the sequence did not end with every box closed and nothing waiting"_s);
    require(!h.prompts.holdTimedOut, u"a held box ran out of time"_s);
    require(h.prompts.mostOpenBoxes <= s.maxNesting, u"more boxes open at once than the bound"_s);

    static const QRegularExpression conversion(u"^'.*' is not a valid integer value$"_s,
                                               QRegularExpression::DotMatchesEverythingOption);
    for (const QString &error : h.reporter.errors)
        require(conversion.match(error).hasMatch(), u"the dispatcher reported: "_s + error);
    require(h.store.nickname() == u"小红"_s, u"the own name changed"_s);
    h.friendPeer.drain();
    h.strangerPeer.drain();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Harness harness;
    run(harness, parse(FuzzSupport::input(data, size)));
    return 0;
}
