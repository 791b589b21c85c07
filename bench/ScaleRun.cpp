#include "bench/ScaleRun.h"

#include "bench/BenchPeer.h"
#include "core/Packet.h"
#include "net/TZnUDP.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"
#include "ui/TForm4.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

bool runEventsUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || deadline.hasExpired())
            loop.quit();
    });
    check.start(2);
    loop.exec();
    return done();
}

ScaleRun::ScaleRun(const Options &options) : options_(options) {}

ScaleRun::~ScaleRun() = default;

QString ScaleRun::address(int i) const { return u"127.0.0.%1"_s.arg(options_.firstHost + i); }

int ScaleRun::indexOf(const QString &ip) const
{
    const int i = ip.section(u'.', 3).toInt() - options_.firstHost;
    return ip.startsWith(u"127.0.0."_s) && i >= 0 && i < options_.peers ? i : -1;
}

bool ScaleRun::start(QString *why)
{
    clock_.start();
    for (int i = 0; i < options_.peers; ++i) {
        auto peer = std::make_unique<BenchPeer>(address(i));
        peer->prompts.echo = false;
        if (!peer->form1->receiving()) {
            *why = address(i) + u":2928 cannot be bound"_s;
            return false;
        }
        peer->storeNickname(u"用户%1"_s.arg(i));
        peer->start();
        peer->form1->N18->trigger(); // normal status: friend requests are accepted at once
        peer->enterChatRoom();
        peers_.push_back(std::move(peer));
        watchDeliveries(i);
    }
    if (!befriend()) {
        *why = u"the friendships did not complete"_s;
        return false;
    }
    return true;
}

// One round per distance k: every peer asks the peer k places on through its add-friend
// dialog, and the round ends when every peer has both new buddies.
bool ScaleRun::befriend()
{
    for (int k = 1; k <= options_.friends; ++k) {
        for (int i = 0; i < options_.peers; ++i) {
            TForm1 &main = *peers_[size_t(i)]->form1;
            main.N9->trigger();
            TForm4 *dialog = main.addFriendDialog();
            dialog->dfip->setText(address((i + k) % options_.peers));
            dialog->Button1->click();
        }
        const bool complete = runEventsUntil(
            [&] {
                return std::all_of(peers_.begin(), peers_.end(),
                                   [&](const auto &peer) { return peer->form1->userlist->count() == 2 * k; });
            },
            30000);
        if (!complete)
            return false;
    }
    return true;
}

// After peer i's dispatcher has handled a message, notes when it arrived and checks that it
// came from its sender to its addressee, once.
void ScaleRun::watchDeliveries(int i)
{
    TZnUDP &endpoint = *peers_[size_t(i)]->form1->lwudp;
    const auto dispatch = endpoint.OnDataReceived;
    endpoint.OnDataReceived = [this, i, dispatch](TZnUDP *sender, int bytes, const QString &fromIp,
                                                  int port) {
        dispatch(sender, bytes, fromIp, port);
        char packet[Packet::BufferSize];
        int length = 0;
        sender->ReadDatagram(packet, sizeof packet, length);
        if (length < 2 || packet[0] != Packet::Message)
            return;
        bool isNumber = false;
        const long id = QByteArray(packet + 1, length - 1).split(' ').first().toLong(&isNumber);
        if (!isNumber || id < 0 || id >= long(messages_.size())) {
            ++misdelivered_;
            return;
        }
        Message &m = messages_[size_t(id)];
        if (m.deliveredNs >= 0 || m.to != i || m.from != indexOf(fromIp)) {
            ++misdelivered_;
            return;
        }
        m.deliveredNs = clock_.nsecsElapsed();
    };
}

// Message id goes from peer id % peers to the buddy (id / peers) % friends + 1 places on; the
// ids run through all senders first, so the load spreads over all peers.
void ScaleRun::sendOne(long id)
{
    Message &m = messages_[size_t(id)];
    BenchPeer &from = *peers_[size_t(m.from)];
    m.sentNs = clock_.nsecsElapsed();
    Packet::send(*from.form1->lwudp, address(m.to),
                 Packet::message(QString::number(id) + u" 你好，今天的会议改到三点"_s));
}

ScaleRun::Result ScaleRun::sendMessages(double rate)
{
    const long total = long(options_.peers) * options_.friends * options_.messagesPerFriend;
    messages_.assign(size_t(total), Message{});
    for (long id = 0; id < total; ++id) {
        messages_[size_t(id)].from = int(id % options_.peers);
        messages_[size_t(id)].to = int((id % options_.peers + (id / options_.peers) % options_.friends + 1)
                                       % options_.peers);
    }
    misdelivered_ = 0;
    const int errorsBefore = totalErrors();
    const int entriesBefore = totalEntries();

    // Every millisecond, whatever is due by then goes out.
    long next = 0;
    const qint64 startNs = clock_.nsecsElapsed();
    QTimer pace;
    pace.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        const double elapsed = double(clock_.nsecsElapsed() - startNs) / 1e9;
        const long due = rate > 0 ? std::min(total, long(elapsed * rate) + 1) : total;
        while (next < due)
            sendOne(next++);
        if (next == total)
            pace.stop();
    });
    pace.start(1);
    const auto delivered = [&] {
        return std::count_if(messages_.begin(), messages_.end(),
                             [](const Message &m) { return m.deliveredNs >= 0; });
    };
    runEventsUntil([&] { return next == total; }, int(total / std::max(rate, 1.0) * 1000) + 60000);
    // Until everything arrived, or nothing more for two seconds.
    for (long seen = -1; seen != delivered() && delivered() < total;) {
        seen = delivered();
        runEventsUntil([&] { return delivered() > seen && delivered() == total; }, 2000);
    }
    Result result = summarize(messages_, misdelivered_);
    result.rate = rate;
    result.appended = totalEntries() - entriesBefore;
    result.errors = totalErrors() - errorsBefore;
    return result;
}

int ScaleRun::totalErrors() const
{
    int errors = 0;
    for (const auto &peer : peers_)
        errors += peer->prompts.errors;
    return errors;
}

int ScaleRun::totalEntries() const
{
    int entries = 0;
    for (const auto &peer : peers_)
        entries += peer->chatRoomEntries();
    return entries;
}

ScaleRun::Result ScaleRun::summarize(const std::vector<Message> &messages, long misdelivered)
{
    Result r;
    r.sent = long(messages.size());
    r.misdelivered = misdelivered;
    std::vector<double> latencies;
    qint64 first = -1, last = -1;
    for (const Message &m : messages) {
        if (first < 0 || (m.sentNs >= 0 && m.sentNs < first))
            first = m.sentNs;
        if (m.deliveredNs < 0)
            continue;
        latencies.push_back(double(m.deliveredNs - m.sentNs) / 1e6);
        last = std::max(last, m.deliveredNs);
    }
    r.delivered = long(latencies.size());
    r.seconds = last > first ? double(last - first) / 1e9 : 0;
    if (latencies.empty())
        return r;
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double share) {
        return latencies[std::min(latencies.size() - 1, size_t(share * double(latencies.size())))];
    };
    r.medianMs = at(0.5);
    r.p99Ms = at(0.99);
    r.maxMs = latencies.back();
    return r;
}
