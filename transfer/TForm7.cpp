#include "transfer/TForm7.h"

#include "core/ContactStore.h"
#include "core/FileDialogs.h"
#include "core/Packet.h"
#include "core/PeerSecurity.h"
#include "core/Prompts.h"
#include "net/Exceptions.h"
#include "transfer/OfferStrmServ.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <limits>

using namespace Qt::Literals::StringLiterals;

TForm7::TForm7(const FileWindowLinks &links) : FileWindow(links, u"接收文件"_s)
{
    jsjd = new QProgressBar;
    jsjd->setRange(0, 100);
    Button1 = new QPushButton(u"接收"_s);
    Button2 = new QPushButton(u"拒绝"_s);
    fsm = new QLineEdit(this);
    fsm->setReadOnly(true);
    fsm->setVisible(false);
    offerView = new QPlainTextEdit;
    offerView->setReadOnly(true);
    offerView->setAccessibleName(u"文件信息"_s);
    offerView->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    offerView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    offerView->setFixedHeight(offerView->fontMetrics().lineSpacing() * OfferLines + OfferFrame);
    arrange(jsjd, offerView, Button1, Button2);
    // Opened by the network: the person may be typing elsewhere.
    setAttribute(Qt::WA_ShowWithoutActivating);
    onClick(Button1, this, &TForm7::Button1Click);
    onClick(Button2, this, &TForm7::Button2Click);
    wireReceiver();
}

TForm7::~TForm7()
{
    // The receiver goes first: its destruction cancels its connections and waits for their
    // threads, which use only the shared delivery.
    delete jsd;
}

void TForm7::wireReceiver()
{
    jsd = new OfferStrmServ(this);
    jsd->Port = StreamPort;
    jsd->ReportLevel = 0;
    jsd->StallTimeOut = DefaultStallTimeOut;
    jsd->BindAddress = links_.context.bindAddress;
    jsd->OnMSG = [delivery = delivery_](TZnStrmServ *, const QByteArray &, QFile *strm) {
        jsdMSG(*delivery, *strm);
    };
    jsd->OnDisconnect = [this](RIzarorozi *Sender) { handle([&] { jsdDisconnect(Sender); }); };
    jsd->Loaded();
}

void TForm7::setOffer(qint64 size, const QString &offer, const QString &fromIp)
{
    jsjd->setMaximum(barValue(size, std::numeric_limits<int>::max()));
    showCount(jsjd, 0);
    fsm->setText(offer);
    offerView->setPlainText(offer);
    jsd->Host = fromIp;
    jsd->OfferedSize = size;
    const QString buddy = ContactStore(links_.context.configDir, prompts()).senderLookup(fromIp);
    ztPanel0->setText(u"From:"_s + fromIp + (buddy.isEmpty() ? QString() : u" "_s + buddy));
    // What a screen reader says of the window as it appears: who offers what, as shown.
    setAccessibleDescription(ztPanel0->text() + u'\n' + offer);
    listening();
    QApplication::alert(this);
}

void TForm7::showProgress(qint64 position)
{
    jsjd->setValue(barValue(position, jsjd->maximum()));
    ztPanel1->setText(u"正在接收数据"_s);
    ztPanel0->setText(progressText(u"已接收："_s, jsjd->value(), jsjd->maximum()));
    showCount(jsjd, jsjd->value());
}

// Whether the window holds its port. A window opened while another held it tries again, since
// that one may have gone meanwhile; while it cannot listen it says so and accepts nothing.
bool TForm7::listening()
{
    if (isClosed())
        return false;
    if (!jsd->Listening())
        jsd->Loaded();
    const bool ok = jsd->Listening();
    ztPanel1->setText(ok ? QString() : u"端口占用"_s);
    ztPanel1->setToolTip(ok ? QString() : u"TCP端口2921已被占用，无法接收文件"_s);
    return ok;
}

void TForm7::Button1Click()
{
    if (!listening())
        return;
    if (links_.security && links_.security->linkTo(jsd->Host) == PeerSecurity::Link::KeyChanged) {
        prompts().information(PeerSecurity::keyChangedRefusal());
        return;
    }
    Button1->setEnabled(false);
    sd = links_.context.dialogs->saveFileName(links_.context.downloadDir);
    if (sd.isEmpty())
        sd = links_.context.inDownloads(u"received.tmp"_s);
    const QFileInfo target(sd);
    delivery_->target = target.absoluteFilePath();
    // The body is captured in the target's folder, so that moving it into place is a rename.
    jsd->TempFolder = target.absolutePath();
    // From a peer whose datagrams are sealed the file must come inside TLS, from its pinned key;
    // a plain post is then refused.
    const std::optional<TlsKeys> tls = links_.security ? links_.security->tlsKeysFor(jsd->Host) : std::nullopt;
    jsd->TlsFor = [tls](const QString &) { return tls; };
    jsd->Expecting = true;
    accepted_ = true;
    send(jsd->Host, Packet::fileAccept());
}

void TForm7::Button2Click() { close(); }

// On the connection's thread, with the whole body in a temporary file beside the target: the
// body replaces the target in one step. Raising means no acknowledgement for the sender.
void TForm7::jsdMSG(Delivery &delivery, QFile &strm)
{
    const QFileDevice::Permissions kept = QFile::exists(delivery.target)
        ? QFile::permissions(delivery.target)
        : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser
            | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    strm.setPermissions(kept);
    if (std::rename(QFile::encodeName(strm.fileName()).constData(),
                    QFile::encodeName(delivery.target).constData())
        != 0)
        throw Exception(u"Cannot create file "_s + delivery.target);
    delivery.written = true;
}

// On the GUI thread, after the connection's thread has ended (and so after jsdMSG).
void TForm7::jsdDisconnect(RIzarorozi *Sender)
{
    const auto *connection = dynamic_cast<const OfferStrmServ *>(Sender);
    if (!connection || !connection->Admitted())
        return;
    jsd->Cancel();
    prompts().message(delivery_->written ? u"接收完毕！"_s : u"连接已中断"_s);
    close();
}

// Refusing or closing ends the offer at once: the listener goes (a post that comes later is
// refused by the system) and a connection being served is cancelled.
void TForm7::FormClose()
{
    jsd->Expecting = false;
    jsd->StopListening();
}
