#include "SyntheticInput.h"
#include "TestSupport.h"
#include "capture/CaptureFeedback.h"
#include "capture/CountdownOverlay.h"
#include "capture/RecordingBorder.h"
#include "fakes/FakeKeyGrabber.h"
#include "fakes/FakePlatform.h"
#include "hotkeys/HotKeyCombo.h"
#include "platform/linux/QtScreens.h"
#include "platform/linux/X11KeyGrabber.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

using TestSupport::waitUntil;

namespace {

ScreenInfo screen(quint32 id, QRect frame, QRect visible = {})
{
    ScreenInfo info;
    info.displayID = id;
    info.frame = frame;
    info.visibleArea = visible.isNull() ? frame : visible;
    return info;
}

const ScreenInfo leftScreen = screen(1, {0, 0, 1920, 1080}, {0, 0, 1920, 1040});
const ScreenInfo rightScreen = screen(2, {1920, 0, 1280, 720}, {1920, 30, 1280, 690});

QCoro::Task<> countdown(CountdownOverlay &overlay, quint32 displayID, std::optional<QRectF> rect, int seconds,
                        std::optional<bool> &answer)
{
    answer = co_await overlay.run(displayID, rect, seconds, false);
}

QList<QWidget *> visibleWindows()
{
    QList<QWidget *> found;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            found.append(widget);
    }
    return found;
}

} // namespace

