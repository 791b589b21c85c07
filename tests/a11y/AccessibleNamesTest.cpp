// Every window as a screen reader reads it over the accessibility bus: each control says what
// it is, by the text a sighted person reads beside it, and lists say what they draw.
#include "fileset/SetDatagrams.h"
#include "tests/a11y/ScreenReader.h"
#include "tests/ui/NearbyPair.h"
#include "transfer/SetReceiveWindow.h"
#include "transfer/SetSendWindow.h"
#include "transfer/TForm6.h"
#include "transfer/TForm7.h"
#include "transfer/TransferWindows.h"
#include "ui/AppTitle.h"
#include "ui/HistorySearchWindow.h"
#include "ui/NearbyList.h"
#include "ui/PresenceWhy.h"
#include "ui/QtPrompts.h"
#include "ui/SafetyCodeDialog.h"

#include <QDialog>
#include <QTabWidget>
#include <QTimer>

#include <functional>

using namespace Qt::Literals::StringLiterals;

namespace {

// A control the tree must hold, shown, by its role and name (a combo box by its description).
struct Named {
    QString role;
    QString name;
};

// One window: how the test opens it (returning it, shown) and names it must hold.
struct WindowCase {
    std::string what;
    std::function<QWidget *()> open;
    QString windowRole;
    QList<Named> names;
};

// What the window's shown controls lack: every control must have a name, and each expected
// name must be there. Empty when nothing lacks.
QStringList lacking(const QList<AccessibleNode> &window, const WindowCase &c)
{
    QStringList faults;
    if (window.isEmpty())
        return {u"the window is not on the bus"_s};
    if (window.first().role != c.windowRole)
        faults << u"the window is a "_s + window.first().role;
    for (const AccessibleNode &node : window)
        if (node.interactive() && node.has(u"showing"_s) && node.name.trimmed().isEmpty())
            faults << u"a "_s + node.role + u" has no name"_s;
    for (const Named &named : c.names) {
        // On this desktop a combo box's name is its value: what it sets is its description.
        const bool found = std::any_of(window.begin(), window.end(), [&](const AccessibleNode &node) {
            const QString &said = node.role == u"combo box"_s ? node.description : node.name;
            return node.role == named.role && said == named.name && node.has(u"showing"_s);
        });
        if (!found)
            faults << u"no "_s + named.role + u" named \""_s + named.name + u'"';
    }
    return faults;
}

} // namespace

class AccessibleNames : public ScreenReader {
protected:
    int pageOf(const QString &title) const
    {
        for (int i = 0; i < a.form2->PageControl1->count(); ++i)
            if (a.form2->PageControl1->tabText(i) == title)
                return i;
        return -1;
    }
};

