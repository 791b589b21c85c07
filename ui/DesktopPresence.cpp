#include "ui/DesktopPresence.h"

#include "core/ContactStore.h"
#include "core/IniFile.h"
#include "core/PeerContext.h"
#include "core/Prompts.h"
#include "core/StatusModes.h"
#include "ui/GuardedSlot.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"
#include "ui/TrayIcon.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString MainSection = u"MainSection"_s;

MessageAttention::Settings attentionSettings(TForm1 &main)
{
    return {[&main] { return main.mainCaption() != StatusModes::noReplyCaption(); },
            [&main](const QString &ip) {
                return MessageAttention::isOwnAddress(ip, main.context().bindAddress, TForm2::ownAddresses());
            }};
}

} // namespace

DesktopPresence::DesktopPresence(TForm1 &main, TForm2 &settings, bool withTray,
                                 DesktopNotifier::BusOpener openBus, const AutostartEntry &autostartEntry)
    : attention(unread, attentionSettings(main)), notifier(std::move(openBus)),
      marks(*main.userlist, unread,
            [&main](const QString &entry) { return main.store().buddyIp(ContactStore::entryNumber(entry)); }),
      main_(main), settings_(settings), entry_(autostartEntry)
{
    main.OnMessageShown = [this](const ArrivedMessage &message) { attention.messageShown(message); };
    connect(&attention, &MessageAttention::noticeWanted, &notifier, &DesktopNotifier::notify);
    connect(&notifier, &DesktopNotifier::openRequested, this, &DesktopPresence::openWindow);
    if (withTray) {
        tray_ = std::make_unique<TrayIcon>(main, unread);
        connect(tray_.get(), &TrayIcon::showMainRequested, this, &DesktopPresence::showMainWindow);
        connect(tray_.get(), &TrayIcon::quitRequested, &main, &TForm1::quit);
        main.hidesToTray = [this] { return hideToTray(); };
    }
    options = buildOptionsTab(withTray);
    ownOptions_ = options;
    settings.insertPage(1, options, u"托盘与通知"_s);
}

DesktopPresence::~DesktopPresence()
{
    main_.OnMessageShown = nullptr;
    main_.hidesToTray = nullptr;
    delete ownOptions_.data();
}

QWidget *DesktopPresence::buildOptionsTab(bool withTray)
{
    auto *tab = new QWidget;
    tab->setObjectName(u"desktop"_s);
    autostart = new QCheckBox(withTray ? u"登录时自动启动（隐藏在托盘中）"_s : u"登录时自动启动"_s);
    autostart->setChecked(entry_.enabled());
    busyNotify = new QCheckBox(u"自动回复（忙碌）时也通知"_s);
    busyNotify->setChecked(attention.notifyWhenBusy());
    trayState = new QLabel(withTray ? u"关闭主窗口时，程序留在系统托盘中继续运行。"_s
                                    : u"桌面没有系统托盘：关闭主窗口即退出程序。"_s);
    trayState->setWordWrap(true);
    auto *layout = new QVBoxLayout(tab);
    layout->addWidget(autostart);
    layout->addWidget(busyNotify);
    layout->addWidget(trayState);
    layout->addStretch();
    const PeerContext &context = main_.context();
    connect(autostart, &QCheckBox::toggled, this,
            [this, &context] { guardedIn(context, &settings_, [this] { autostartClick(); }); });
    connect(busyNotify, &QCheckBox::toggled, this, [this](bool on) { attention.setNotifyWhenBusy(on); });
    return tab;
}

// A failure is reported, and the box shows again what the file system holds.
void DesktopPresence::autostartClick()
{
    struct ShowState {
        DesktopPresence &self;
        ~ShowState()
        {
            const QSignalBlocker blocker(self.autostart);
            self.autostart->setChecked(self.entry_.enabled());
        }
    } showState{*this};
    entry_.setEnabled(autostart->isChecked());
}

QString DesktopPresence::trayHint()
{
    return u"Talvino 仍在后台运行，图标在系统托盘中。"_s
        + u"单击托盘图标可以打开主窗口；要退出程序，请在托盘图标的菜单中选择“退出”。"_s;
}

bool DesktopPresence::hideToTray()
{
    if (!tray_)
        return false;
    const PeerContext &context = main_.context();
    guardedIn(context, &main_, [this, &context] {
        IniFile ini(main_.store().fileName());
        if (ini.readInteger(MainSection, TrayHintKey) == 1)
            return;
        context.prompts->information(trayHint());
        ini.writeInteger(MainSection, TrayHintKey, 1);
    });
    return true;
}

void DesktopPresence::showMainWindow()
{
    main_.showNormal();
    main_.raise();
    main_.activateWindow();
}

void DesktopPresence::openWindow(QWidget *window)
{
    if (!window)
        return showMainWindow();
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
}
