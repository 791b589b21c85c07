#pragma once

#include "transfer/FileWindow.h"

#include <QByteArray>
#include <QString>

class QLineEdit;
class QProgressBar;
class QPushButton;
class TZnStrm;

// The send-file window ("发送文件"): offers one file with a note to one buddy, posts it over
// TCP when the buddy's file accept clicks truesend, shows the bytes sent and reports them to
// the buddy every 100 ms, and tells its user "发送完毕！" only when the buddy acknowledged the
// whole file (the buddy acknowledges after storing it), "连接已中断" otherwise.
class TForm6 : public FileWindow {
    Q_OBJECT
public:
    explicit TForm6(const FileWindowLinks &links);
    ~TForm6() override;

    // The buddy the file goes to: fsd's Host, and "To:" with the address in status panel 0.
    void setBuddy(const QString &ip);

    // The file offer for a file of size bytes. An offer longer than the packet buffer is cut
    // so that it keeps its frame: the note is shortened first, then the file name; the size
    // and the frame are never cut.
    static QByteArray offerPacket(qint64 size, const QString &fileName, const QString &note);

    // A file chosen before the window opened (dropped, or one of several to a peer that takes one
    // file per offer): "发送" offers it without the file-open dialog.
    void setPresetFile(const QString &path) { preset_ = path; }

    // Handlers.
    void Button1Click();
    void Button2Click();
    void truesendClick();
    void fsdConnect();
    void fsdConnectionFailed();
    void fsdInvalidHost(bool &Handled);
    void fsdHostResolved();
    void fsdPacketSent();
    void fsdDisconnect();
    void Timer2Timer();

    // Controls and components.
    QProgressBar *fsjd;
    QPushButton *Button1;  // "发送"
    QPushButton *Button2;  // "取消"
    QLineEdit *fsm;        // the note
    QPushButton *truesend; // never visible: clicked when the file accept arrives
    TZnStrm *fsd;
    QString od;     // the file-open dialog's file name
    QTimer *Timer2; // 100 ms: progress text and progress packets

protected:
    void FormClose() override;
    // A running transfer stays; an unsent note is asked about.
    EscapeAction onEscape() const override;

private:
    void wireStream();

    QString preset_;
    QByteArray reply_;     // the acknowledgement of the post, as far as it arrived
    bool started_ = false; // the file has been posted (once per window)
};