TEST(CountdownOverlay, BadgePlacement)
{
    const struct {
        const char *name;
        ScreenInfo screen;
        std::optional<QRectF> rect;
        bool atCorner;
        QRect expected;
    } cases[] = {
        {"corner of a selection", leftScreen, QRectF(100, 100, 400, 300), true, {332, 108, 160, 160}},
        {"middle of a selection", leftScreen, QRectF(100, 100, 400, 300), false, {220, 170, 160, 160}},
        {"middle of a screen", rightScreen, std::nullopt, false, {2480, 280, 160, 160}},
        {"corner of the visible area", rightScreen, std::nullopt, true, {3032, 38, 160, 160}},
        {"corner of a selection on the right", rightScreen, QRectF(0, 0, 400, 300), true, {2152, 8, 160, 160}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CountdownOverlay::badgeGeometry(c.screen, c.rect, c.atCorner), c.expected) << c.name;
}

TEST(CountdownOverlay, CountsWholeSecondsDownAndAnswersTrue)
{
    FakeScreens screens;
    screens.list = {leftScreen, rightScreen};
    FakeKeyGrabber keys;
    CountdownOverlay overlay(screens, keys);
    const struct {
        int seconds;
        QStringList shown;
    } cases[] = {{3, {"3", "2", "1"}}, {1, {"1"}}, {0, {"1"}}};
    for (const auto &c : cases) {
        QStringList shown;
        const auto connection = QObject::connect(&overlay, &CountdownOverlay::digitChanged,
                                                 [&](const QString &digit) { shown.append(digit); });
        std::optional<bool> answer;
        auto task = countdown(overlay, 2, QRectF(0, 0, 400, 300), c.seconds, answer);
        ASSERT_NE(overlay.window(), nullptr);
        EXPECT_EQ(overlay.window()->geometry(), QRect(2040, 70, 160, 160));
        EXPECT_TRUE(keys.holds(HotKeyCombo::escapeKeyCode, 0));
        ASSERT_TRUE(waitUntil([&] { return answer.has_value(); }, 10000)) << c.seconds;
        EXPECT_TRUE(*answer);
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(overlay.window(), nullptr);
        EXPECT_FALSE(keys.holds(HotKeyCombo::escapeKeyCode, 0));
        QObject::disconnect(connection);
    }
}

TEST(CountdownOverlay, EscapeEndsItWithFalseBeforeTheNextDigit)
{
    FakeScreens screens;
    screens.list = {leftScreen};
    FakeKeyGrabber keys;
    CountdownOverlay overlay(screens, keys);
    QStringList shown;
    QObject::connect(&overlay, &CountdownOverlay::digitChanged, [&](const QString &digit) {
        shown.append(digit);
        if (digit == QStringLiteral("2"))
            keys.press(HotKeyCombo::escapeKeyCode, 0);
    });
    std::optional<bool> answer;
    auto task = countdown(overlay, 1, std::nullopt, 3, answer);
    ASSERT_TRUE(waitUntil([&] { return answer.has_value(); }, 10000));
    EXPECT_FALSE(*answer);
    EXPECT_EQ(shown, QStringList({"3", "2"}));
    EXPECT_EQ(overlay.window(), nullptr);
    EXPECT_TRUE(keys.live.isEmpty());

    // A display no screen has: true at once, nothing shown, nothing grabbed.
    std::optional<bool> missing;
    auto second = countdown(overlay, 99, std::nullopt, 3, missing);
    ASSERT_TRUE(waitUntil([&] { return missing.has_value(); }, 100));
    EXPECT_TRUE(*missing);
    EXPECT_EQ(shown.size(), 2);
    EXPECT_EQ(keys.registerCalls, 1);
}

TEST(RecordingBorder, RingLiesOutsideTheRectangle)
{
    // At the very edge of a display the ring reaches 3 points beyond it.
    EXPECT_EQ(RecordingBorder::windowGeometry(rightScreen, QRectF(0, 0, 100, 100)), QRect(1917, -3, 106, 106));
    EXPECT_EQ(RecordingBorder::windowGeometry(leftScreen, QRectF(10, 20, 300, 200)), QRect(7, 17, 306, 206));

    FakeScreens screens;
    screens.list = {leftScreen, rightScreen};
    RecordingBorder border(screens);
    border.show(99, QRectF(0, 0, 100, 100));
    EXPECT_EQ(border.window(), nullptr);
    border.show(2, QRectF(0, 0, 100, 100));
    ASSERT_NE(border.window(), nullptr);
    EXPECT_TRUE(border.window()->windowFlags().testFlag(Qt::WindowTransparentForInput));
    border.show(1, QRectF(10, 20, 300, 200));
    EXPECT_EQ(border.window()->geometry(), QRect(7, 17, 306, 206));
    EXPECT_EQ(visibleWindows().size(), 1);
    border.hide();
    EXPECT_EQ(border.window(), nullptr);
    EXPECT_TRUE(visibleWindows().isEmpty());
}

TEST(CaptureFeedback, ToastPlacementAndWidth)
{
    EXPECT_EQ(CaptureFeedback::toastWidth(100), 232);
    EXPECT_EQ(CaptureFeedback::toastGeometry(leftScreen, 300), QRect(1596, 938, 300, 78));
    EXPECT_EQ(CaptureFeedback::toastGeometry(rightScreen, 232), QRect(2944, 618, 232, 78));
}

TEST(CaptureFeedback, NewToastReplacesTheOldAtOnceAndFadesOnItsOwn)
{
    TestSupport::PrivateHome home;
    FakeScreens screens;
    screens.list = {leftScreen, rightScreen};
    CaptureFeedback feedback(screens);
    const QString picture = home.path() + QStringLiteral("/shot.png");
    QImage image(320, 200, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(picture));

    feedback.toast(QStringLiteral("Copied to clipboard"), picture, 2);
    const QPointer<QWidget> first = feedback.toastWindow();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->geometry(), CaptureFeedback::toastGeometry(rightScreen, first->width()));
    EXPECT_EQ(first->height(), 78);

    feedback.toastDuration = std::chrono::milliseconds(100);
    // A display no screen has puts the toast on the primary screen; an unreadable picture is no obstacle.
    feedback.toast(QStringLiteral("Text copied"), home.path() + QStringLiteral("/missing.png"), 99);
    const QPointer<QWidget> second = feedback.toastWindow();
    ASSERT_TRUE(second);
    EXPECT_TRUE(!first || !first->isVisible());
    EXPECT_EQ(second->geometry(), CaptureFeedback::toastGeometry(leftScreen, second->width()));
    EXPECT_LT(second->width(), first ? first->width() : 10000);
    EXPECT_TRUE(waitUntil([&] { return !second && !feedback.toastWindow(); }));

    FakeScreens noScreens;
    CaptureFeedback nowhere(noScreens);
    nowhere.toast(QStringLiteral("Copied to clipboard"), picture, 2);
    EXPECT_EQ(nowhere.toastWindow(), nullptr);
}

