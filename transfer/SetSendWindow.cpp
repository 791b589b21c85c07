#include "transfer/SetSendWindow.h"

#include "core/FileDialogs.h"
#include "core/PeerSecurity.h"
#include "fileset/NameText.h"
#include "fileset/SetPlan.h"
#include "fileset/SetWalk.h"
#include "net/Exceptions.h"
#include "net/SetStrm.h"
#include "secure/Envelope.h"
#include "transfer/SetProgress.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray Acknowledgement = QByteArray("OK") + QByteArray(14, ' ');
constexpr int TickMs = 250;

} // namespace

SetSendWindow::SetSendWindow(const FileWindowLinks &links, const QString &ip, const QByteArray &peerKey,
                             NameEncoding encoding)
    : SetWindow(links, u"发送文件"_s), encoding_(encoding)
{
    peerIp_ = ip;
    peerKey_ = peerKey;
    itemList = new QListWidget;
    itemList->setAccessibleName(u"要发送的文件和文件夹"_s);
    itemList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    itemList->setMinimumHeight(itemList->fontMetrics().lineSpacing() * 6);
    addFiles = new QPushButton(u"添加文件…"_s);
    addFolder = new QPushButton(u"添加文件夹…"_s);
    remove = new QPushButton(u"移除"_s);
    note = new QLineEdit;
    note->setPlaceholderText(u"备注"_s);
    note->setAccessibleName(u"备注"_s);
    sendButton = new QPushButton(u"发送"_s);
    cancelButton = new QPushButton(u"取消"_s);
    strm = new SetStrm(this);
    strm->Port = StreamPort;
    strm->StallTimeOut = DefaultStallTimeOut;
    strm->BindAddress = links.context.bindAddress;
    strm->Host = ip;
    ticker_ = new QTimer(this);
    ticker_->setInterval(TickMs);
    connect(ticker_, &QTimer::timeout, this, [this] { showFigures(); });

    auto *choose = new QVBoxLayout;
    choose->addWidget(addFiles);
    choose->addWidget(addFolder);
    choose->addWidget(remove);
    choose->addStretch();
    auto *top = new QHBoxLayout;
    top->addWidget(itemList, 1);
    top->addLayout(choose);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(note, 1);
    buttons->addWidget(sendButton);
    buttons->addWidget(cancelButton);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 0);
    layout->addLayout(top);
    layout->addWidget(progress);
    layout->addWidget(state);
    layout->addLayout(buttons);
    layout->addWidget(zt);
    ztPanel0->setText(u"To:"_s + ip);
    setMinimumWidth(480);

    onClick(addFiles, this, &SetSendWindow::addFilesClick);
    onClick(addFolder, this, &SetSendWindow::addFolderClick);
    onClick(remove, this, &SetSendWindow::removeClick);
    onClick(sendButton, this, &SetSendWindow::sendClick);
    onClick(cancelButton, this, &SetSendWindow::cancelClick);
    connect(progress, &SetProgress::retryAllClicked, this, [this] { handle([this] { retryAllClick(); }); });
}

SetSendWindow::~SetSendWindow()
{
    // The stream goes first, while the window it reports to is still whole.
    delete strm;
}

void SetSendWindow::addPaths(const QStringList &paths)
{
    for (const QString &path : paths) {
        const QString absolute = QFileInfo(path).absoluteFilePath();
        if (absolute.isEmpty() || chosen_.contains(absolute))
            continue;
        chosen_.append(absolute);
        const QFileInfo info(absolute);
        auto *item = new QListWidgetItem((info.isDir() && !info.isSymLink() ? u"[文件夹] "_s : QString()) + info.fileName());
        item->setToolTip(absolute);
        itemList->addItem(item);
    }
}

void SetSendWindow::addFilesClick() { addPaths(links_.context.dialogs->openFileNames()); }

void SetSendWindow::addFolderClick()
{
    const QString folder = links_.context.dialogs->existingFolder(QString());
    if (!folder.isEmpty())
        addPaths({folder});
}

