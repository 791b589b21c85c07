#include "transfer/SetReceiveWindow.h"

#include "core/ContactStore.h"
#include "core/FileDialogs.h"
#include "fileset/NameText.h"
#include "core/PeerSecurity.h"
#include "fileset/SetPlacement.h"
#include "fileset/SetReceiver.h"
#include "net/SetStrmServ.h"
#include "secure/Envelope.h"
#include "transfer/SetProgress.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int TickMs = 250;

QLabel *plainLabel()
{
    auto *label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

} // namespace

SetReceiveWindow::SetReceiveWindow(const FileWindowLinks &links) : SetWindow(links, u"接收文件"_s)
{
    summary = plainLabel();
    names = plainLabel();
    noteView = plainLabel();
    folder = plainLabel();
    changeFolder = new QPushButton(u"更改…"_s);
    changeFolder->setAccessibleName(u"更改保存的文件夹"_s);
    acceptButton = new QPushButton(u"接收"_s);
    pauseButton = new QPushButton(u"暂停"_s);
    pauseButton->setVisible(false);
    refuseButton = new QPushButton(u"拒绝"_s);
    server = new SetStrmServ(this);
    server->Port = StreamPort;
    server->StallTimeOut = DefaultStallTimeOut;
    server->BindAddress = links.context.bindAddress;
    server->SinkFor = [expectation = expectation_](const QString &peerIp) -> std::shared_ptr<SetSink> {
        const std::lock_guard lock(expectation->lock);
        if (peerIp != expectation->peerIp)
            return nullptr;
        return std::exchange(expectation->sink, nullptr);
    };
    ticker_ = new QTimer(this);
    ticker_->setInterval(TickMs);
    connect(ticker_, &QTimer::timeout, this, [this] { handle([this] { poll(); }); });

    auto *where = new QHBoxLayout;
    where->addWidget(folder, 1);
    where->addWidget(changeFolder);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(acceptButton);
    buttons->addWidget(pauseButton);
    buttons->addWidget(refuseButton);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 0);
    layout->addWidget(summary);
    layout->addWidget(names);
    layout->addWidget(noteView);
    layout->addLayout(where);
    layout->addWidget(progress);
    layout->addWidget(state);
    layout->addLayout(buttons);
    layout->addWidget(zt);
    setMinimumWidth(480);
    // Opened by the network: the person may be typing elsewhere.
    setAttribute(Qt::WA_ShowWithoutActivating);

    onClick(acceptButton, this, &SetReceiveWindow::acceptClick);
    onClick(refuseButton, this, &SetReceiveWindow::refuseClick);
    onClick(pauseButton, this, &SetReceiveWindow::pauseClick);
    onClick(changeFolder, this, &SetReceiveWindow::chooseFolderClick);
    connect(progress, &SetProgress::retryAllClicked, this, [this] { handle([this] { requestSend(); }); });
}

SetReceiveWindow::~SetReceiveWindow()
{
    // The server goes first: its destruction waits for its connection, which uses the receiver.
    delete server;
}

void SetReceiveWindow::setOffer(const SetOffer &offer, const QString &fromIp, const QByteArray &senderKey)
{
    offer_ = offer;
    setId_ = offer.setId;
    peerIp_ = fromIp;
    peerKey_ = senderKey;
    set_.setId = offer.setId;
    set_.peerIp = fromIp;
    set_.peerKey = senderKey;
    set_.createdMs = QDateTime::currentMSecsSinceEpoch();
    set_.offer = offer.encode();
    set_.root = store_.saveFolder(links_.context.downloadDir.isEmpty() ? QDir::currentPath()
                                                                        : links_.context.downloadDir);
    showOffer();
    QApplication::alert(this);
}

void SetReceiveWindow::restore(const IncomingSet &set, const SetOffer &offer)
{
    offer_ = offer;
    set_ = set;
    setId_ = set.setId;
    peerIp_ = set.peerIp;
    peerKey_ = set.peerKey;
    accepted_ = true;
    showOffer();
    acceptButton->setVisible(false);
    changeFolder->setEnabled(false);
    pauseButton->setVisible(true);
    pauseButton->setText(u"继续"_s);
    refuseButton->setText(u"取消"_s);
    const QSet<quint32> finished = SetReceiver::placedEntries(store_, set_);
    qint64 bytes = 0;
    if (const std::optional<Manifest> &list = manifest(); list)
        for (quint32 index : finished)
            if (index < quint32(list->entries.size()))
                bytes += list->entries[int(index)].size;
    progress->showFigures(int(finished.size()), int(offer_.fileCount), bytes, offer_.totalBytes);
    progress->stopped();
    setState(u"已暂停，可以继续接收"_s);
}

// The set's manifest once a stream brought it, parsed once for its bytes.
const std::optional<Manifest> &SetReceiveWindow::manifest() const
{
    if (parsedFrom_ != set_.manifest) {
        parsedFrom_ = set_.manifest;
        parsed_ = set_.manifest.isEmpty() ? std::nullopt : Manifest::parse(set_.manifest, nullptr);
    }
    return parsed_;
}

