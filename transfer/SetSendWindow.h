#pragma once

#include "fileset/SetDatagrams.h"
#include "fileset/SetStores.h"
#include "transfer/SetWindow.h"

#include <QStringList>

class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;
class SetStrm;

// The send window of a file set ("发送文件" to a peer that takes sets): the person picks files
// and folders (or drops them), adds a note and sends one offer for all of them. The files go
// when the receiver asks, all in one stream inside TLS; a stream that broke off goes on when
// the receiver asks again, from where it stands, also after this window was closed or the
// program restarted (the set is kept for SetStore::KeepMs).
class SetSendWindow : public SetWindow {
    Q_OBJECT
public:
    SetSendWindow(const FileWindowLinks &links, const QString &ip, const QByteArray &peerKey, NameEncoding encoding);
    ~SetSendWindow() override;

    // Adds files and folders to the list (a drop, or the choosers).
    void addPaths(const QStringList &paths);
    QStringList chosenPaths() const { return chosen_; }
    // Takes up a set offered before (a send arrived for it with no window open).
    void restore(const OutgoingSet &set);
    // An answer of the receiver for this set.
    void answerArrived(const SetAnswer &answer);

    // Handlers.
    void addFilesClick();
    void addFolderClick();
    void removeClick();
    void sendClick();
    void cancelClick();
    void retryAllClick();

    QListWidget *itemList;
    QPushButton *addFiles;  // "添加文件…"
    QPushButton *addFolder; // "添加文件夹…"
    QPushButton *remove;    // "移除"
    QLineEdit *note;
    QPushButton *sendButton;   // "发送"
    QPushButton *cancelButton; // "取消"
    SetStrm *strm;

    bool offered() const { return offered_; }
    bool streaming() const { return streaming_; }

signals:
    // A stream of the set ended: the bytes of files it carried, and whether the receiver
    // acknowledged it whole.
    void streamEnded(qint64 bodyBytes, bool acknowledged);

protected:
    void FormClose() override;
    bool stillWanted() const override { return offered_ && !answered_; }
    // A running stream stays; files chosen or a note typed and not yet offered are asked about.
    EscapeAction onEscape() const override;

private:
    void stream(const SetAnswer &answer);
    void showFigures();
    void offerAgain();

    NameEncoding encoding_;
    QStringList chosen_;
    std::optional<OutgoingSet> set_;
    QTimer *ticker_;
    qint64 bytesBefore_ = 0; // bytes of the files the receiver held before this stream
    int filesBefore_ = 0;
    int partsDone_ = 0;
    qint64 sentBytes_ = 0; // bytes of files the last stream carried
    QList<quint32> partIndices_;
    QList<QPair<QString, QString>> failures_;
    bool offered_ = false;
    bool answered_ = false;
    bool streaming_ = false;
    bool pendingSend_ = false;
    std::optional<SetAnswer> nextSend_;
};
