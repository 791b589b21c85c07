#include "transfer/TransferWindows.h"

#include "core/PeerAddress.h"
#include "core/PeerContext.h"
#include "core/PeerSecurity.h"
#include "core/PresenceDatagram.h"
#include "core/PresenceService.h"
#include "core/Prompts.h"
#include "fileset/SetDatagrams.h"
#include "net/TZnStrm.h"
#include "secure/Envelope.h"
#include "transfer/OfferStrmServ.h"
#include "transfer/SetReceiveWindow.h"
#include "transfer/SetSendWindow.h"
#include "transfer/TForm6.h"
#include "transfer/TForm7.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

// The windows of a list that still exist, oldest first.
template <typename Window> QList<Window *> existing(const QList<QPointer<Window>> &windows)
{
    QList<Window *> found;
    for (const QPointer<Window> &window : windows)
        if (window)
            found.append(window);
    return found;
}

// The open window of the set with setId, if there is one.
template <typename Window> Window *openFor(const QList<Window *> &windows, const QByteArray &setId)
{
    for (Window *window : windows)
        if (!window->isClosed() && window->setId() == setId)
            return window;
    return nullptr;
}

} // namespace

TransferWindows::TransferWindows(const FileWindowLinks &links)
    : links_(links), store_(links.context.configDir + u"/filesets"_s)
{
}

int TransferWindows::fileWindowFlag() const { return links_.tag; }

void TransferWindows::openSendFileWindow(const QString &ip)
{
    QByteArray key;
    NameEncoding encoding = NameEncoding::Utf8;
    if (takesSets(ip, &key, &encoding)) {
        auto *window = new SetSendWindow(links_, ip, key, encoding);
        setSenders_.append(window);
        window->show();
        return;
    }
    auto *window = new TForm6(links_);
    window->setBuddy(ip);
    sender_ = window;
    window->show();
}

// Only the buddy the offer went to may start the post: an accept from any other host would
// send the file before the buddy accepted.
bool TransferWindows::clickTrueSend(const QString &fromIp)
{
    if (!sender_ || !PeerAddress::same(sender_->fsd->Host, fromIp))
        return false;
    sender_->truesend->click();
    return true;
}

void TransferWindows::openReceiveFileWindow(qint64 size, const QString &offer, const QString &fromIp)
{
    receivers_.removeAll(nullptr);
    setReceivers_.removeAll(nullptr);
    // Past the bound the offer is ignored, as if it had been lost: no window, no answer.
    if (openReceiveWindowCount() >= maxReceiveWindows_)
        return;
    auto *window = new TForm7(links_);
    window->setOffer(size, offer, fromIp);
    receivers_.append(window);
    window->show();
}

int TransferWindows::openReceiveWindowCount() const
{
    const QList<TForm7 *> windows = receiveWindows();
    const QList<SetReceiveWindow *> sets = setReceiveWindows();
    return int(std::count_if(windows.begin(), windows.end(), [](const TForm7 *w) { return !w->isClosed(); })
               + std::count_if(sets.begin(), sets.end(), [](const SetReceiveWindow *w) { return !w->isClosed(); }));
}

TForm6 *TransferWindows::sendWindow() const { return sender_; }

bool TransferWindows::hasReceiveFileWindow() const { return receiveWindow() != nullptr; }

// Only the host whose offer the window shows reports its progress.
void TransferWindows::showReceiveProgress(const QString &fromIp, qint64 position)
{
    TForm7 *window = receiveWindow();
    if (window && PeerAddress::same(window->jsd->Host, fromIp))
        window->showProgress(position);
}

TForm7 *TransferWindows::receiveWindow() const
{
    const QList<TForm7 *> windows = receiveWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if ((*it)->accepted())
            return *it;
    return windows.isEmpty() ? nullptr : windows.last();
}

QList<TForm7 *> TransferWindows::receiveWindows() const { return existing(receivers_); }

bool TransferWindows::takesSets(const QString &ip, QByteArray *peerKey, NameEncoding *encoding) const
{
    if (!links_.security || !links_.presence || links_.security->linkTo(ip) != PeerSecurity::Link::Sealed)
        return false;
    for (const NearbyPeer &peer : links_.presence->peers()) {
        if (!(peer.capabilities & PresenceDatagram::CapabilityFileSets) || !(peer.address == ip || peer.addresses.contains(ip)))
            continue;
        if (peerKey)
            *peerKey = links_.security->peerKey(ip);
        if (encoding)
            *encoding = (peer.capabilities & PresenceDatagram::CapabilityGb18030) ? NameEncoding::Gb18030
                                                                                  : NameEncoding::Utf8;
        return true;
    }
    return false;
}

