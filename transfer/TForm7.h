#pragma once

#include "transfer/FileWindow.h"

#include <QString>
#include <atomic>
#include <memory>

class OfferStrmServ;
class QFile;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class RIzarorozi;

// The receive-file window ("接收文件"): shows one file offer, listens for its stream from the
// start, sends the file accept once its user chose where to save, shows the progress the
// sender reports and tells whether this transfer's file was written. The body is stored beside
// the target under a temporary name and moved into place only when all of it has arrived, so
// a failed or cancelled transfer leaves the target as it was.
class TForm7 : public FileWindow {
    Q_OBJECT
public:
    explicit TForm7(const FileWindowLinks &links);
    ~TForm7() override;

    // The dispatcher's fill for one offer: the size, the whole offer text and its sender.
    void setOffer(qint64 size, const QString &offer, const QString &fromIp);
    // A progress report of the sender.
    void showProgress(qint64 position);
    // The file accept has gone out.
    bool accepted() const { return accepted_; }

    // Handlers.
    void Button1Click();
    void Button2Click();
    void jsdDisconnect(RIzarorozi *Sender);

    // Controls and components.
    QProgressBar *jsjd;
    QPushButton *Button1;      // "接收"
    QPushButton *Button2;      // "拒绝"
    QLineEdit *fsm;            // the offer, as it came (not shown)
    QPlainTextEdit *offerView; // the whole offer, wrapped, as plain text
    QString sd;                // the file-save dialog's file name
    OfferStrmServ *jsd;

protected:
    void FormClose() override;
    // Before the accept Escape refuses, as "拒绝" does; after it the transfer stays.
    EscapeAction onEscape() const override { return accepted_ ? EscapeAction::Keep : EscapeAction::Close; }

private:
    // Lines of the offer shown at once; a longer offer scrolls.
    static constexpr int OfferLines = 4;
    static constexpr int OfferFrame = 8;

    // What the connection's thread uses: it outlives the window while a delivery runs.
    struct Delivery {
        QString target; // absolute; set before the file accept goes out
        std::atomic<bool> written{false};
    };

    void wireReceiver();
    bool listening();
    static void jsdMSG(Delivery &delivery, QFile &strm);

    std::shared_ptr<Delivery> delivery_ = std::make_shared<Delivery>();
    bool accepted_ = false;
};
