#include "tests/ui/Conversation.h"
#include "ui/ColorBox.h"

#include <QApplication>
#include <QProxyStyle>
#include <QScrollBar>
#include <QSet>
#include <QStyleFactory>
#include <QStyleOptionComplex>

using namespace Qt::Literals::StringLiterals;

namespace {

// The application's style, noting the palette of every scroll bar it draws.
class ScrollBarPalettes : public QProxyStyle {
public:
    explicit ScrollBarPalettes(const QString &base) : QProxyStyle(QStyleFactory::create(base)) {}

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget) const override
    {
        if (control == CC_ScrollBar) {
            ++drawn;
            paletteKeys.insert(option->palette.cacheKey());
        }
        QProxyStyle::drawComplexControl(control, option, painter, widget);
    }

    mutable int drawn = 0;
    mutable QSet<qint64> paletteKeys;
};

// A started peer whose display style has colours of its own, drawn in a recording style.
class SharedDrawing : public ::testing::Test {
protected:
    SharedDrawing() : styleName(QApplication::style()->name())
    {
        DisplayStyle style = DisplayStyle::initial();
        style.color = Qt::red;
        style.background = Qt::yellow;
        peer.start();
        peer.form2->sf = style;
        recording = new ScrollBarPalettes(styleName);
        QApplication::setStyle(recording); // the application owns it from here
    }

    ~SharedDrawing() override { QApplication::setStyle(styleName); }

    TForm3 *openMessageWindow()
    {
        peer.form1->showMessageWindow(u"接收消息"_s, u"127.0.0.9"_s, u"陌生人"_s, u"一行\n"_s.repeated(30),
                                      true);
        return peer.form1->findChildren<TForm3 *>().last();
    }

    const QString styleName;
    TestPeer peer;
    ScrollBarPalettes *recording = nullptr;
};

} // namespace

// The style caches scroll-bar pixmaps under keys holding the palette's identity, and Qt's
// pixmap cache keeps every key it was given: a window whose scroll bars brought a palette
// identity of their own would leave its keys behind for good. Every window's scroll bars must
// share one palette.
TEST_F(SharedDrawing, ScrollBarsOfColouredPanesShareOnePaletteAcrossWindows)
{
    for (int n = 0; n < 2; ++n) {
        TForm3 *window = openMessageWindow();
        window->Button1->click(); // the history pane shows too
        ASSERT_EQ(window->mess->palette().color(QPalette::Base), QColor(Qt::yellow));
        ASSERT_EQ(window->mess->palette().color(QPalette::Text), QColor(Qt::red));
        ASSERT_TRUE(window->ltjl->isVisible());
        window->grab();
    }
    peer.form1->N7->trigger();
    TForm5 *view = peer.form2->chatRoomView();
    ASSERT_NE(view, nullptr);
    view->grab();
    peer.form1->N7->trigger();

    EXPECT_GE(recording->drawn, 5) << "two display panes, two history panes and the chat-room view";
    EXPECT_EQ(recording->paletteKeys, QSet<qint64>{QApplication::palette().cacheKey()});
}

TEST(ColorBoxSwatches, EveryEntryAndTheClosedBoxShowTheColourChosen)
{
    ColorBox box;
    ASSERT_EQ(box.count(), 16);
    for (int index = 0; index < box.count(); ++index) {
        const QImage swatch = box.itemIcon(index).pixmap(box.iconSize()).toImage();
        EXPECT_EQ(swatch.pixelColor(swatch.width() / 2, swatch.height() / 2),
                  box.itemData(index).value<QColor>())
            << box.itemText(index).toStdString();
    }
    box.setCurrentIndex(12); // Blue
    EXPECT_EQ(box.color(), QColor(0, 0, 255));
    const QImage shown = box.grab().toImage();
    bool blueShown = false;
    for (int y = 0; y < shown.height() && !blueShown; ++y)
        for (int x = 0; x < shown.width() && !blueShown; ++x)
            blueShown = shown.pixelColor(x, y) == QColor(0, 0, 255);
    EXPECT_TRUE(blueShown);
}