TEST_F(AccessibleNames, EveryShownControlOfEveryWindowHasAName)
{
    const QString frame = u"frame"_s;
    const QString dialog = u"dialog"_s;
    const QList<WindowCase> cases{
        {"main window",
         [&] { return static_cast<QWidget *>(a.form1.get()); },
         frame,
         {{u"list"_s, u"好友列表"_s},
          {u"list"_s, u"附近的人"_s},
          {u"menu item"_s, u"状态"_s},
          {u"menu item"_s, u"系统设置"_s}}},
        {"settings, personal page",
         [&] { return settingsPage(pageOf(u"个性设置"_s)); },
         frame,
         {{u"text"_s, u"姓名："_s}, {u"check box"_s, u"保存聊天记录"_s}, {u"page tab"_s, u"关于本程序"_s}}},
        {"settings, tray page", [&] { return settingsPage(pageOf(u"托盘与通知"_s)); }, frame, {}},
        {"settings, music page",
         [&] { return settingsPage(pageOf(u"背景音乐"_s)); },
         frame,
         {{u"list"_s, u"播放列表"_s},
          {u"push button"_s, u"播放"_s},
          {u"push button"_s, u"暂停"_s},
          {u"push button"_s, u"停止"_s}}},
        {"settings, about page",
         [&] { return settingsPage(pageOf(u"关于本程序"_s)); },
         frame,
         {{u"text"_s, u"关于本程序"_s}}},
        {"settings, presence page",
         [&] { return settingsPage(pageOf(u"附近的人"_s)); },
         frame,
         {{u"list"_s, u"使用的网卡（都不选：所有非虚拟网卡）："_s}}},
        {"message window",
         [&] {
             a.form2->hide();
             TForm3 *window = writeToFirstBuddy(a);
             window->Button1->click(); // the history pane too
             return window;
         },
         frame,
         {{u"text"_s, u"远程信息："_s},
          {u"text"_s, u"昵称："_s},
          {u"combo box"_s, u"字体"_s},
          {u"combo box"_s, u"文字颜色"_s},
          {u"combo box"_s, u"字号"_s},
          {u"combo box"_s, u"背景颜色"_s},
          {u"text"_s, u"消息内容"_s},
          {u"text"_s, u"输入消息"_s},
          {u"text"_s, u"聊天记录"_s}}},
        {"add friend",
         [&] {
             a.form1->N9->trigger();
             return a.form1->addFriendDialog();
         },
         frame,
         {{u"text"_s, u"对方IP:"_s}}},
        {"chat room",
         [&] {
             a.form1->N7->trigger();
             return a.form1->chatRoomView();
         },
         frame,
         {{u"text"_s, u"聊天室状态"_s}}},
        {"send file",
         [&] {
             a.files->openSendFileWindow(b.ip());
             return a.files->sendWindow();
         },
         frame,
         {{u"text"_s, u"备注"_s}}},
        {"file offer",
         [&] {
             a.files->openReceiveFileWindow(123, u"报告.txt 123Byte  [备注：给你]"_s, b.ip());
             return a.files->receiveWindow();
         },
         u"notification"_s,
         {{u"text"_s, u"文件信息"_s}}},
        {"set send",
         [&] {
             auto *window = new SetSendWindow(links(), b.ip(), QByteArray(32, 'k'), NameEncoding::Utf8);
             window->show();
             return window;
         },
         frame,
         {{u"list"_s, u"要发送的文件和文件夹"_s}, {u"text"_s, u"备注"_s}}},
        {"set offer",
         [&] {
             auto *window = new SetReceiveWindow(links());
             Manifest manifest;
             manifest.entries << ManifestEntry{ManifestEntry::Kind::File, u"照片.jpg"_s, 10, 0};
             window->setOffer(SetOffer::describe(newSetId(), manifest, u"假期"_s), b.ip(),
                              QByteArray(32, 'k'));
             window->show();
             return window;
         },
         u"notification"_s,
         {{u"push button"_s, u"更改保存的文件夹"_s}, {u"push button"_s, u"接收"_s}}},
        {"history search",
         [&] {
             a.form1->findHistory->trigger();
             return a.form1->historySearch();
         },
         dialog,
         {{u"text"_s, u"查找的文字"_s}, {u"list"_s, u"查找结果"_s}}},
        {"why nobody is near",
         [&] {
             a.form1->why->trigger();
             return a.form1->findChild<PresenceWhy *>();
         },
         dialog,
         {{u"text"_s, u"为什么看不到？"_s}, {u"push button"_s, u"刷新"_s}}},
        {"safety code",
         [&] {
             auto *window = new SafetyCodeDialog(a.form1->security(), b.ip(), u"阿红"_s, a.form1.get());
             window->setAttribute(Qt::WA_DeleteOnClose);
             window->show();
             return window;
         },
         dialog,
         {{u"check box"_s, u"已核对"_s}}},
    };
    for (const WindowCase &c : cases) {
        SCOPED_TRACE(c.what);
        QWidget *window = c.open();
        ASSERT_NE(window, nullptr);
        ASSERT_EVENTUALLY(window->isVisible());
        const AccessibleTree tree = read();
        const QList<AccessibleNode> nodes = tree.window(window->windowTitle());
        const QStringList faults = lacking(nodes, c);
        EXPECT_TRUE(faults.isEmpty()) << faults.join(u"\n"_s).toStdString() << "\n"
                                      << tree.dump(nodes).toStdString();
        if (window != a.form1.get() && window != a.form2.get())
            window->close();
    }
}

