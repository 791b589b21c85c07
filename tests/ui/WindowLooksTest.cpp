// What a person meets in the windows: where they open, where the keyboard goes, whether the
// texts fit and read under a dark palette, and the message window's layout.
#include "tests/support/RawUdpPeer.h"
#include "tests/support/Waits.h"
#include "tests/ui/Conversation.h"
#include "transfer/TForm6.h"
#include "transfer/TForm7.h"
#include "transfer/TransferWindows.h"
#include "ui/Cascade.h"
#include "ui/ColorBox.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QToolButton>

using namespace Qt::Literals::StringLiterals;

namespace {

double luminance(const QColor &color)
{
    const auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF())
        + 0.0722 * channel(color.blueF());
}

// The contrast ratio of text on a background, 1 to 21; 4.5 reads as normal text.
double contrast(const QWidget *pane)
{
    const double a = luminance(pane->palette().color(QPalette::Text));
    const double b = luminance(pane->palette().color(QPalette::Base));
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

class Windows : public ::testing::Test {
protected:
    Windows()
    {
        peer.storeNickname(u"阿明"_s);
        peer.start();
    }

    TForm3 *arrive(const QString &text = u"你好"_s)
    {
        peer.form1->showMessageWindow(u"接收消息"_s, u"127.0.0.9"_s, u"陌生人"_s, text, true);
        return peer.form1->findChildren<TForm3 *>().last();
    }

    TestPeer peer;
};

TEST_F(Windows, AMessageFromTheNetworkLeavesTheKeyboardWhereThePersonTypes)
{
    peer.form1->store().adduser(Gbk::encode(u"小红"_s), u"127.0.0.9"_s, 1);
    peer.form1->buddyListChanged(peer.form1->store().buddyEntries());
    peer.form1->userlist->setCurrentRow(0);
    peer.form1->userlistDblClick();
    TForm3 *typing = peer.form1->findChildren<TForm3 *>().last();
    typing->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(typing));
    EXPECT_EQ(typing->focusWidget(), typing->inpu) << "a window the person opened focuses its input box";

    TForm3 *arrived = arrive();
    // The offscreen platform activates every window it shows; under a window manager the
    // screenshot script shows the typing window keeping the keyboard.
    EXPECT_TRUE(arrived->testAttribute(Qt::WA_ShowWithoutActivating));
}

TEST_F(Windows, MessageWindowsCascadeAndStayOnTheScreen)
{
    const QRect available = peer.form1->screen()->availableGeometry();
    // More windows than one host may open in a minute: the cascade itself is under test here.
    peer.form1->messageWindowBudget().setLimit(40);
    QPoint previous(-1, -1);
    for (int n = 0; n < 40; ++n) {
        TForm3 *window = arrive();
        const QRect frame = window->frameGeometry();
        EXPECT_TRUE(available.contains(frame)) << n;
        EXPECT_NE(frame.topLeft(), previous) << n;
        previous = frame.topLeft();
    }

    // Whatever the scale and screen: every window inside the area, and the windows of a burst
    // each at a place of its own, also where the first one leaves no room for a second step
    // (1280x800 at twice the scale).
    struct Case {
        const char *name;
        QRect area;
        QSize frame;
    };
    for (const Case &c : {Case{"1280x800 at scale 2", QRect(0, 0, 640, 400), QSize(394, 291)},
                          Case{"a window that fills the area", QRect(0, 0, 400, 300), QSize(392, 300)},
                          Case{"1280x800 at scale 1.5", QRect(0, 0, 853, 533), QSize(394, 291)},
                          Case{"1280x800 at scale 1, off the origin", QRect(100, 50, 1280, 800), QSize(392, 310)}}) {
        Cascade cascade(QPoint(266, 68));
        QList<QPoint> corners;
        for (int n = 0; n < 100; ++n) {
            const QPoint at = cascade.next(c.frame, c.area);
            EXPECT_TRUE(c.area.contains(QRect(at, c.frame))) << c.name << ", window " << n;
            // Where the area leaves less room than the rounds shift, windows cannot all differ.
            if (n < 8 && c.area.width() - c.frame.width() > Cascade::MaxRoundShift + Cascade::RoundingSlack) {
                EXPECT_FALSE(corners.contains(at)) << c.name << ", window " << n << " covers an earlier one";
                corners << at;
            }
        }
    }
}

TEST_F(Windows, TheSettingsWindowOfAFirstStartFocusesTheNameBox)
{
    TestPeer fresh(u"127.0.0.4"_s);
    fresh.start();
    EXPECT_EQ(fresh.form2->focusWidget(), fresh.form2->myname);
}