void SetReceiveWindow::showOffer()
{
    summary->setText(u"%1 个文件，%2 个文件夹，共 %3"_s.arg(offer_.fileCount)
                         .arg(offer_.entryCount - offer_.fileCount)
                         .arg(readableSize(offer_.totalBytes)));
    QStringList shownNames;
    for (const QString &name : offer_.topNames)
        shownNames.append(NameText::shown(name));
    // The offer names at most MaxTopNames: with that many there may be more.
    names->setText(shownNames.join(u"、"_s) + (shownNames.size() == SetOffer::MaxTopNames ? u" …"_s : QString()));
    noteView->setText(offer_.note.isEmpty() ? QString() : u"备注："_s + NameText::shown(offer_.note, 240));
    noteView->setVisible(!offer_.note.isEmpty());
    folder->setText(u"保存到："_s + QDir::toNativeSeparators(set_.root));
    const QString buddy = ContactStore(links_.context.configDir, prompts()).senderLookup(peerIp_);
    ztPanel0->setText(u"From:"_s + peerIp_ + (buddy.isEmpty() ? QString() : u" "_s + buddy));
    progress->showFigures(0, int(offer_.fileCount), 0, offer_.totalBytes);
    // What a screen reader says of the window as it appears: who offers what, as shown.
    QStringList said{ztPanel0->text(), summary->text(), names->text()};
    if (!noteView->text().isEmpty())
        said << noteView->text();
    setAccessibleDescription(said.join(u'\n'));
}

void SetReceiveWindow::chooseFolderClick()
{
    const QString chosen = links_.context.dialogs->existingFolder(set_.root);
    if (chosen.isEmpty())
        return;
    set_.root = chosen;
    store_.setSaveFolder(chosen);
    folder->setText(u"保存到："_s + QDir::toNativeSeparators(chosen));
}

void SetReceiveWindow::acceptClick()
{
    if (accepted_)
        return;
    if (links_.security && links_.security->linkTo(peerIp_) == PeerSecurity::Link::KeyChanged) {
        prompts().information(PeerSecurity::keyChangedRefusal());
        return;
    }
    if (!QFileInfo(set_.root).isDir()) {
        prompts().information(u"保存的文件夹不存在："_s + set_.root);
        return;
    }
    const qint64 free = SetPlacement::freeBytes(set_.root);
    if (free >= 0 && free < offer_.totalBytes) {
        prompts().information(u"磁盘空间不足：还需要 "_s + readableSize(offer_.totalBytes - free));
        return;
    }
    QString error;
    if (!store_.saveIncoming(set_, &error)) {
        prompts().information(error);
        return;
    }
    accepted_ = true;
    acceptButton->setVisible(false);
    changeFolder->setEnabled(false);
    pauseButton->setVisible(true);
    refuseButton->setText(u"取消"_s);
    requestSend();
}

QList<quint32> SetReceiveWindow::wantedEntries(const QSet<quint32> &finished) const
{
    QList<quint32> wanted;
    const std::optional<Manifest> &list = manifest();
    for (quint32 i = 0; i < offer_.entryCount; ++i) {
        const bool file = !list || list->entries[int(i)].kind == ManifestEntry::Kind::File;
        if (file && !finished.contains(i))
            wanted.append(i);
    }
    return wanted;
}

// Asks for every file not yet in place, the one that broke off from where it stands.
void SetReceiveWindow::requestSend()
{
    if (running_ || isClosed())
        return;
    const QSet<quint32> finished = SetReceiver::placedEntries(store_, set_);
    const QList<quint32> wanted = wantedEntries(finished);
    SetAnswer answer;
    answer.setId = setId_;
    answer.action = SetAnswer::Action::Send;
    answer.ranges = SetAnswer::rangesOf(wanted);
    if (answer.ranges.isEmpty()) // only folders: the stream brings the manifest, which makes them
        answer.ranges = {{0, offer_.entryCount}};
    if (const std::optional<Manifest> &list = manifest(); list) {
        SetPlacement placement(set_.root, setId_, *list);
        placement.setTopNames(set_.topNames);
        for (quint32 index : wanted)
            if (const qint64 held = placement.heldBytes(int(index)); held > 0) {
                answer.resumeIndex = index;
                answer.resumeOffset = std::min(held, list->entries[int(index)].size);
                answer.resumeHash = resumeHash(placement.tempPath(int(index)), answer.resumeOffset);
                break;
            }
    }
    // The files come inside TLS from the key the set belongs to, and from nothing else.
    const std::optional<TlsKeys> tls = links_.security ? links_.security->tlsKeysFor(peerIp_) : std::nullopt;
    if (!tls || links_.security->peerKey(peerIp_) != peerKey_) {
        setState(u"对方的密钥不是这组文件所属的密钥，无法接收"_s);
        return;
    }
    server->TlsFor = [tls](const QString &) { return tls; };
    receiver_ = std::make_shared<SetReceiver>(store_, set_, offer_, finished);
    {
        const std::lock_guard lock(expectation_->lock);
        expectation_->peerIp = peerIp_;
        expectation_->sink = receiver_;
    }
    if (!server->Listening())
        server->Loaded();
    if (!server->Listening()) {
        setState(u"端口占用"_s);
        state->setToolTip(u"TCP端口2921已被占用，无法接收文件"_s);
        pauseButton->setText(u"继续"_s);
        return;
    }
    state->setToolTip(QString());
    progress->setFailures({});
    running_ = true;
    pauseButton->setText(u"暂停"_s);
    setState(u"等待对方发送…"_s);
    ticker_->start();
    sendRepeated(InnerKind::SetAnswer, answer.encode());
}