void SetSendWindow::removeClick()
{
    const QList<QListWidgetItem *> selected = itemList->selectedItems();
    for (QListWidgetItem *item : selected) {
        chosen_.removeAt(itemList->row(item));
        delete item;
    }
}

void SetSendWindow::sendClick()
{
    if (offered_)
        return;
    if (links_.security && links_.security->linkTo(peerIp_) == PeerSecurity::Link::KeyChanged) {
        prompts().information(PeerSecurity::keyChangedRefusal());
        return;
    }
    if (chosen_.isEmpty())
        addFilesClick();
    if (chosen_.isEmpty())
        return;
    QString error;
    std::optional<LocalSet> local = walkSet(chosen_, encoding_, &error);
    if (!local) {
        prompts().information(error);
        return;
    }
    OutgoingSet set;
    set.setId = newSetId();
    set.peerIp = peerIp_;
    set.peerKey = peerKey_;
    set.createdMs = QDateTime::currentMSecsSinceEpoch();
    set.note = note->text();
    set.manifest = std::move(local->manifest);
    set.localPaths = std::move(local->localPaths);
    if (!store_.saveOutgoing(set, &error)) {
        prompts().information(error);
        return;
    }
    setId_ = set.setId;
    set_ = std::move(set);
    offered_ = true;
    for (QWidget *control : {static_cast<QWidget *>(addFiles), static_cast<QWidget *>(addFolder),
                             static_cast<QWidget *>(remove), static_cast<QWidget *>(sendButton),
                             static_cast<QWidget *>(note)})
        control->setEnabled(false);
    const int skipped = local->skippedLinks + local->skippedOther;
    setState(u"等待对方接收…"_s + (skipped > 0 ? u"（跳过了 %1 个链接或特殊文件）"_s.arg(skipped) : QString()));
    showFigures();
    sendRepeated(InnerKind::SetOffer, SetOffer::describe(setId_, set_->manifest, set_->note).encode());
}

void SetSendWindow::restore(const OutgoingSet &set)
{
    setId_ = set.setId;
    set_ = set;
    offered_ = true;
    answered_ = true;
    for (const ManifestEntry &entry : set.manifest.entries)
        if (!entry.path.contains(u'/'))
            itemList->addItem(entry.path);
    note->setText(set.note);
    for (QWidget *control : {static_cast<QWidget *>(addFiles), static_cast<QWidget *>(addFolder),
                             static_cast<QWidget *>(remove), static_cast<QWidget *>(sendButton),
                             static_cast<QWidget *>(note)})
        control->setEnabled(false);
    showFigures();
}

void SetSendWindow::offerAgain()
{
    if (!set_)
        return;
    answered_ = false;
    setState(u"等待对方继续接收…"_s);
    sendRepeated(InnerKind::SetOffer, SetOffer::describe(setId_, set_->manifest, set_->note).encode());
}

void SetSendWindow::retryAllClick() { offerAgain(); }

void SetSendWindow::answerArrived(const SetAnswer &answer)
{
    handle([&] {
        answered_ = true;
        switch (answer.action) {
        case SetAnswer::Action::Send:
            if (streaming_) {
                nextSend_ = answer;
                return;
            }
            return stream(answer);
        case SetAnswer::Action::Cancelled:
            store_.removeOutgoing(setId_);
            set_.reset();
            strm->Abort();
            progress->stopped();
            setState(u"对方已取消"_s);
            return;
        case SetAnswer::Action::Paused:
            strm->Abort();
            progress->stopped();
            setState(u"对方已暂停"_s);
            return;
        }
    });
}

