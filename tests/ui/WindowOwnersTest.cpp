// Which window each box belongs to, and how the real boxes look: over their window, with their
// texts as plain text and the system's own titles and buttons, also under Qt's Chinese texts.
#include "harness/FakeMediaPlayer.h"
#include "tests/support/RawUdpPeer.h"
#include "tests/ui/Conversation.h"
#include "transfer/TForm7.h"
#include "transfer/TransferWindows.h"
#include "ui/QtPrompts.h"
#include "ui/QtTranslation.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>
#include <functional>

using namespace Qt::Literals::StringLiterals;

namespace {

// Runs look on the first modal box once it is open, then closes it.
void whenBoxOpens(const std::function<void(QWidget *)> &look)
{
    auto *poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, look] {
        QWidget *box = QApplication::activeModalWidget();
        if (!box || !box->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        look(box);
        if (auto *dialog = qobject_cast<QDialog *>(box))
            dialog->reject();
    });
    poll->start();
}

QStringList buttonTexts(QWidget *box)
{
    QStringList texts;
    for (const QAbstractButton *button : box->findChildren<QAbstractButton *>())
        if (!button->text().isEmpty())
            texts << button->text();
    texts.sort();
    return texts;
}

class WindowOwners : public ::testing::Test {
protected:
    TestPeer peer;
};

TEST_F(WindowOwners, EachBoxBelongsToTheWindowThatRaisedIt)
{
    // First start: the nickname box belongs to the main window.
    peer.start();
    EXPECT_EQ(peer.prompts.ownerOf(u"第一次使用本程序,请先为自己起一个昵称!"_s), peer.form1.get());

    // The settings window's save box, the playlist's open dialog and the player's error box.
    TForm2 &settings = *peer.form2;
    settings.myname->setText(u"阿明"_s);
    settings.Button1->click();
    EXPECT_EQ(peer.prompts.ownerOf(u"保存成功！"_s), &settings);
    settings.Button4->click();
    EXPECT_EQ(peer.prompts.shown.last().kind, u"open"_s);
    EXPECT_EQ(peer.prompts.shown.last().owner, &settings);
    peer.player->fail(u"坏文件"_s);
    EXPECT_EQ(peer.prompts.ownerOf(u"坏文件"_s), &settings);

    // A message window's own box, and the error box of a send-file window's handler.
    peer.form1->showMessageWindow(u"接收消息"_s, u"127.0.0.9"_s, u"陌生人"_s, u"你好"_s, true);
    TForm3 *window = peer.form1->findChildren<TForm3 *>().last();
    window->fs->click();
    EXPECT_EQ(peer.prompts.ownerOf(u"不能发送空消息！"_s), window);
    peer.files->openReceiveFileWindow(5, u"5Byte a.txt [备注：]"_s, u"127.0.0.9"_s);
    TForm7 *receiving = peer.files->receiveWindows().last();
    receiving->Button1->click();
    EXPECT_EQ(peer.prompts.shown.last().kind, u"save"_s);
    EXPECT_EQ(peer.prompts.shown.last().owner, receiving);
}

TEST_F(WindowOwners, ABoxTheNetworkRaisesBelongsToTheMainWindowWhateverWindowIsOpen)
{
    peer.storeNickname(u"阿明"_s);
    peer.start();
    RawUdpPeer raw(u"127.0.0.3"_s);
    TForm3 *typing = nullptr;
    // The friend request arrives while a box of the message window stands open.
    peer.form1->showMessageWindow(u"接收消息"_s, raw.address(), u"陌生人"_s, u"你好"_s, true);
    typing = peer.form1->findChildren<TForm3 *>().last();
    peer.prompts.whileOpen = [&](const ScriptedPrompts::Shown &shown) {
        if (shown.text != u"不能发送空消息！"_s)
            return;
        raw.send(peer.ip(), "2" + Gbk::encode(u"小红"_s));
        EXPECT_TRUE(QTest::qWaitFor([&] { return peer.prompts.texts(u"confirm"_s).size() == 1; }, 5000));
    };
    typing->fs->click();
    ASSERT_EQ(peer.prompts.texts(u"confirm"_s).size(), 1);
    EXPECT_EQ(peer.prompts.shown.last().owner, peer.form1.get());
    EXPECT_EQ(peer.prompts.ownerOf(u"不能发送空消息！"_s), typing);
}

// The real boxes: the owner's window is their parent while it is shown, else the main window.
class RealBoxes : public ::testing::Test {
protected:
    RealBoxes()
    {
        main.resize(300, 200);
        main.show();
        other.resize(200, 100);
    }

    QWidget main;
    QWidget other;
    QtPrompts prompts{&main};
};

TEST_F(RealBoxes, ABoxIsOverItsOwnersWindowAndShowsPeerTextAsPlainText)
{
    const QString markup
        = u"'<h1>系统警告</h1><a href=\"http://x\">点击此处下载升级</a>' is not a valid integer value"_s;
    other.show();
    QWidget *parent = nullptr;
    Qt::TextFormat format = Qt::AutoText;
    QString shown;
    whenBoxOpens([&](QWidget *box) {
        parent = box->parentWidget();
        format = static_cast<QMessageBox *>(box)->textFormat();
        shown = static_cast<QMessageBox *>(box)->text();
    });
    {
        const Prompts::Owner owner(prompts, &other);
        prompts.error(markup);
    }
    EXPECT_EQ(parent, &other);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(shown, markup);

    // An owner that is not shown (or none at all) leaves the box to the main window.
    other.hide();
    whenBoxOpens([&](QWidget *box) { parent = box->parentWidget(); });
    {
        const Prompts::Owner owner(prompts, &other);
        prompts.information(u"<b>x</b>"_s);
    }
    EXPECT_EQ(parent, &main);
}

TEST_F(RealBoxes, QtsTextsTurnChineseButTheSystemsTitlesAndButtonsStay)
{
    std::unique_ptr<QTranslator> translation(QtTranslation::install(*qApp));
    ASSERT_TRUE(translation) << "qt6-translations-l10n is not installed";

    QString title;
    QStringList buttons;
    whenBoxOpens([&](QWidget *box) {
        title = box->windowTitle();
        buttons = buttonTexts(box);
    });
    prompts.confirm(u"真的退出么？"_s, true);
    EXPECT_EQ(title, u"Confirm"_s);
    EXPECT_EQ(buttons, (QStringList{u"&No"_s, u"&Yes"_s, u"N&o to All"_s}));
    whenBoxOpens([&](QWidget *box) {
        title = box->windowTitle();
        buttons = buttonTexts(box);
    });
    prompts.information(u"保存成功！"_s);
    EXPECT_EQ(title, u"Information"_s);
    EXPECT_EQ(buttons, QStringList{u"OK"_s});

    // Qt's own dialog buttons read in Chinese.
    whenBoxOpens([&](QWidget *box) { buttons = buttonTexts(box); });
    bool accepted = true;
    prompts.input(u"输入自定义回复内容"_s, QString(), 255, &accepted);
    EXPECT_FALSE(accepted);
    EXPECT_TRUE(buttons.contains(u"取消"_s)) << buttons.join(u","_s).toStdString();
}

} // namespace
