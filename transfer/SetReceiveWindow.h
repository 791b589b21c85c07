#pragma once

#include "fileset/SetDatagrams.h"
#include "fileset/SetStores.h"
#include "transfer/SetWindow.h"

#include <memory>
#include <mutex>

class QLabel;
class QPushButton;
class QTimer;
class SetReceiver;
class SetStrmServ;

// The receive window of a file set ("接收文件"): shows what is offered (counts, total size, the
// top names, the note) and where it will be saved, and takes the whole set with one accept.
// Free space is checked first. The files come in one stream; "暂停" stops it and keeps what
// arrived, "继续" asks for the rest (the file that broke off from where it stands), after a
// restart of either side too. "取消" ends the set and removes the unfinished parts; finished
// files always stay.
class SetReceiveWindow : public SetWindow {
    Q_OBJECT
public:
    explicit SetReceiveWindow(const FileWindowLinks &links);
    ~SetReceiveWindow() override;

    // A new offer from fromIp, sealed by senderKey.
    void setOffer(const SetOffer &offer, const QString &fromIp, const QByteArray &senderKey);
    // A set accepted before (after a restart): shown paused, ready for "继续".
    void restore(const IncomingSet &set, const SetOffer &offer);
    // The sender offered this set again: an accepted set that is not running goes on.
    void offeredAgain(const QString &fromIp);
    void answerArrived(const SetAnswer &answer);

    // Handlers.
    void acceptClick();   // "接收"
    void refuseClick();   // "拒绝" / "取消"
    void pauseClick();    // "暂停" / "继续"
    void chooseFolderClick();

    QLabel *summary;      // counts and total
    QLabel *names;        // the top names
    QLabel *noteView;     // the note, as plain text
    QLabel *folder;       // where it goes
    QPushButton *changeFolder; // "更改…"
    QPushButton *acceptButton; // "接收"
    QPushButton *pauseButton;  // "暂停" / "继续"
    QPushButton *refuseButton; // "拒绝", after the accept "取消"
    SetStrmServ *server;

    bool accepted() const { return accepted_; }
    bool running() const { return running_; }

protected:
    void FormClose() override;
    bool stillWanted() const override { return running_ && !streamBegun(); }
    // While files arrive Escape does nothing ("暂停" and "取消" are there for that).
    EscapeAction onEscape() const override { return running_ ? EscapeAction::Keep : EscapeAction::Close; }

private:
    struct Expectation {
        std::mutex lock;
        QString peerIp;
        std::shared_ptr<SetReceiver> sink; // taken by the first connection from peerIp
    };

    void showOffer();
    void requestSend();
    void stop(bool paused);
    void discard();
    void poll();
    void ended();
    bool streamBegun() const;
    QList<quint32> wantedEntries(const QSet<quint32> &finished) const;
    const std::optional<Manifest> &manifest() const;

    SetOffer offer_;
    IncomingSet set_;
    std::shared_ptr<Expectation> expectation_ = std::make_shared<Expectation>();
    std::shared_ptr<SetReceiver> receiver_;
    mutable QByteArray parsedFrom_; // the manifest bytes parsed_ was made from
    mutable std::optional<Manifest> parsed_;
    QTimer *ticker_;
    bool accepted_ = false;
    bool running_ = false;
};
