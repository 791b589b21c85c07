#pragma once

#include "core/FileWindows.h"
#include "fileset/Manifest.h"
#include "fileset/SetStores.h"
#include "transfer/FileWindowLinks.h"

#include <QList>
#include <QPointer>

class SetReceiveWindow;
class SetSendWindow;
class TForm6;
class TForm7;

// The file windows of one peer: creates send-file and receive-file windows as the main window
// and the dispatcher ask, and finds the current ones. A window releases itself some time after
// it closed, so each is held through QPointer.
class TransferWindows : public FileWindows {
public:
    // Receive-file windows open at once (shown, not yet closed). Each holds descriptors and a
    // window; an offer past the bound is ignored until one closes. Sixteen is more offers than
    // a person handles at a time, and far below any descriptor limit.
    static constexpr int MaxReceiveWindows = 16;

    explicit TransferWindows(const FileWindowLinks &links);

    void setMaxReceiveWindows(int bound) { maxReceiveWindows_ = bound; }
    int maxReceiveWindows() const { return maxReceiveWindows_; }

    int fileWindowFlag() const override;
    void openSendFileWindow(const QString &ip) override;
    bool clickTrueSend(const QString &fromIp) override;
    void openReceiveFileWindow(qint64 size, const QString &offer, const QString &fromIp) override;
    bool hasReceiveFileWindow() const override;
    void showReceiveProgress(const QString &fromIp, qint64 position) override;
    void fileSetArrived(quint8 innerKind, const QByteArray &inner, const QString &fromIp,
                        const QByteArray &senderKey) override;

    // Files and folders dropped for ip: one set to a peer that takes sets (its window opens with
    // them, for a note and "发送"); to any other peer the files one after another as single-file
    // offers, and a folder not at all (a box says why).
    void offerPaths(const QString &ip, const QStringList &paths) override;
    // Shows again the sets accepted before that have not arrived whole (paused, for "继续"), and
    // forgets sets of both directions past their time. Once, at start.
    void restoreSets();
    // Whether ip takes several files and folders in one offer: it announces it, and datagrams to
    // it are sealed. Its pinned key and the name encoding it reads come with a yes.
    bool takesSets(const QString &ip, QByteArray *peerKey = nullptr, NameEncoding *encoding = nullptr) const;

    QList<SetSendWindow *> setSendWindows() const;
    QList<SetReceiveWindow *> setReceiveWindows() const;

    // The most recently opened send-file window, while it exists.
    TForm6 *sendWindow() const;
    // The receive-file window that progress reports go to: the newest one whose user accepted
    // its offer, else the newest one.
    TForm7 *receiveWindow() const;
    // Every receive-file window that still exists, oldest first.
    QList<TForm7 *> receiveWindows() const;
    // The receive-file windows not yet closed.
    int openReceiveWindowCount() const;

private:
    SetSendWindow *findSender(const QByteArray &setId) const;
    SetReceiveWindow *findReceiver(const QByteArray &setId) const;
    SetReceiveWindow *newReceiver();
    void offerOneByOne(const QString &ip, QStringList files, const QString &note, bool automatic);

    FileWindowLinks links_;
    SetStore store_;
    QList<QPointer<SetSendWindow>> setSenders_;
    QList<QPointer<SetReceiveWindow>> setReceivers_;
    QPointer<TForm6> sender_;
    QList<QPointer<TForm7>> receivers_;
    int maxReceiveWindows_ = MaxReceiveWindows;
};
