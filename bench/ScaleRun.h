#pragma once

#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class BenchPeer;

// Many complete peers in one process, on 127.0.0.<firstHost> onwards, all in normal status and
// chat-room mode. Peer i asks peers i+1 ... i+friends (round the ring) for friendship through
// its add-friend dialog, one round per distance, so every peer ends with 2 * friends buddies.
// Then each peer sends messagesPerFriend messages to each buddy it asked, through its own
// endpoint and packet builder (as its message window does), paced over all senders; every
// receiver's dispatcher appends them to its chat-room transcript. Reports what arrived, what
// was lost and how long each message took from the send to the end of its dispatch.
class ScaleRun {
public:
    struct Options {
        int peers = 50;
        int friends = 10;
        int messagesPerFriend = 10;
        int firstHost = 2;
    };
    struct Result {
        double rate = 0; // asked datagrams per second over all senders, 0 for unpaced
        long sent = 0;
        long delivered = 0;    // distinct messages dispatched by their addressee, from their sender
        long misdelivered = 0; // duplicates, or from or to the wrong peer
        long appended = 0;     // entries added to the transcripts meanwhile
        int errors = 0;        // error boxes of all peers meanwhile
        double seconds = 0;    // from the first send to the last delivery
        double medianMs = 0;
        double p99Ms = 0;
        double maxMs = 0;
        long lost() const { return sent - delivered; }
    };

    explicit ScaleRun(const Options &options);
    ~ScaleRun();

    // Builds, starts and befriends the peers; false (with the reason) when a peer cannot bind
    // its address or the friendships do not complete within 30 s.
    bool start(QString *why);
    // Sends every message once, at rate datagrams per second in total (0: as fast as the
    // event loop goes), and waits until all arrived or none arrived for two seconds.
    Result sendMessages(double rate);

    int peerCount() const { return int(peers_.size()); }
    BenchPeer &peer(int i) { return *peers_[size_t(i)]; }

private:
    struct Message {
        int from = 0;
        int to = 0;
        qint64 sentNs = -1;
        qint64 deliveredNs = -1;
    };

    QString address(int i) const;
    int indexOf(const QString &ip) const;
    bool befriend();
    void watchDeliveries(int i);
    void sendOne(long id);
    int totalErrors() const;
    int totalEntries() const;
    static Result summarize(const std::vector<Message> &messages, long misdelivered);

    Options options_;
    std::vector<std::unique_ptr<BenchPeer>> peers_;
    std::vector<Message> messages_;
    long misdelivered_ = 0;
    QElapsedTimer clock_;
};

// Runs the event loop until done() holds (checked every few milliseconds); false when it still
// does not after timeoutMs.
bool runEventsUntil(const std::function<bool()> &done, int timeoutMs);
