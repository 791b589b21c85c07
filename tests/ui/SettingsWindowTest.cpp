#include "core/Gbk.h"
#include "harness/FakeMediaPlayer.h"
#include "tests/support/TestPeer.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"

#include <QCheckBox>
#include <QHostInfo>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString Ten = QString(10, QChar(0x4E2D)); // ten Chinese characters: 20 GBK bytes

// Types text one key press at a time, as a keyboard whose keys carry the characters does.
void typeKeys(QWidget *widget, const QString &text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Enters text the way an input method commits a composed phrase.
void commitPhrase(QWidget *widget, const QString &text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(widget, &event);
}

class SettingsWindow : public ::testing::Test {
protected:
    SettingsWindow()
    {
        peer.storeNickname(u"小明"_s);
        peer.start();
    }

    void showAboutTab()
    {
        w.PageControl1->setCurrentIndex(0);
        w.PageControl1->setCurrentIndex(2);
    }

    TestPeer peer;
    TForm2 &w = *peer.form2;
};

} // namespace

TEST_F(SettingsWindow, StartsWithItsDocumentedLayoutAndOptions)
{
    EXPECT_EQ(w.windowTitle(), u"系统选项设置"_s);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
    ASSERT_EQ(w.PageControl1->count(), 4);
    EXPECT_EQ(w.PageControl1->tabText(0), u"个性设置"_s);
    EXPECT_EQ(w.PageControl1->tabText(1), u"背景音乐"_s);
    EXPECT_EQ(w.PageControl1->tabText(2), u"关于本程序"_s);
    EXPECT_EQ(w.PageControl1->tabText(3), u"附近的人"_s);
    EXPECT_EQ(w.PageControl1->currentIndex(), 0);
    EXPECT_TRUE(w.autopop->isChecked());
    EXPECT_FALSE(w.bcf->isChecked());
    EXPECT_FALSE(w.jjmsrxx->isChecked());
    EXPECT_EQ(w.version->text(), u"TalvinoVer1.2 b3319"_s);
    ASSERT_FALSE(w.Image1->pixmap().isNull());
    EXPECT_EQ(w.Image1->pixmap().size(), QSize(93, 108));
    EXPECT_EQ(w.sf.font.pixelSize(), 14);
    EXPECT_EQ(w.sf.font.families().first(), u"Microsoft Sans Serif"_s);
    EXPECT_FALSE(w.sf.font.bold() || w.sf.font.italic() || w.sf.font.underline());
    EXPECT_EQ(w.Timer1->interval(), 1000);
    EXPECT_FALSE(w.Timer1->isActive()) << "no track plays: the playlist timer waits";
}

TEST_F(SettingsWindow, NameBoxHoldsTwentyGbkBytes)
{
    w.myname->clear();
    typeKeys(w.myname, Ten + QChar(0x6587));
    EXPECT_EQ(w.myname->text(), Ten);

    w.myname->clear();
    typeKeys(w.myname, QString(9, QChar(0x4E2D)) + u"a"_s);
    typeKeys(w.myname, QString(QChar(0x6587))); // two bytes more would make 21
    typeKeys(w.myname, u"b"_s);
    EXPECT_EQ(w.myname->text(), QString(9, QChar(0x4E2D)) + u"ab"_s);

    // A phrase from an input method, and a paste, are clipped where they go in; what stood
    // after the cursor stays.
    w.myname->clear();
    commitPhrase(w.myname, QString(12, QChar(0x6587)));
    EXPECT_EQ(w.myname->text(), QString(10, QChar(0x6587)));
    w.myname->setText(u"xy"_s);
    w.myname->setCursorPosition(1);
    w.myname->insert(QString(15, QChar(0x6587)));
    EXPECT_EQ(w.myname->text(), u"x"_s + QString(9, QChar(0x6587)) + u"y"_s);
    EXPECT_EQ(Gbk::byteLength(w.myname->text()), 20);

    // A stored name that is too long is cut on a character boundary.
    w.setNickname(u"a"_s + Ten);
    EXPECT_EQ(w.myname->text(), u"a"_s + QString(9, QChar(0x4E2D)));
}

TEST_F(SettingsWindow, SaveWritesTheNameAndAnEmptyNameNothing)
{
    const QByteArray saved = "Name=" + Gbk::encode(u"小红"_s);
    w.myname->setText(u"小红"_s);
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    EXPECT_EQ(peer.prompts.texts(u"information"_s), QStringList{u"保存成功！"_s});
    EXPECT_TRUE(peer.dir.read(u"myinfo.ini"_s).contains(saved));

    w.myname->clear();
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    EXPECT_EQ(peer.prompts.texts(u"information"_s).size(), 1);
    EXPECT_TRUE(peer.dir.read(u"myinfo.ini"_s).contains(saved));

    // The saved name is what the next start loads.
    TestPeer next;
    next.dir.write(u"myinfo.ini"_s, peer.dir.read(u"myinfo.ini"_s));
    next.start();
    EXPECT_EQ(next.form2->myname->text(), u"小红"_s);
}