// The buddy list's items read what they draw: the entry with its unread count, and the mark
// beside it as their description; the nearby list's items the peer's name and status.
TEST_F(AccessibleNames, ListItemsTellWhatTheyDraw)
{
    TestPeer c(u"127.0.0.4"_s);
    c.storeNickname(u"阿青"_s);
    c.start();
    c.form1->hide();
    linkPresence(a, c.ip());
    linkPresence(c, a.ip());
    ASSERT_EVENTUALLY(a.form1->nearbylist->count() == 1);
    desktop->unread.add(b.ip());
    desktop->unread.add(b.ip());
    const QString buddy = a.form1->userlist->item(0)->text();
    const QString nearby = a.form1->nearbylist->item(0)->text();

    const QList<AccessibleNode> nodes = read().window(a.form1->windowTitle());
    const auto item = [&](const QString &name) {
        return std::find_if(nodes.begin(), nodes.end(), [&](const AccessibleNode &n) {
            return n.role == u"list item"_s && n.name == name;
        });
    };
    ASSERT_NE(item(buddy), nodes.end()) << buddy.toStdString();
    EXPECT_TRUE(buddy.endsWith(u" (2)"_s)) << buddy.toStdString();
    EXPECT_EQ(item(buddy)->description, u"未加密"_s);
    ASSERT_NE(item(nearby), nodes.end()) << nearby.toStdString();
    EXPECT_TRUE(nearby.startsWith(u"阿青 ("_s)) << nearby.toStdString();
}

// The program's boxes are alerts and dialogs named by their titles, their texts and buttons
// read out; an input box without a prompt goes by its title.
TEST_F(AccessibleNames, BoxesHaveNames)
{
    struct BoxCase {
        std::string what;
        std::function<void(QtPrompts &)> raise;
        QString role;
        QString title;
        QList<Named> names;
    };
    const QList<BoxCase> cases{
        {"information",
         [](QtPrompts &p) { p.information(u"保存成功！"_s); },
         u"alert message"_s,
         u"Information"_s,
         {{u"label"_s, u"保存成功！"_s}, {u"push button"_s, u"OK"_s}}},
        {"message",
         [](QtPrompts &p) { p.message(u"发送完毕！"_s); },
         u"alert message"_s,
         appTitle(),
         {{u"label"_s, u"发送完毕！"_s}, {u"push button"_s, u"OK"_s}}},
        {"error",
         [](QtPrompts &p) { p.error(u"Cannot open file"_s); },
         u"alert message"_s,
         appTitle(),
         {{u"label"_s, u"Cannot open file"_s}}},
        {"confirm",
         [](QtPrompts &p) { p.confirm(u"真的退出么？"_s, true); },
         u"alert message"_s,
         u"Confirm"_s,
         {{u"label"_s, u"真的退出么？"_s},
          {u"push button"_s, u"Yes"_s},
          {u"push button"_s, u"No"_s},
          {u"push button"_s, u"No to All"_s}}},
        {"input without prompt",
         [](QtPrompts &p) {
             bool accepted = false;
             p.input(u"输入自定义回复内容"_s, QString(), 255, &accepted);
         },
         u"dialog"_s,
         u"输入自定义回复内容"_s,
         {{u"text"_s, u"输入自定义回复内容"_s}}},
    };
    QtPrompts prompts(a.form1.get());
    for (const BoxCase &c : cases) {
        SCOPED_TRACE(c.what);
        QList<AccessibleNode> nodes;
        // Read while the box waits for its answer, then answered.
        QTimer::singleShot(0, a.form1.get(), [&] {
            const auto box = [] { return qobject_cast<QDialog *>(QApplication::activeModalWidget()); };
            if (!QTest::qWaitFor([&] { return box() && box()->isVisible(); }, 5000))
                return;
            nodes = read().window(box()->windowTitle(), c.role);
            box()->done(0);
        });
        c.raise(prompts);
        ASSERT_FALSE(nodes.isEmpty());
        EXPECT_EQ(nodes.first().role, c.role);
        EXPECT_EQ(nodes.first().name, c.title);
        WindowCase expected{c.what, nullptr, c.role, c.names};
        const QStringList faults = lacking(nodes, expected);
        EXPECT_TRUE(faults.isEmpty()) << faults.join(u"\n"_s).toStdString();
    }
}
