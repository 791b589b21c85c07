#include "ui/TForm4.h"

#include "core/Packet.h"
#include "core/PeerAddress.h"
#include "core/PeerContext.h"
#include "core/Prompts.h"
#include "net/HostLookup.h"
#include "net/Ipv4Address.h"
#include "ui/GuardedSlot.h"
#include "ui/MainWindowLinks.h"
#include "ui/WindowPlacement.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QVBoxLayout>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

// Asked when Escape would drop an address typed and not sent.
const QString DiscardQuestion = u"输入的内容还没有发送，关闭窗口吗？"_s;

} // namespace

TForm4::TForm4(MainWindowLinks &main)
    : QWidget(&main.widget(),
              Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                  | Qt::WindowCloseButtonHint),
      main_(main)
{
    setWindowTitle(u"添加好友"_s);
    dfip = new QLineEdit;
    dfip->setMaxLength(AddressLength);
    Button1 = new QPushButton(u"发送申请"_s);
    nearby = new QComboBox;
    nearby->setObjectName(u"nearby"_s);
    auto *addressLabel = new QLabel(u"对方IP:"_s);
    addressLabel->setBuddy(dfip); // a screen reader names the box by it
    auto *row = new QHBoxLayout;
    row->addWidget(addressLabel);
    row->addWidget(dfip, 1);
    row->addWidget(Button1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(nearby);

    Timer1 = new QTimer(this);
    Timer1->setInterval(30000);
    Timer2 = new QTimer(this);
    Timer2->setInterval(2000);
    Timer2->setSingleShot(true);

    const PeerContext &context = main_.context();
    connect(Button1, &QPushButton::clicked, this, guardedSlot(context, this, &TForm4::Button1Click));
    connect(Timer1, &QTimer::timeout, this, guardedSlot(context, this, &TForm4::Timer1Timer));
    connect(Timer2, &QTimer::timeout, this, guardedSlot(context, this, &TForm4::Timer2Timer));
    connect(nearby, &QComboBox::activated, this, &TForm4::nearbyActivated);
    dfip->installEventFilter(this);
    setNearbyPeers(main_.nearbyPeers());
    setFixedSize(268, 72);
    centreOnDesktop(this);
}

void TForm4::closeEvent(QCloseEvent *event)
{
    guardedIn(main_.context(), this, [this] { FormClose(); });
    QWidget::closeEvent(event);
}

// Escape closes, as in a dialog box; an address typed and not yet sent is asked about first.
void TForm4::keyPressEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Escape || event->modifiers() != Qt::NoModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    const bool unsent = !dfip->text().isEmpty() && Button1->isEnabled();
    guardedIn(main_.context(), this, [this, unsent] {
        if (!unsent || main_.context().prompts->confirm(DiscardQuestion, false) == Prompts::Answer::Yes)
            close();
    });
}

bool TForm4::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == dfip && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        guardedIn(main_.context(), this, [this, key] { dfipKeyDown(key); });
    }
    return QWidget::eventFilter(watched, event);
}

void TForm4::Button1Click()
{
    if (dfip->text().isEmpty()) {
        main_.context().prompts->information(u"请填写完整！"_s);
        return;
    }
    Button1->setEnabled(false);
    asked_ = addressOf(dfip->text());
    Packet::send(main_.endpoint(), dfip->text(), Packet::friendRequest(main_.ownNickname()));
    Timer1->start();
}

// Items: the prompt, then "nickname  address" per peer as plain text, the address as data.
void TForm4::setNearbyPeers(const QList<NearbyPeer> &peers)
{
    nearby->clear();
    nearby->addItem(peers.isEmpty() ? u"（附近没有发现别人）"_s : u"从附近的人中选择…"_s);
    for (const NearbyPeer &peer : peers)
        nearby->addItem(peer.displayNickname + u"  "_s + peer.address, peer.address);
    nearby->setEnabled(!peers.isEmpty());
}

void TForm4::nearbyActivated(int row)
{
    const QString address = nearby->itemData(row).toString();
    if (row > 0 && !address.isEmpty())
        dfip->setText(address);
}

bool TForm4::asked(const QString &fromIp) const { return PeerAddress::same(asked_, fromIp); }

// A dotted address as typed; a host name looked up before the request leaves (the endpoint
// looks it up again to send), so that its accept cannot arrive before the address is known.
QString TForm4::addressOf(const QString &host)
{
    in_addr parsed{};
    if (::inet_aton(host.toLatin1().constData(), &parsed) != 0)
        return host;
    HostLookup lookup(host);
    if (!lookup.isFinished()) {
        QEventLoop loop;
        connect(&lookup, &HostLookup::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return lookup.address() == 0 ? QString() : Ipv4Address(lookup.address()).toString();
}

void TForm4::dfipKeyDown(int key)
{
    // Like a click: nothing while a request is pending and the button is disabled.
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && Button1->isEnabled())
        Button1Click();
}

void TForm4::Timer1Timer()
{
    Timer1->stop();
    Button1->setEnabled(true);
    main_.context().prompts->information(u"超时，网络不通或者对方没有运行本程序!"_s);
}

void TForm4::acceptReply()
{
    close();
    Button1->setEnabled(true);
    dfip->clear();
    Timer1->stop();
}

void TForm4::FormClose()
{
    Button1->setEnabled(true);
    Timer1->stop();
    dfip->clear();
    Timer2->start();
}

void TForm4::Timer2Timer() { deleteLater(); }
