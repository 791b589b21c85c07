#pragma once

#include "core/FileWindows.h"
#include "transfer/FileWindowLinks.h"

#include <QList>
#include <QPointer>

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
    FileWindowLinks links_;
    QPointer<TForm6> sender_;
    QList<QPointer<TForm7>> receivers_;
    int maxReceiveWindows_ = MaxReceiveWindows;
};
