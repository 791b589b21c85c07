#pragma once

#include "fileset/SetStores.h"
#include "transfer/FileWindow.h"

#include <QByteArray>
#include <QString>

class QLabel;
class SetProgress;

// What the send and receive windows of a file set share: the peer and its pinned key, the
// set's id, the store that keeps the set across restarts, the progress panel, and the sealed
// datagrams (an offer or an answer) that go to the peer.
class SetWindow : public FileWindow {
    Q_OBJECT
public:
    // Sealed datagrams may be lost: the ones that start something go again after these
    // milliseconds until the other side acts (copies are harmless).
    static constexpr int RepeatDelaysMs[] = {1000, 2000, 4000, 8000};

    const QByteArray &setId() const { return setId_; }
    const QString &peerIp() const { return peerIp_; }
    const QByteArray &peerKey() const { return peerKey_; }

    SetProgress *progress;
    QLabel *state; // what the window is doing, in words

protected:
    SetWindow(const FileWindowLinks &links, const QString &title);

    // Seals inner as kind to the peer; false (and says so) when the peer's link is not sealed
    // to the key the set belongs to.
    bool sendSealed(quint8 kind, const QByteArray &inner);
    // Sends inner now and again after RepeatDelaysMs while stillWanted() says so.
    void sendRepeated(quint8 kind, const QByteArray &inner);
    virtual bool stillWanted() const { return false; }
    void setState(const QString &text);

    SetStore store_;
    QByteArray setId_;
    QString peerIp_;
    QByteArray peerKey_;
    quint64 repeatRound_ = 0; // a new repeat series ends the old one
};
