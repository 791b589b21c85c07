#include "tests/support/RawUdpPeer.h"
#include "tests/ui/Conversation.h"
#include "ui/ColorBox.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QTimer>
#include <QToolButton>

#include <array>
#include <functional>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString Han = u"中"_s; // two GBK bytes

// Types text one key press at a time, as a keyboard whose keys carry the characters does.
void typeKeys(QWidget *widget, const QString &text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

void paste(QWidget *widget, const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(widget, Qt::Key_V, Qt::ControlModifier);
}

// Peer A with message windows to a raw peer on 127.0.0.3, which keeps what A sends.
class MessageWindow : public ::testing::Test {
protected:
    MessageWindow()
    {
        peer.storeNickname(u"阿明"_s);
        peer.start();
    }

    TForm3 *open(const QString &mess = u"来信"_s)
    {
        peer.form1->showMessageWindow(u"接收消息"_s, raw.address(), u"陌生人"_s, mess, true);
        return peer.form1->findChildren<TForm3 *>().last();
    }

    // What the raw peer received, once count datagrams are there.
    QList<QByteArray> received(int count)
    {
        EXPECT_TRUE(raw.waitForDatagrams(count));
        return raw.received;
    }

    TestPeer peer;
    RawUdpPeer raw{u"127.0.0.3"_s};
};

TEST_F(MessageWindow, CtrlAndEnterSendInEitherOrderAndAnyOtherKeyBetweenResets)
{
    TForm3 *ctrlFirst = open();
    QTest::keyClicks(ctrlFirst->inpu, u"hi"_s);
    QTest::keyClick(ctrlFirst->inpu, Qt::Key_Control);
    QTest::keyClick(ctrlFirst->inpu, Qt::Key_Return);
    EXPECT_FALSE(ctrlFirst->isVisible());

    TForm3 *enterFirst = open();
    QTest::keyClicks(enterFirst->inpu, u"hi"_s);
    QTest::keyClick(enterFirst->inpu, Qt::Key_Return);
    QTest::keyClick(enterFirst->inpu, Qt::Key_Control);

    TForm3 *held = open();
    QTest::keyClicks(held->inpu, u"hi"_s);
    QTest::keyClick(held->inpu, Qt::Key_Enter, Qt::ControlModifier);

    TForm3 *interrupted = open();
    QTest::keyClicks(interrupted->inpu, u"hi"_s);
    QTest::keyClick(interrupted->inpu, Qt::Key_Control);
    QTest::keyClick(interrupted->inpu, Qt::Key_X, Qt::NoModifier);
    QTest::keyClick(interrupted->inpu, Qt::Key_Return);
    EXPECT_TRUE(interrupted->isVisible());
    QTest::keyClick(interrupted->inpu, Qt::Key_Return, Qt::ControlModifier);

    TForm3 *empty = open();
    QTest::keyClick(empty->inpu, Qt::Key_Control);
    QTest::keyClick(empty->inpu, Qt::Key_Return);
    EXPECT_EQ(peer.prompts.texts(), QStringList{u"不能发送空消息！"_s});
    EXPECT_TRUE(empty->isVisible());
    // The Enter went on to type a line break: a bare line break is a message.
    QTest::keyClick(empty->inpu, Qt::Key_Return, Qt::ControlModifier);

    EXPECT_EQ(received(5), (QList<QByteArray>{"1hi", "1hi\r\n", "1hi", "1hix\r\n", "1\r\n"}));
    EXPECT_TRUE(peer.reporter.errors.isEmpty());
}

TEST_F(MessageWindow, TheInputTakesAtMost200BytesTypedOrPasted)
{
    TForm3 *w = open();
    EXPECT_EQ(w->inpu->toolTip(), u"Ctrl+Enter 发送消息"_s);
    typeKeys(w->inpu, Han.repeated(100));
    typeKeys(w->inpu, u"a"_s);
    paste(w->inpu, u"bc"_s);
    EXPECT_EQ(w->inpu->toPlainText(), Han.repeated(100));
    QTest::keyClick(w->inpu, Qt::Key_Backspace);
    paste(w->inpu, u"b中c"_s);                // 199 bytes with the "b": the rest is cut
    QTest::keyClick(w->inpu, Qt::Key_Return); // a line break is CR LF, two bytes
    typeKeys(w->inpu, u"z"_s);
    EXPECT_EQ(w->inpu->toPlainText(), Han.repeated(99) + u"bz"_s);
    QTest::keyClick(w->inpu, Qt::Key_Return, Qt::ControlModifier);
    const QList<QByteArray> datagrams = received(1);
    ASSERT_EQ(datagrams.size(), 1);
    EXPECT_EQ(datagrams.first().size(), 201);
    EXPECT_EQ(datagrams.first(), "1" + Gbk::encode(Han.repeated(99)) + "bz");
}

TEST_F(MessageWindow, StyleControlsChangeOnlyTheDisplayPaneAndSendingKeepsItsStyle)
{
    DisplayStyle style = DisplayStyle::initial();
    style.font.setFamily(u"DejaVu Serif"_s);
    style.background = Qt::yellow;
    peer.form2->sf = style;
    TForm3 *w = open();
    EXPECT_EQ(w->mess->font().family(), u"DejaVu Serif"_s);
    EXPECT_EQ(w->mess->palette().color(QPalette::Base), QColor(Qt::yellow));
    EXPECT_EQ(w->zt->currentText(), u"DejaVu Serif"_s);
    EXPECT_TRUE(peer.prompts.texts(u"font"_s).isEmpty()) << "set by the window: no dialog";

    w->b->click();
    w->u->click();
    w->zts->setCurrentIndex(9); // Red
    emit w->zts->activated(9);
    w->zh->setCurrentIndex(11);
    emit w->zh->textActivated(w->zh->currentText());
    EXPECT_TRUE(w->mess->font().bold() && w->mess->font().underline() && !w->mess->font().italic());
    EXPECT_EQ(w->mess->font().pointSize(), 20);
    EXPECT_EQ(w->mess->palette().color(QPalette::Text), QColor(Qt::red));
    EXPECT_FALSE(w->inpu->font().bold());
    QTest::keyClick(w->zh, Qt::Key_5);
    EXPECT_EQ(w->zh->currentText(), u"12"_s) << "typed sizes never stay";
    EXPECT_EQ(w->mess->font().pointSize(), 20);
    QGuiApplication::clipboard()->setText(u"ab"_s);
    w->zh->lineEdit()->selectAll();
    w->zh->lineEdit()->paste();
    EXPECT_EQ(peer.reporter.errors, QStringList{u"'ab' is not a valid integer value"_s});
    EXPECT_EQ(w->mess->font().pointSize(), 20);

    // A window closed without sending keeps its style to itself; one that sends hands it on.
    w->close();
    EXPECT_EQ(open()->mess->font().family(), u"DejaVu Serif"_s);
    EXPECT_FALSE(open()->mess->font().bold());
    peer.prompts.fontAnswers = {QFont(u"DejaVu Sans Mono"_s, 16)};
    TForm3 *sender = open();
    QTest::keyClicks(sender->zt->lineEdit(), u"x"_s);
    EXPECT_EQ(peer.prompts.shown.last().text, u"MS Sans Serif"_s) << "the dialog starts from its own font";
    EXPECT_EQ(sender->zt->currentText(), u"DejaVu Sans Mono"_s);
    EXPECT_EQ(sender->mess->font().family(), u"DejaVu Sans Mono"_s);
    sender->inpu->setPlainText(u"hi"_s);
    sender->fs->click();
    EXPECT_EQ(open()->mess->font().family(), u"DejaVu Sans Mono"_s);
    EXPECT_EQ(open()->mess->font().pointSize(), 16);
}

// The display pane of a received message mirrors the input only when a key changed it: keys
// that change nothing leave the message on screen, and typing still shows as it is typed.
TEST_F(MessageWindow, OnlyKeysThatChangeTheInputReplaceTheShownMessage)
{
    struct Keys {
        const char *what;
        std::function<void(QWidget *)> press;
        QString shown;
    };
    const std::array<Keys, 10> cases{{
        {"Ctrl", [](QWidget *w) { QTest::keyClick(w, Qt::Key_Control); }, u"来信"_s},
        {"Shift", [](QWidget *w) { QTest::keyClick(w, Qt::Key_Shift); }, u"来信"_s},
        {"Alt", [](QWidget *w) { QTest::keyClick(w, Qt::Key_Alt); }, u"来信"_s},
        {"the Alt of Alt+Tab, released after switching back",
         [](QWidget *w) {
             QTest::keyPress(w, Qt::Key_Alt);
             QTest::keyRelease(w, Qt::Key_Alt, Qt::AltModifier);
         },
         u"来信"_s},
        {"a key released as the window opens", [](QWidget *w) { QTest::keyRelease(w, Qt::Key_Return); },
         u"来信"_s},
        {"Ctrl+A and the arrows",
         [](QWidget *w) {
             QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
             QTest::keyClick(w, Qt::Key_Left);
             QTest::keyClick(w, Qt::Key_End);
         },
         u"来信"_s},
        {"typing", [](QWidget *w) { QTest::keyClicks(w, u"ab"_s); }, u"ab"_s},
        {"typing, then Ctrl and Shift",
         [](QWidget *w) {
             QTest::keyClicks(w, u"ab"_s);
             QTest::keyClick(w, Qt::Key_Control);
             QTest::keyClick(w, Qt::Key_Shift);
         },
         u"ab"_s},
        {"typing and erasing it again",
         [](QWidget *w) {
             QTest::keyClicks(w, u"a"_s);
             QTest::keyClick(w, Qt::Key_Backspace);
         },
         QString()},
        {"pasting", [](QWidget *w) { paste(w, u"粘贴"_s); }, u"粘贴"_s},
    }};
    for (const Keys &keys : cases) {
        SCOPED_TRACE(keys.what);
        TForm3 *w = open();
        ASSERT_EQ(w->mess->toPlainText(), u"来信"_s);
        keys.press(w->inpu);
        EXPECT_EQ(w->mess->toPlainText(), keys.shown);
        w->close();
    }
    EXPECT_TRUE(peer.reporter.errors.isEmpty());
}

TEST_F(MessageWindow, TheHistoryButtonTogglesTheHistoryAndSendingHidesIt)
{
    TForm3 *w = open();
    EXPECT_EQ(w->frameGeometry().height(), 280) << "outer height";
    EXPECT_EQ(w->width(), 392);
    w->Button1->click();
    EXPECT_EQ(w->frameGeometry().height(), 450) << "outer height";
    EXPECT_EQ(w->Panel2->height(), 170);
    w->Button1->click();
    EXPECT_EQ(w->frameGeometry().height(), 280) << "outer height";
    EXPECT_EQ(w->Panel2->height(), 0);
    w->Button1->click();
    w->fs->click(); // empty: refused, and the history is hidden all the same
    EXPECT_EQ(w->frameGeometry().height(), 280) << "outer height";
    EXPECT_TRUE(w->isVisible());
}

} // namespace
