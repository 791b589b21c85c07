// Message windows that arrive one after another, on a real X display under a window manager
// (tests/desktop/run.sh), at the scale factor and screen size the test is run with
// (QT_SCALE_FACTOR, TALVINO_DESKTOP_SCREEN): every window's frame stays on the screen, and no
// window covers another exactly. Strangers at five addresses write to B, so that each message
// opens a window of its own.
#include "core/Packet.h"
#include "tests/support/TestPeer.h"
#include "ui/TForm1.h"
#include "ui/TForm3.h"

#include <QDir>
#include <QScreen>
#include <QTest>
#include <QUdpSocket>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int Messages = 5;
constexpr int WindowMs = 5000;

QList<TForm3 *> shownWindows(const TestPeer &peer)
{
    QList<TForm3 *> shown;
    for (TForm3 *window : peer.form1->findChildren<TForm3 *>())
        if (window->isVisible())
            shown << window;
    return shown;
}

// Saves the whole screen as name under $SHOTS_DIR, when that is set.
void screenshot(const QString &name)
{
    const QString dir = qEnvironmentVariable("SHOTS_DIR");
    if (dir.isEmpty())
        return;
    QTest::qWait(600); // the window manager finishes drawing; only for the picture
    QGuiApplication::primaryScreen()->grabWindow(0).save(QDir(dir).filePath(name));
}

TEST(Cascade, ArrivingMessageWindowsStayOnTheScreenAndDoNotCoverEachOther)
{
    TestPeer b(u"127.0.0.3"_s);
    b.storeNickname(u"阿红"_s);
    b.start();
    ASSERT_TRUE(b.form1->receiving()) << "127.0.0.3:2928 is taken";
    QScreen *screen = b.form1->screen();
    ASSERT_NE(screen, nullptr);
    const QRect available = screen->availableGeometry();

    for (int i = 0; i < Messages; ++i) {
        QUdpSocket stranger;
        ASSERT_TRUE(stranger.bind(QHostAddress(u"127.0.0.%1"_s.arg(20 + i)), 0));
        stranger.writeDatagram(Packet::message(u"第 %1 条消息"_s.arg(i + 1)), QHostAddress(u"127.0.0.3"_s), 2928);
        ASSERT_TRUE(QTest::qWaitFor([&] { return shownWindows(b).size() == i + 1; }, WindowMs))
            << "message " << i + 1 << " opened no window";
    }
    // The window manager has framed and placed them all.
    QTest::qWait(500);
    screenshot(u"cascade-scale-%1-%2.png"_s.arg(qEnvironmentVariable("QT_SCALE_FACTOR", u"1"_s),
                                                 qEnvironmentVariable("TALVINO_DESKTOP_SCREEN", u"1024x768"_s)));

    const QList<TForm3 *> windows = shownWindows(b);
    ASSERT_EQ(windows.size(), Messages);
    QList<QPoint> corners;
    for (TForm3 *window : windows) {
        const QRect frame = window->frameGeometry();
        EXPECT_TRUE(available.contains(frame))
            << "frame (" << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height()
            << ") leaves the available area (" << available.x() << "," << available.y() << " "
            << available.width() << "x" << available.height() << ")";
        EXPECT_FALSE(corners.contains(frame.topLeft()))
            << "two windows at (" << frame.x() << "," << frame.y() << ")";
        corners << frame.topLeft();
    }
}

} // namespace