void TransferWindows::offerPaths(const QString &ip, const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    QByteArray key;
    NameEncoding encoding = NameEncoding::Utf8;
    if (takesSets(ip, &key, &encoding)) {
        auto *window = new SetSendWindow(links_, ip, key, encoding);
        setSenders_.append(window);
        window->addPaths(paths);
        window->show();
        return;
    }
    for (const QString &path : paths)
        if (QFileInfo(path).isDir()) {
            links_.context.prompts->information(u"对方的程序不能接收文件夹，只能一个一个地接收文件。"_s
                                                u"请把文件夹里的文件分别发送，或请对方使用新版本。"_s);
            return;
        }
    offerOneByOne(ip, paths, QString(), false);
}

// One send-file window at a time: a peer of the base protocol answers the newest offer only, and
// its receiver listens for one file at a time. The next file is offered when a window has gone,
// with the note of the first.
void TransferWindows::offerOneByOne(const QString &ip, QStringList files, const QString &note, bool automatic)
{
    if (files.isEmpty())
        return;
    auto *window = new TForm6(links_);
    window->setBuddy(ip);
    window->setPresetFile(files.takeFirst());
    window->fsm->setText(note);
    sender_ = window;
    auto typed = std::make_shared<QString>(note);
    QObject::connect(window->Button1, &QPushButton::clicked, window, [typed, window] { *typed = window->fsm->text(); });
    QObject::connect(window, &FileWindow::closed, links_.owner, [this, ip, files, typed] {
        QTimer::singleShot(0, links_.owner, [this, ip, files, typed] { offerOneByOne(ip, files, *typed, true); });
    });
    window->show();
    if (automatic)
        window->Button1->click();
}

void TransferWindows::fileSetArrived(quint8 innerKind, const QByteArray &inner, const QString &fromIp,
                                     const QByteArray &senderKey)
{
    if (innerKind == InnerKind::SetOffer) {
        const std::optional<SetOffer> offer = SetOffer::parse(inner);
        if (!offer)
            return;
        if (SetReceiveWindow *window = findReceiver(offer->setId)) {
            if (window->peerKey() == senderKey)
                window->offeredAgain(fromIp);
            return;
        }
        const std::optional<IncomingSet> known = store_.incoming(offer->setId);
        if (known && known->peerKey != senderKey)
            return;
        SetReceiveWindow *window = newReceiver();
        if (!window)
            return;
        if (known) {
            window->restore(*known, *offer);
            window->show();
            window->offeredAgain(fromIp);
        } else {
            window->setOffer(*offer, fromIp, senderKey);
            window->show();
        }
        return;
    }
    const std::optional<SetAnswer> answer = SetAnswer::parse(inner);
    if (!answer)
        return;
    if (SetReceiveWindow *window = findReceiver(answer->setId)) {
        if (window->peerKey() == senderKey)
            window->answerArrived(*answer);
        return;
    }
    if (SetSendWindow *window = findSender(answer->setId)) {
        if (window->peerKey() == senderKey)
            window->answerArrived(*answer);
        return;
    }
    // A send for a set whose window was closed, or offered before a restart.
    const std::optional<OutgoingSet> set = store_.outgoing(answer->setId);
    if (!set || set->peerKey != senderKey)
        return;
    if (answer->action == SetAnswer::Action::Cancelled) {
        store_.removeOutgoing(answer->setId);
        return;
    }
    if (answer->action != SetAnswer::Action::Send)
        return;
    auto *window = new SetSendWindow(links_, fromIp, senderKey, set->manifest.encoding);
    setSenders_.append(window);
    window->restore(*set);
    window->show();
    window->answerArrived(*answer);
}

void TransferWindows::restoreSets()
{
    store_.removeExpired(QDateTime::currentMSecsSinceEpoch());
    for (const QByteArray &id : store_.incomingIds()) {
        const std::optional<IncomingSet> set = store_.incoming(id);
        const std::optional<SetOffer> offer = set ? SetOffer::parse(set->offer) : std::nullopt;
        if (!offer || findReceiver(id))
            continue;
        SetReceiveWindow *window = newReceiver();
        if (!window)
            return;
        window->restore(*set, *offer);
        window->show();
    }
}

SetReceiveWindow *TransferWindows::newReceiver()
{
    setReceivers_.removeAll(nullptr);
    receivers_.removeAll(nullptr);
    if (openReceiveWindowCount() >= maxReceiveWindows_)
        return nullptr;
    auto *window = new SetReceiveWindow(links_);
    setReceivers_.append(window);
    return window;
}

SetSendWindow *TransferWindows::findSender(const QByteArray &setId) const
{
    return openFor(setSendWindows(), setId);
}

SetReceiveWindow *TransferWindows::findReceiver(const QByteArray &setId) const
{
    return openFor(setReceiveWindows(), setId);
}

QList<SetSendWindow *> TransferWindows::setSendWindows() const { return existing(setSenders_); }

QList<SetReceiveWindow *> TransferWindows::setReceiveWindows() const { return existing(setReceivers_); }
