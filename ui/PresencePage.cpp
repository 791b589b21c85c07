#include "ui/PresencePage.h"

#include "core/PeerContext.h"
#include "core/PresenceService.h"
#include "net/Ipv4Interfaces.h"
#include "ui/GuardedSlot.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

PresencePage::PresencePage(PeerContext &context, QWidget *parent)
    : QWidget(parent), context_(context), settings_(PresenceSettings::load(context.configDir))
{
    setObjectName(u"presence"_s);
    presenceOn = new QCheckBox(u"发现局域网内附近的人"_s);
    presenceOn->setChecked(settings_.enabled);
    interfaceList = new QListWidget;
    interfaceList->setObjectName(u"interfaceList"_s);
    rememberBuddies = new QCheckBox(u"记住好友列表（下次启动时保留）"_s);
    rememberBuddies->setChecked(settings_.rememberBuddies);
    fillInterfaces();

    auto *hint = new QLabel(u"使用的网卡（都不选：所有非虚拟网卡）："_s);
    hint->setTextFormat(Qt::PlainText);
    // The hint names the list for a screen reader (a list's name is not taken from its label).
    hint->setBuddy(interfaceList);
    interfaceList->setAccessibleName(hint->text());
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(presenceOn);
    layout->addWidget(hint);
    layout->addWidget(interfaceList, 1);
    layout->addWidget(rememberBuddies);
    resetIdentity = new QPushButton(u"重置身份"_s);
    resetIdentity->setToolTip(u"换一个新的身份密钥：所有对方都会看到你的密钥变了，需要重新核对安全码。"_s);
    layout->addWidget(resetIdentity, 0, Qt::AlignLeft);
    connect(resetIdentity, &QPushButton::clicked, this, &PresencePage::resetIdentityRequested);

    const auto take = [this] { guardedIn(context_, this, [this] { takeChoices(); }); };
    connect(presenceOn, &QCheckBox::toggled, this, take);
    connect(rememberBuddies, &QCheckBox::toggled, this, take);
    connect(interfaceList, &QListWidget::itemChanged, this, take);
}

QStringList PresencePage::machineInterfaces()
{
    QStringList names;
    for (const Ipv4Interface &entry : upIpv4Interfaces())
        if (!names.contains(entry.name))
            names << entry.name;
    return names;
}

// Ticked: the stored choice, or with none stored every interface that is not virtual. A
// chosen interface that is down now is listed too, so that the choice is not lost.
void PresencePage::fillInterfaces()
{
    QStringList names = machineInterfaces();
    for (const QString &chosen : settings_.interfaces)
        if (!names.contains(chosen))
            names << chosen;
    const QSignalBlocker blocker(interfaceList);
    for (const QString &name : names) {
        auto *item = new QListWidgetItem(name, interfaceList);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        const bool ticked = settings_.interfaces.isEmpty() ? !PresenceService::isVirtualInterface(name)
                                                           : settings_.interfaces.contains(name);
        item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    }
}

// The ticks as the person left them; when they are exactly the default ticks, no interface
// is stored, so that an interface that appears later is used too.
void PresencePage::takeChoices()
{
    PresenceSettings chosen;
    chosen.enabled = presenceOn->isChecked();
    chosen.rememberBuddies = rememberBuddies->isChecked();
    bool asDefault = true;
    for (int row = 0; row < interfaceList->count(); ++row) {
        const QListWidgetItem *item = interfaceList->item(row);
        const bool ticked = item->checkState() == Qt::Checked;
        if (ticked)
            chosen.interfaces << item->text();
        asDefault = asDefault && ticked != PresenceService::isVirtualInterface(item->text());
    }
    if (asDefault)
        chosen.interfaces.clear();
    if (chosen == settings_)
        return;
    chosen.save(context_.configDir);
    settings_ = chosen;
    emit changed();
}
