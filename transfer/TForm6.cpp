#include "transfer/TForm6.h"

#include "core/FileDialogs.h"
#include "core/Gbk.h"
#include "core/Packet.h"
#include "core/PeerSecurity.h"
#include "core/Prompts.h"
#include "net/Exceptions.h"
#include "net/TZnStrm.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray Acknowledgement = QByteArray("OK") + QByteArray(14, ' ');

// Opens the chosen file for reading; the platform's I/O error when it cannot.
void openForReading(QFile &file)
{
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(u"Cannot open file \""_s + file.fileName() + u"\". "_s + file.errorString());
}

} // namespace

TForm6::TForm6(const FileWindowLinks &links) : FileWindow(links, u"发送文件"_s)
{
    fsjd = new QProgressBar;
    fsjd->setRange(0, 100);
    fsjd->setValue(0);
    Button1 = new QPushButton(u"发送"_s);
    Button2 = new QPushButton(u"取消"_s);
    fsm = new QLineEdit;
    fsm->setAccessibleName(u"备注"_s); // what the note goes out as, beside the file's name
    truesend = new QPushButton(u"真发送"_s, this);
    truesend->setVisible(false);
    arrange(fsjd, fsm, Button1, Button2);
    Timer2 = new QTimer(this);
    Timer2->setInterval(100);
    connect(Timer2, &QTimer::timeout, this, [this] { handle([this] { Timer2Timer(); }); });
    onClick(Button1, this, &TForm6::Button1Click);
    onClick(Button2, this, &TForm6::Button2Click);
    onClick(truesend, this, &TForm6::truesendClick);
    wireStream();
}

TForm6::~TForm6()
{
    // The sender goes first, while the window it reports to is still whole.
    delete fsd;
}

void TForm6::wireStream()
{
    fsd = new TZnStrm(this);
    fsd->Port = StreamPort;
    fsd->ReportLevel = 0;
    fsd->StallTimeOut = DefaultStallTimeOut;
    // The stream leaves from the peer's own address, the one its datagrams come from, so that
    // the receiver knows it for the peer that made the offer.
    fsd->BindAddress = links_.context.bindAddress;
    fsd->OnConnect = [this](RIzarorozi *) { handle([this] { fsdConnect(); }); };
    fsd->OnConnectionFailed = [this](RIzarorozi *) { handle([this] { fsdConnectionFailed(); }); };
    fsd->OnInvalidHost = [this](bool &Handled) { handle([&] { fsdInvalidHost(Handled); }); };
    fsd->OnHostResolved = [this](RIzarorozi *) { handle([this] { fsdHostResolved(); }); };
    fsd->OnPacketSent = [this](RIzarorozi *) { handle([this] { fsdPacketSent(); }); };
    fsd->OnDisconnect = [this](RIzarorozi *) { handle([this] { fsdDisconnect(); }); };
}

void TForm6::setBuddy(const QString &ip)
{
    fsd->Host = ip;
    ztPanel0->setText(u"To:"_s + ip);
}

QByteArray TForm6::offerPacket(qint64 size, const QString &fileName, const QString &note)
{
    const int frame = 1 + Gbk::byteLength(QString::number(size) + u"Byte  [备注：]"_s);
    const int room = std::max(0, Packet::BufferSize - frame);
    const QString name = Gbk::truncateToBytes(fileName, room);
    const QString shortNote = Gbk::truncateToBytes(note, room - Gbk::byteLength(name));
    return Packet::fileOffer(size, name, shortNote);
}

void TForm6::Button1Click()
{
    if (links_.security && links_.security->linkTo(fsd->Host) == PeerSecurity::Link::KeyChanged) {
        prompts().information(PeerSecurity::keyChangedRefusal());
        return;
    }
    Button1->setEnabled(false);
    od = preset_.isEmpty() ? links_.context.dialogs->openFileName(QString()) : preset_;
    // Nothing offered (the chooser was cancelled, the file cannot be offered): "发送" stays usable.
    if (od.isEmpty()) {
        Button1->setEnabled(true);
        return;
    }
    QFile file(od);
    try {
        openForReading(file);
        // The stream carries at most 2 GiB - 1 bytes: a larger file is not offered at all.
        if (file.size() > std::numeric_limits<qint32>::max())
            throw Exception(u"Range check error"_s);
    } catch (...) {
        od.clear();
        Button1->setEnabled(true);
        throw;
    }
    const qint64 size = file.size();
    file.close();
    send(fsd->Host, offerPacket(size, QFileInfo(od).fileName(), fsm->text()));
}

void TForm6::Button2Click() { close(); }

void TForm6::truesendClick()
{
    // A file accept for a window that chose no file, already posted or was closed starts nothing.
    if (od.isEmpty() || started_ || isClosed())
        return;
    started_ = true;
    QFile file(od);
    openForReading(file);
    fsjd->setMaximum(barValue(file.size(), std::numeric_limits<int>::max()));
    showCount(fsjd, 0);
    // Inside TLS to a peer whose datagrams are sealed: it proves it holds its pinned key.
    fsd->Tls = links_.security ? links_.security->tlsKeysFor(fsd->Host) : std::nullopt;
    fsd->PostStream(file, reply_);
}

void TForm6::fsdConnect() { ztPanel1->setText(u"连接成功"_s); }

void TForm6::fsdConnectionFailed() { ztPanel1->setText(u"连接失败"_s); }

void TForm6::fsdInvalidHost(bool &) { prompts().message(u"无效主机地址"_s); }

void TForm6::fsdHostResolved() { prompts().message(u"对方主机拒绝服务"_s); }

// Runs after every send of the body, so it stays cheap: a number, a timer, a text set once.
void TForm6::fsdPacketSent()
{
    fsjd->setValue(barValue(fsd->BytesSent(), fsjd->maximum()));
    if (!Timer2->isActive())
        Timer2->start();
    if (ztPanel1->text() != u"正在传送数据"_s)
        ztPanel1->setText(u"正在传送数据"_s);
}

void TForm6::Timer2Timer()
{
    ztPanel0->setText(progressText(u"已发送："_s, fsjd->value(), fsjd->maximum()));
    showCount(fsjd, fsjd->value());
    send(fsd->Host, Packet::progress(fsjd->value()));
}

// The post closes the connection once it has the acknowledgement; any other close (a break,
// a cancel, a receiver that could not store the file) comes without it.
void TForm6::fsdDisconnect()
{
    fsd->Cancel();
    Timer2->stop();
    prompts().message(reply_ == Acknowledgement ? u"发送完毕！"_s : u"连接已中断"_s);
    close();
}

void TForm6::FormClose() { fsd->Abort(); }

FileWindow::EscapeAction TForm6::onEscape() const
{
    if (started_)
        return EscapeAction::Keep;
    return od.isEmpty() && !fsm->text().isEmpty() ? EscapeAction::Ask : EscapeAction::Close;
}