void SetSendWindow::stream(const SetAnswer &answer)
{
    if (!set_ || isClosed())
        return;
    const std::optional<TlsKeys> tls = links_.security ? links_.security->tlsKeysFor(peerIp_) : std::nullopt;
    if (!tls || links_.security->peerKey(peerIp_) != peerKey_) {
        setState(u"对方的密钥不是这组文件所属的密钥，无法发送"_s);
        return;
    }
    const QList<SetStrm::Record> records = planRecords(*set_, answer);
    partIndices_.clear();
    bytesBefore_ = 0;
    filesBefore_ = 0;
    partsDone_ = 0;
    sentBytes_ = 0;
    for (const SetStrm::Record &record : records) {
        partIndices_.append(record.index);
        bytesBefore_ += record.start;
    }
    const QList<ManifestEntry> &entries = set_->manifest.entries;
    const QSet<quint32> sending(partIndices_.begin(), partIndices_.end());
    for (int i = 0; i < entries.size(); ++i)
        if (entries[i].kind == ManifestEntry::Kind::File && !sending.contains(quint32(i))) {
            ++filesBefore_;
            bytesBefore_ += entries[i].size;
        }
    failures_.clear();
    for (const SetStrm::Record &record : records)
        if (!record.skipReason.isEmpty())
            failures_.append({entries[int(record.index)].path,
                              NameText::decode(record.skipReason, set_->manifest.encoding).value_or(QString())});
    progress->setFailures({});
    strm->Tls = tls;
    strm->UnreadableReason = NameText::encode(u"无法读取文件"_s, set_->manifest.encoding);
    strm->ChangedReason = NameText::encode(u"文件已改变"_s, set_->manifest.encoding);
    strm->Host = peerIp_;
    streaming_ = true;
    setState(u"正在传送数据"_s);
    ticker_->start();
    QByteArray reply;
    QString broke;
    try {
        strm->PostSet(setId_, set_->manifest.encode(), records, reply);
    } catch (const std::exception &e) {
        broke = QString::fromUtf8(e.what());
    }
    streaming_ = false;
    ticker_->stop();
    emit streamEnded(strm->BytesSent(), reply == Acknowledgement);
    if (isClosed())
        return;
    progress->stopped();
    sentBytes_ = strm->BytesSent();
    if (reply == Acknowledgement) {
        partsDone_ = int(partIndices_.size() - failures_.size());
        showFigures();
        progress->setFailures(failures_);
        if (failures_.isEmpty()) {
            store_.removeOutgoing(setId_);
            set_.reset();
            setState(u"发送完毕！"_s);
            prompts().message(u"发送完毕！"_s);
            close();
            return;
        }
        setState(u"发送完毕，有 %1 个文件未能发送"_s.arg(failures_.size()));
    } else if (set_ && state->text() == u"正在传送数据"_s) {
        setState(u"连接已中断"_s + (broke.isEmpty() ? QString() : u"（"_s + broke + u"）"_s));
    }
    if (nextSend_) {
        const SetAnswer next = *nextSend_;
        nextSend_.reset();
        QTimer::singleShot(0, this, [this, next] { answerArrived(next); });
    }
}

void SetSendWindow::showFigures()
{
    if (!set_)
        return;
    if (streaming_) {
        const int at = int(partIndices_.indexOf(strm->CurrentIndex()));
        partsDone_ = std::max(partsDone_, at < 0 ? 0 : at);
    }
    progress->showFigures(filesBefore_ + partsDone_, set_->manifest.fileCount(),
                          bytesBefore_ + (streaming_ ? strm->BytesSent() : sentBytes_), set_->manifest.totalBytes());
}

void SetSendWindow::cancelClick()
{
    if (set_ && offered_) {
        SetAnswer cancel;
        cancel.setId = setId_;
        cancel.action = SetAnswer::Action::Cancelled;
        sendSealed(InnerKind::SetAnswer, cancel.encode());
        store_.removeOutgoing(setId_);
        set_.reset();
    }
    close();
}

// Closing keeps the set: the receiver may still ask for it.
void SetSendWindow::FormClose() { strm->Abort(); }

FileWindow::EscapeAction SetSendWindow::onEscape() const
{
    if (streaming_)
        return EscapeAction::Keep;
    const bool unsent = !offered_ && (!chosen_.isEmpty() || !note->text().isEmpty());
    return unsent ? EscapeAction::Ask : EscapeAction::Close;
}
