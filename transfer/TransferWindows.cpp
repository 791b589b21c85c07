#include "transfer/TransferWindows.h"

#include "transfer/TForm6.h"
#include "transfer/TForm7.h"

#include <QPushButton>

#include <algorithm>

TransferWindows::TransferWindows(const FileWindowLinks &links) : links_(links) {}

void TransferWindows::openSendFileWindow(const QString &ip)
{
    auto *window = new TForm6(links_);
    window->setBuddy(ip);
    sender_ = window;
    window->show();
}

bool TransferWindows::clickTrueSend()
{
    if (!sender_)
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

void TransferWindows::showReceiveProgress(qint64 position)
{
    if (TForm7 *window = receiveWindow())
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
