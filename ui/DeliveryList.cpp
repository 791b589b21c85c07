#include "ui/DeliveryList.h"

#include "core/Gbk.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int IdRole = Qt::UserRole;
constexpr int StateRole = Qt::UserRole + 1;
constexpr int ShownChars = 16; // of a message's text on its line
constexpr int ListHeight = 50; // about three lines
constexpr int ShownMessages = 100; // the newest of the conversation

bool waits(Deliveries::State state)
{
    return state == Deliveries::State::NotDelivered || state == Deliveries::State::Waiting;
}

} // namespace

DeliveryList::DeliveryList(Deliveries &deliveries, QWidget *parent) : QWidget(parent), deliveries_(deliveries)
{
    list = new QListWidget;
    list->setFixedHeight(ListHeight);
    list->setAccessibleName(u"已发出的消息"_s);
    resend = new QPushButton(u"重发"_s);
    cancel = new QPushButton(u"取消"_s);
    resend->setToolTip(u"现在再发一次选中的未送达消息"_s);
    cancel->setToolTip(u"不再发送选中的待发送消息"_s);
    outboxNote = new QLabel(u"未送达和待发送的消息留在发件箱里，对方上线时自动发出（每位好友最多 %1 条，保存 %2 天）"_s
                                .arg(Outbox::DefaultMaxPerPeer)
                                .arg(Outbox::MaxAgeDays));
    outboxNote->setWordWrap(true);
    auto *buttons = new QVBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addWidget(resend);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(list, 1);
    row->addLayout(buttons);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    layout->addLayout(row);
    layout->addWidget(outboxNote);

    connect(list, &QListWidget::currentRowChanged, this, &DeliveryList::updateButtons);
    connect(resend, &QPushButton::clicked, this, [this] { deliveries_.resend(ip_, selectedId()); });
    connect(cancel, &QPushButton::clicked, this, [this] { deliveries_.cancel(ip_, selectedId()); });
    refreshSoon_ = new QTimer(this);
    refreshSoon_->setSingleShot(true);
    refreshSoon_->setInterval(0);
    connect(refreshSoon_, &QTimer::timeout, this, &DeliveryList::refresh);
    connect(&deliveries_, &Deliveries::changed, this, [this](const QString &ip) {
        if (ip == ip_ && window()->isVisible())
            refreshSoon_->start();
    });
    setVisible(false);
}

QString DeliveryList::stateText(Deliveries::State state)
{
    switch (state) {
    case Deliveries::State::Sending: return u"发送中…"_s;
    case Deliveries::State::Delivered: return u"已送达"_s;
    case Deliveries::State::NotDelivered: return u"未送达"_s;
    case Deliveries::State::Waiting: return u"待发送（对方离线）"_s;
    case Deliveries::State::NoReceipt: return u"无回执"_s;
    case Deliveries::State::NotQueued: return u"未送达（发件箱已满）"_s;
    }
    return {};
}

void DeliveryList::setPeer(const QString &ip)
{
    ip_ = ip;
    refresh();
}

void DeliveryList::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        refreshSoon_->start();
}

void DeliveryList::refresh()
{
    const QByteArray selected = selectedId();
    const QList<Deliveries::Sent> sent = deliveries_.conversation(ip_);
    list->clear();
    for (const Deliveries::Sent &s : sent.mid(std::max<qsizetype>(0, sent.size() - ShownMessages))) {
        QString text = Gbk::decode(s.datagram.mid(1)).simplified();
        if (text.size() > ShownChars)
            text = text.left(ShownChars) + u"…"_s;
        auto *item = new QListWidgetItem(s.at.toString(u"HH:mm"_s) + u"  "_s + text + u"  —  "_s + stateText(s.state));
        item->setData(IdRole, s.id);
        item->setData(StateRole, int(s.state));
        list->addItem(item);
        if (s.id == selected && !selected.isEmpty())
            list->setCurrentItem(item);
    }
    const bool anyWaiting = std::any_of(sent.cbegin(), sent.cend(), [](const Deliveries::Sent &s) { return waits(s.state); });
    if (!list->currentItem() && list->count() > 0)
        list->scrollToBottom();
    outboxNote->setVisible(anyWaiting);
    setVisible(!sent.isEmpty());
    updateButtons();
}

QByteArray DeliveryList::selectedId() const
{
    const QListWidgetItem *item = list->currentItem();
    return item ? item->data(IdRole).toByteArray() : QByteArray();
}

Deliveries::State DeliveryList::selectedState() const
{
    const QListWidgetItem *item = list->currentItem();
    return item ? Deliveries::State(item->data(StateRole).toInt()) : Deliveries::State::Delivered;
}

void DeliveryList::updateButtons()
{
    const Deliveries::State state = selectedState();
    resend->setEnabled(state == Deliveries::State::NotDelivered);
    cancel->setEnabled(waits(state));
}
