#include "transfer/TransferWindows.h"

#include "core/PeerAddress.h"
#include "net/TZnStrm.h"
#include "transfer/OfferStrmServ.h"
#include "transfer/TForm6.h"
#include "transfer/TForm7.h"

#include <QPushButton>

#include <algorithm>

TransferWindows::TransferWindows(const FileWindowLinks &links) : links_(links) {}

int TransferWindows::fileWindowFlag() const { return links_.tag; }

void TransferWindows::openSendFileWindow(const QString &ip)
{
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
    return int(std::count_if(windows.begin(), windows.end(), [](const TForm7 *w) { return !w->isClosed(); }));
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

QList<TForm7 *> TransferWindows::receiveWindows() const
{
    QList<TForm7 *> windows;
    for (const QPointer<TForm7> &window : receivers_)
        if (window)
            windows.append(window);
    return windows;
}