TEST_F(Windows, EveryPaneWithAColourOfOurOwnReadsUnderADarkPalette)
{
    const QPalette light = QApplication::palette();
    QPalette dark;
    for (auto [role, color] : {std::pair{QPalette::Window, QColor(45, 45, 45)},
                               {QPalette::WindowText, Qt::white},
                               {QPalette::Base, QColor(30, 30, 30)},
                               {QPalette::Text, QColor(240, 240, 240)},
                               {QPalette::Button, QColor(53, 53, 53)},
                               {QPalette::ButtonText, Qt::white}})
        dark.setColor(role, color);
    QApplication::setPalette(dark);
    {
        TestPeer night(u"127.0.0.4"_s);
        night.storeNickname(u"阿明"_s);
        night.start();
        night.form2->autopop->setChecked(false); // the chat-room view
        night.form1->showMessageWindow(u"接收消息"_s, u"127.0.0.9"_s, u"陌生人"_s, u"你好"_s, true);
        TForm3 *window = night.form1->findChildren<TForm3 *>().last();
        window->Button1->click();
        EXPECT_GE(contrast(night.form1->userlist), 4.5);
        EXPECT_GE(contrast(night.form2->chatRoomView()->lts), 4.5);
        EXPECT_GE(contrast(window->mess), 4.5);
        EXPECT_GE(contrast(window->inpu), 4.5);
        EXPECT_GE(contrast(window->ltjl), 4.5);
        EXPECT_GE(contrast(window->ip), 4.5);
    }
    QApplication::setPalette(light);
}

TEST_F(Windows, TheMessageWindowHasNoEmptyBandsAndItsToolbarShowsTheStyle)
{
    TForm2 &settings = *peer.form2;
    settings.sf.font.setPointSize(20);
    settings.sf.font.setBold(true);
    settings.sf.font.setUnderline(true);
    settings.sf.color = Qt::red;
    settings.sf.background = Qt::yellow;
    TForm3 *w = arrive();
    EXPECT_EQ(w->zh->currentText(), u"20"_s);
    EXPECT_TRUE(w->b->isChecked());
    EXPECT_FALSE(w->i->isChecked());
    EXPECT_TRUE(w->u->isChecked());
    EXPECT_EQ(w->zts->color(), QColor(Qt::red));
    EXPECT_EQ(w->bgs->color(), QColor(Qt::yellow));
    const QRect font = w->zt->lineEdit()->geometry();
    EXPECT_GE(font.width(), w->zt->lineEdit()->fontMetrics().horizontalAdvance(u"Microsoft Sans Serif"_s));

    const auto below = [w](QWidget *control) {
        return w->height() - control->mapTo(w, QPoint(0, control->height())).y();
    };
    EXPECT_LE(below(w->fs), 6) << "under the buttons";
    w->Button1->click();
    EXPECT_LE(w->Panel2->mapTo(w, QPoint(0, 0)).y() - w->fs->mapTo(w, QPoint(0, w->fs->height())).y(), 4)
        << "above the history";
    EXPECT_LE(below(w->Panel2), 3);
}

TEST_F(Windows, TheInputBoxScrollsWithAThumbAndTellsOfACutPasteOnce)
{
    TForm3 *w = arrive();
    QGuiApplication::clipboard()->setText(QString(150, u'中'));
    QTest::keyClick(w->inpu, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(w->inpu->toPlainText(), QString(100, u'中'));
    EXPECT_TRUE(w->inpu->toolTip().contains(u"超出的部分已截去"_s));

    QScrollBar *bar = w->inpu->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = Qt::Vertical;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.pageStep = bar->pageStep();
    option.sliderPosition = option.sliderValue = bar->value();
    const QRect thumb = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                     QStyle::SC_ScrollBarSlider, bar);
    const int least = std::min(bar->height(),
                               bar->style()->pixelMetric(QStyle::PM_ScrollBarSliderMin, &option, bar));
    EXPECT_GE(thumb.height(), least);
    EXPECT_TRUE(bar->rect().contains(thumb));
}

TEST_F(Windows, ChatRoomEntriesOfStrangersAreSignedAsStrangers)
{
    RawUdpPeer raw(u"127.0.0.3"_s);
    peer.form2->autopop->setChecked(false);
    raw.send(peer.ip(), "1" + Gbk::encode(u"路过"_s));
    ASSERT_EVENTUALLY(peer.form2->chatRoomView()->lts->toPlainText().contains(u"路过"_s));
    EXPECT_TRUE(peer.form2->chatRoomView()->lts->toPlainText().startsWith(u"陌生人:["_s))
        << peer.form2->chatRoomView()->lts->toPlainText().toStdString();
}