TEST_F(SettingsWindow, AboutTabShowsReadmeOrSaysItIsMissingEachTime)
{
    w.show();
    showAboutTab();
    showAboutTab();
    EXPECT_EQ(peer.prompts.texts(u"information"_s),
              (QStringList{u"没有找到readme.txt文件！"_s, u"没有找到readme.txt文件！"_s}));

    peer.dir.write(u"readme.txt"_s, Gbk::encode(u"第一行\r\n第二行\r第三行\n第四行"_s));
    showAboutTab();
    EXPECT_EQ(w.Memo1->toPlainText(), u"第一行\n第二行\n第三行\n第四行"_s);
    EXPECT_EQ(peer.prompts.texts(u"information"_s).size(), 2);

    // Without the file the box keeps what it held.
    QFile::remove(peer.dir.file(u"readme.txt"_s));
    showAboutTab();
    EXPECT_EQ(peer.prompts.texts(u"information"_s).size(), 3);
    EXPECT_EQ(w.Memo1->toPlainText(), u"第一行\n第二行\n第三行\n第四行"_s);
}

// The program's settings window makes its pages when first shown: until then it holds the
// options as plain values and lays out no text (each Chinese character measured maps pages of
// the font file). Shown, it looks as it always did and shows what was put into it meanwhile.
TEST_F(SettingsWindow, MakesItsPagesWhenFirstShownWithWhatWasPutInMeanwhile)
{
    TForm2 lazy(peer.context, new FakeMediaPlayer);
    lazy.setMainWindow(peer.form1.get());
    QSignalSpy nicknames(&lazy, &TForm2::nicknameChanged);
    lazy.setNickname(u"阿"_s + Ten);
    auto *extra = new QWidget;
    lazy.insertPage(1, extra, u"托盘与通知"_s);
    auto *gone = new QWidget;
    lazy.insertPage(0, gone, u"gone"_s);
    delete gone;
    lazy.setAutoPopup(false);

    EXPECT_EQ(lazy.PageControl1, nullptr);
    EXPECT_EQ(lazy.myname, nullptr);
    EXPECT_EQ(lazy.nickname(), u"阿"_s + QString(9, QChar(0x4E2D))) << "cut to 20 GBK bytes";
    EXPECT_EQ(nicknames.count(), 1);
    EXPECT_FALSE(lazy.autoPopup());
    EXPECT_NE(peer.form1->chatRoomView(), nullptr) << "clearing auto-pop-up opens the chat-room view";
    EXPECT_FALSE(lazy.saveChatLog());
    EXPECT_FALSE(lazy.rejectStrangers());
    EXPECT_TRUE(lazy.presenceSettings().enabled);

    lazy.show();
    ASSERT_NE(lazy.PageControl1, nullptr);
    ASSERT_EQ(lazy.PageControl1->count(), 5) << "a page deleted before it was added is left out";
    EXPECT_EQ(lazy.PageControl1->widget(1), extra);
    EXPECT_EQ(lazy.PageControl1->tabText(0), u"个性设置"_s);
    EXPECT_EQ(lazy.PageControl1->tabText(2), u"背景音乐"_s);
    EXPECT_EQ(lazy.PageControl1->currentIndex(), 0);
    EXPECT_TRUE(lazy.w1->rect().contains(lazy.Button1->geometry()));
    EXPECT_EQ(lazy.myname->text(), lazy.nickname());
    EXPECT_FALSE(lazy.autopop->isChecked());
    EXPECT_EQ(nicknames.count(), 1) << "making the name box changes no name";
    ASSERT_NE(lazy.hostif, nullptr);
    EXPECT_TRUE(lazy.hostif->text().startsWith(u"本机IP："_s));
    lazy.PageControl1->setCurrentWidget(lazy.about);
    EXPECT_EQ(lazy.Memo1->size(), QSize(367, 163));

    // From here on the controls hold the options.
    lazy.myname->setText(u"小红"_s);
    EXPECT_EQ(nicknames.count(), 2);
    EXPECT_EQ(lazy.nickname(), u"小红"_s);
    lazy.setAutoPopup(true);
    EXPECT_TRUE(lazy.autopop->isChecked());
    EXPECT_EQ(peer.form1->chatRoomView(), nullptr) << "setting auto-pop-up closes the chat-room view";
}

TEST_F(SettingsWindow, HostLabelIsSetWhenShown)
{
    w.show();
    EXPECT_TRUE(w.hostif->text().startsWith(u"本机IP："_s));
    EXPECT_TRUE(w.hostif->text().contains(u"  主机名："_s + QHostInfo::localHostName()));
    // A name that does not resolve still gives a label.
    EXPECT_EQ(TForm2::hostLabelText(QString(), u"pc1"_s), u"本机IP：未知  主机名：pc1"_s);
}