TEST(CaptureFeedback, FlashCoversTheAreaThenGoes)
{
    FakeScreens screens;
    screens.list = {leftScreen, rightScreen};
    CaptureFeedback feedback(screens);
    feedback.flash(99, QRectF(0, 0, 10, 10));
    EXPECT_TRUE(visibleWindows().isEmpty());
    feedback.flash(2, QRectF(100, 50, 300, 200));
    const QList<QWidget *> shown = visibleWindows();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0]->geometry(), QRect(2020, 50, 300, 200));
    EXPECT_TRUE(waitUntil([] { return visibleWindows().isEmpty(); }));
}

// Under the two-screen test X server.
class OverlaysOnX : public ::testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_DISPLAY();
        for (const ScreenInfo &info : qtScreens.screens()) {
            if (info.frame.x() >= 1920)
                right = info;
        }
        ASSERT_EQ(right.frame, QRect(1920, 0, 1280, 720));
    }
    QtScreens qtScreens;
    ScreenInfo right;
};

TEST_F(OverlaysOnX, BorderRingNeverCoversRecordedPixels)
{
    QWidget backdrop(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    backdrop.setAutoFillBackground(true);
    backdrop.setPalette(QPalette(Qt::white));
    backdrop.setGeometry(2000, 100, 400, 300);
    backdrop.show();

    RecordingBorder border(qtScreens);
    border.show(right.displayID, QRectF(180, 200, 200, 100)); // global (2100, 200)
    ASSERT_TRUE(waitUntil([&] {
        return backdrop.windowHandle()->isExposed() && border.window() && border.window()->windowHandle()->isExposed();
    }));
    TestSupport::spin(200);
    const QImage shot = QGuiApplication::screenAt(QPoint(2100, 200))->grabWindow(0).toImage();
    const auto at = [&](int x, int y) { return shot.pixelColor(x - 1920, y).rgb() & 0xffffff; };
    const QRgb blue = qRgb(7, 112, 252) & 0xffffff;
    const QRgb white = 0xffffff;
    // The ring, 0.5 to 3 points outside the rectangle.
    EXPECT_EQ(at(2098, 250), blue);
    EXPECT_EQ(at(2150, 301), blue);
    EXPECT_EQ(at(2301, 199), blue);
    // The recorded pixels themselves, and what lies beyond the ring.
    EXPECT_EQ(at(2100, 200), white);
    EXPECT_EQ(at(2299, 299), white);
    EXPECT_EQ(at(2200, 250), white);
    EXPECT_EQ(at(2096, 250), white);
    EXPECT_EQ(at(2150, 303), white);
}

TEST_F(OverlaysOnX, EscapeStopsTheCountdownWhileAnotherWindowHasTheKeyboard)
{
    X11KeyGrabber keys;
    CountdownOverlay overlay(qtScreens, keys);
    QWidget other;
    other.setGeometry(100, 100, 300, 200);
    other.show();
    ASSERT_TRUE(waitUntil([&] { return other.windowHandle()->isExposed(); }));
    ASSERT_TRUE(SyntheticInput::xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(other.winId())}));

    QStringList shown;
    QObject::connect(&overlay, &CountdownOverlay::digitChanged, [&](const QString &digit) { shown.append(digit); });
    std::optional<bool> answer;
    auto task = countdown(overlay, right.displayID, std::nullopt, 10, answer);
    ASSERT_NE(overlay.window(), nullptr);
    EXPECT_EQ(overlay.window()->geometry(), QRect(2480, 280, 160, 160));
    ASSERT_TRUE(waitUntil([&] { return shown.contains(QStringLiteral("9")); }, 5000));
    ASSERT_TRUE(SyntheticInput::key(QStringLiteral("Escape")));
    // Answered long before its ten seconds would end, without another digit.
    ASSERT_TRUE(waitUntil([&] { return answer.has_value(); }, 5000));
    EXPECT_FALSE(*answer);
    EXPECT_EQ(shown, QStringList({"10", "9"}));
    EXPECT_EQ(overlay.window(), nullptr);
}