TEST_F(Windows, TheMainWindowsCaptionIsReadableWholeInItsStatusBar)
{
    peer.form1->N12Click();
    EXPECT_TRUE(peer.form1->ztPanel0->toolTip().contains(peer.form1->windowTitle().toHtmlEscaped()));
}

// The file windows with the longest values: 2 GiB - 1 bytes and a buddy of 20 bytes.
TEST_F(Windows, TheFileWindowsGiveTheirLongestTextsRoom)
{
    const QString name = QString(10, u'字');
    peer.form1->store().adduser(Gbk::encode(name), u"127.0.0.9"_s, 1);
    const QString offer = u"2147483647Byte "_s + QString(60, u'长') + u".bin [备注：<h1>系统警告</h1>]"_s;
    peer.files->openReceiveFileWindow(2147483647, offer, u"127.0.0.9"_s);
    TForm7 *receiving = peer.files->receiveWindows().last();
    EXPECT_EQ(receiving->offerView->toPlainText(), offer) << "the whole offer, as written";
    EXPECT_TRUE(receiving->ztPanel0->text().contains(name)) << receiving->ztPanel0->text().toStdString();
    const auto fits = [](QLabel *label) {
        return label->textFormat() == Qt::PlainText
            && label->width() >= label->fontMetrics().horizontalAdvance(label->text());
    };
    EXPECT_TRUE(fits(receiving->ztPanel0));
    receiving->showProgress(20000000);
    EXPECT_TRUE(fits(receiving->ztPanel0)) << receiving->ztPanel0->text().toStdString();
    EXPECT_TRUE(fits(receiving->ztPanel1));
    EXPECT_EQ(receiving->jsjd->text(), u"19.1 MB / 2.0 GB"_s);
    receiving->showProgress(2147483647);
    EXPECT_TRUE(fits(receiving->ztPanel0)) << receiving->ztPanel0->text().toStdString();
    const QRect offerShown = receiving->offerView->geometry();
    EXPECT_TRUE(receiving->rect().contains(offerShown));
    EXPECT_EQ(receiving->offerView->horizontalScrollBar()->maximum(), 0) << "wrapped, not cut";

    peer.files->openSendFileWindow(u"127.0.0.9"_s);
    TForm6 *sending = peer.files->sendWindow();
    sending->ztPanel1->setText(u"正在传送数据"_s);
    EXPECT_TRUE(fits(sending->ztPanel1));
}

TEST_F(Windows, CancellingTheFileChooserLeavesSendUsable)
{
    peer.files->openSendFileWindow(u"127.0.0.9"_s);
    TForm6 *sending = peer.files->sendWindow();
    sending->Button1->click(); // the chooser answers nothing
    EXPECT_TRUE(sending->Button1->isEnabled());
    peer.prompts.openAnswers << peer.dir.path() + u"/none.bin"_s;
    sending->Button1->click(); // a file that cannot be read
    EXPECT_TRUE(sending->Button1->isEnabled());
}

// The About tab shows the machine's LAN addresses. The test namespace has only its loopback,
// so the test gives it a LAN interface of its own, a veth pair (and skips where it may not).
TEST_F(Windows, TheAboutTabShowsTheAddressesOfTheLanInterfaces)
{
    const QString added = TForm2::ownAddresses().isEmpty() ? u"10.77.1.2"_s : QString();
    const auto ip = [](const QStringList &arguments) { return QProcess::execute(u"ip"_s, arguments) == 0; };
    if (!added.isEmpty()
        && !(ip({u"link"_s, u"add"_s, u"tlv0"_s, u"type"_s, u"veth"_s, u"peer"_s, u"name"_s, u"tlv1"_s})
             && ip({u"addr"_s, u"add"_s, added + u"/24"_s, u"dev"_s, u"tlv0"_s})
             && ip({u"link"_s, u"set"_s, u"tlv1"_s, u"up"_s})
             && ip({u"link"_s, u"set"_s, u"tlv0"_s, u"up"_s})))
        GTEST_SKIP() << "no interface can be added here";
    peer.form2->show();
    peer.form2->PageControl1->setCurrentWidget(peer.form2->about);
    const QString label = peer.form2->hostif->text();
    const QStringList own = TForm2::ownAddresses();
    if (!added.isEmpty())
        ip({u"link"_s, u"del"_s, u"tlv0"_s});
    EXPECT_FALSE(label.contains(u"127."_s)) << label.toStdString();
    for (const QString &address : own)
        EXPECT_TRUE(label.contains(address)) << label.toStdString();
    if (!added.isEmpty()) {
        EXPECT_TRUE(label.contains(added)) << label.toStdString();
    }
}

} // namespace