bool SetReceiveWindow::streamBegun() const
{
    const std::lock_guard lock(expectation_->lock);
    return expectation_->sink == nullptr;
}

void SetReceiveWindow::poll()
{
    if (!receiver_)
        return;
    const SetReceiver::Figures figures = receiver_->figures();
    progress->showFigures(figures.filesDone, int(offer_.fileCount), figures.bytesDone, offer_.totalBytes);
    if (figures.ended)
        return ended();
    if (streamBegun() && state->text() != u"正在接收数据"_s)
        setState(u"正在接收数据"_s);
}

void SetReceiveWindow::ended()
{
    const SetReceiver::Figures figures = receiver_->figures();
    set_ = receiver_->set();
    receiver_.reset();
    running_ = false;
    ticker_->stop();
    server->StopListening();
    progress->stopped();
    if (!figures.refusal.isEmpty()) {
        SetAnswer cancel;
        cancel.setId = setId_;
        cancel.action = SetAnswer::Action::Cancelled;
        sendSealed(InnerKind::SetAnswer, cancel.encode());
        store_.removeIncoming(setId_);
        setState(u"已拒绝"_s);
        prompts().information(u"已拒绝这组文件："_s + figures.refusal);
        close();
        return;
    }
    if (!figures.acknowledged) {
        pauseButton->setText(u"继续"_s);
        setState(u"连接已中断"_s + (figures.error.isEmpty() ? QString() : u"（"_s + figures.error + u"）"_s));
        return;
    }
    const QList<quint32> wanted = wantedEntries(SetReceiver::placedEntries(store_, set_));
    if (wanted.isEmpty()) {
        store_.removeIncoming(setId_);
        pauseButton->setEnabled(false);
        setState(u"接收完毕！"_s);
        prompts().message(u"接收完毕！"_s);
        close();
        return;
    }
    if (figures.failures.isEmpty()) // more than one answer's ranges: ask for the rest
        return requestSend();
    progress->setFailures(figures.failures);
    pauseButton->setText(u"继续"_s);
    setState(u"接收完毕，有 %1 个文件未能接收"_s.arg(figures.failures.size()));
}

// Stops the stream and keeps everything for "继续"; the sender is told when paused by the person.
void SetReceiveWindow::stop(bool paused)
{
    {
        const std::lock_guard lock(expectation_->lock);
        expectation_->sink.reset();
    }
    ++repeatRound_;
    ticker_->stop();
    server->StopListening();
    if (running_ && paused) {
        SetAnswer pause;
        pause.setId = setId_;
        pause.action = SetAnswer::Action::Paused;
        sendSealed(InnerKind::SetAnswer, pause.encode());
    }
    running_ = false;
    if (receiver_)
        set_ = receiver_->set(); // with the manifest and top names, once the stream brought them
    receiver_.reset();
    progress->stopped();
}

void SetReceiveWindow::pauseClick()
{
    if (running_) {
        stop(true);
        pauseButton->setText(u"继续"_s);
        setState(u"已暂停"_s);
        return;
    }
    requestSend();
}

void SetReceiveWindow::refuseClick()
{
    stop(false);
    SetAnswer cancel;
    cancel.setId = setId_;
    cancel.action = SetAnswer::Action::Cancelled;
    sendSealed(InnerKind::SetAnswer, cancel.encode());
    discard();
    close();
}

// The set ends here: its unfinished parts go, the finished files stay.
void SetReceiveWindow::discard()
{
    if (!accepted_)
        return;
    if (const std::optional<Manifest> &list = manifest(); list) {
        SetPlacement placement(set_.root, setId_, *list);
        placement.setTopNames(set_.topNames);
        placement.discardParts();
    }
    store_.removeIncoming(setId_);
    accepted_ = false;
}

void SetReceiveWindow::offeredAgain(const QString &fromIp)
{
    if (!accepted_ || running_)
        return;
    peerIp_ = fromIp;
    requestSend();
}

void SetReceiveWindow::answerArrived(const SetAnswer &answer)
{
    if (answer.action != SetAnswer::Action::Cancelled)
        return;
    handle([this] {
        stop(false);
        discard();
        acceptButton->setEnabled(false);
        pauseButton->setEnabled(false);
        refuseButton->setText(u"关闭"_s);
        setState(u"对方已取消"_s);
    });
}

// Closing an accepted set pauses it: it is kept, and offered again at the next start.
void SetReceiveWindow::FormClose()
{
    if (running_)
        stop(true);
    server->StopListening();
}
