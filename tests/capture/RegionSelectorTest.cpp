#include "SyntheticInput.h"
#include "TestSupport.h"
#include "capture/RegionSelector.h"
#include "fakes/FakeKeyGrabber.h"
#include "fakes/FakePlatform.h"
#include "hotkeys/HotKeyCombo.h"
#include "platform/linux/QtScreens.h"
#include "platform/linux/X11KeyGrabber.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

using TestSupport::waitUntil;
using Outcome = std::optional<std::optional<RegionSelection>>;

namespace {

QCoro::Task<> collect(RegionSelector &selector, Outcome &outcome)
{
    outcome = co_await selector.selectRegion();
}

ScreenInfo screen(quint32 id, QRect frame, qreal scale = 1, bool online = true)
{
    ScreenInfo info;
    info.displayID = id;
    info.frame = frame;
    info.visibleArea = frame;
    info.scale = scale;
    info.online = online;
    return info;
}

void sendMouse(QWidget *view, QEvent::Type type, QPointF at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, view->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &event);
}

int visibleTopLevels()
{
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        count += widget->isVisible() ? 1 : 0;
    return count;
}

} // namespace

TEST(RegionSelector, CoversScreensWithAnIdOnlineAndWithPixels)
{
    const ScreenInfo good = screen(7, {0, 0, 1920, 1080});
    const ScreenInfo noId = screen(0, {1920, 0, 800, 600});
    const ScreenInfo offline = screen(8, {0, 1080, 800, 600}, 1, false);
    const ScreenInfo empty = screen(9, {0, 0, 0, 0});
    const ScreenInfo tooSmallForAPixel = screen(10, {0, 0, 1, 1}, 0.5);
    EXPECT_EQ(RegionSelector::connectedScreens({noId, good, offline, empty, tooSmallForAPixel}), QList<ScreenInfo>{good});
    // When nothing qualifies, every screen is covered.
    const QList<ScreenInfo> none{noId, offline, empty};
    EXPECT_EQ(RegionSelector::connectedScreens(none), none);
}

TEST(RegionSelector, SizeLabelSitsBelowTheRectangleUnlessTheBottomIsNear)
{
    const QSizeF text(60, 14);
    // 8 points in from the right edge and 8 points below the lower edge.
    EXPECT_EQ(RegionSelector::sizeLabelRect(QRectF(100, 100, 200, 100), text, 1080), QRectF(232, 208, 60, 14));
    // A rectangle ending 3 points above the bottom: inside, 8 points above its lower edge.
    EXPECT_EQ(RegionSelector::sizeLabelRect(QRectF(100, 977, 200, 100), text, 1080), QRectF(232, 1055, 60, 14));
    // Exactly 4 points of room is still enough.
    EXPECT_EQ(RegionSelector::sizeLabelRect(QRectF(0, 0, 100, 1054), text, 1080), QRectF(32, 1062, 60, 14));

    EXPECT_EQ(RegionSelector::sizeLabelText({200, 100}, 2), QStringLiteral("400 × 200"));
    EXPECT_EQ(RegionSelector::sizeLabelText({100.7, 8.9}, 1), QStringLiteral("100 × 8"));
}

TEST(RegionSelector, DragsDecideBetweenASelectionAndNothing)
{
    FakeScreens screens;
    screens.list = {screen(11, {0, 0, 640, 480}), screen(12, {640, 0, 400, 300})};
    FakeKeyGrabber keys;
    RegionSelector selector(screens, keys);

    const struct {
        const char *name;
        QPointF from;
        QList<QPointF> through;
        std::optional<QRectF> expected;
    } cases[] = {
        {"down-right", {10, 20}, {{50, 50}, {110, 70}}, QRectF(10, 20, 100, 50)},
        {"up-left gives the same", {110, 70}, {{50, 50}, {10, 20}}, QRectF(10, 20, 100, 50)},
        {"8 x 8 is enough", {5, 5}, {{13, 13}}, QRectF(5, 5, 8, 8)},
        {"7.9 wide is not", {5, 5}, {{12.9, 105}}, std::nullopt},
        {"plain click", {30, 30}, {}, std::nullopt},
        {"leaving the screen stops at its edge", {300, 200}, {{700, -50}}, QRectF(300, 0, 100, 200)},
    };
    for (const auto &c : cases) {
        Outcome outcome;
        auto task = collect(selector, outcome);
        const QList<QWidget *> overlays = selector.overlays();
        ASSERT_EQ(overlays.size(), 2) << c.name;
        EXPECT_EQ(overlays[1]->geometry(), QRect(640, 0, 400, 300));
        QWidget *view = overlays[1];
        sendMouse(view, QEvent::MouseButtonPress, c.from);
        for (const QPointF &point : c.through)
            sendMouse(view, QEvent::MouseMove, point);
        sendMouse(view, QEvent::MouseButtonRelease, c.through.isEmpty() ? c.from : c.through.last());
        ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); })) << c.name;
        if (c.expected)
            EXPECT_EQ(*outcome, RegionSelection({12, *c.expected})) << c.name;
        else
            EXPECT_EQ(*outcome, std::nullopt) << c.name;
        EXPECT_FALSE(selector.isOpen());
        EXPECT_FALSE(keys.holds(HotKeyCombo::escapeKeyCode, 0)) << c.name;
    }
    EXPECT_TRUE(waitUntil([] { return visibleTopLevels() == 0; }));
}

TEST(RegionSelector, SecondRequestAnswersNothingAndEscapeEndsTheFirst)
{
    FakeScreens screens;
    screens.list = {screen(11, {0, 0, 640, 480})};
    FakeKeyGrabber keys;
    RegionSelector selector(screens, keys);

    Outcome first;
    auto firstTask = collect(selector, first);
    Outcome second;
    auto secondTask = collect(selector, second);
    ASSERT_TRUE(waitUntil([&] { return second.has_value(); }));
    EXPECT_EQ(*second, std::nullopt);
    EXPECT_FALSE(first.has_value());
    ASSERT_EQ(selector.overlays().size(), 1);

    // Escape typed into the overlay itself.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(selector.overlays().first(), &escape);
    ASSERT_TRUE(waitUntil([&] { return first.has_value(); }));
    EXPECT_EQ(*first, std::nullopt);

    // Escape caught system-wide; a later mouse-up finds the selector idle.
    Outcome third;
    auto thirdTask = collect(selector, third);
    QWidget *view = selector.overlays().first();
    sendMouse(view, QEvent::MouseButtonPress, {10, 10});
    sendMouse(view, QEvent::MouseMove, {100, 100});
    keys.press(HotKeyCombo::escapeKeyCode, 0);
    ASSERT_TRUE(waitUntil([&] { return third.has_value(); }));
    EXPECT_EQ(*third, std::nullopt);
}

TEST(RegionSelector, NoScreensAnswersNothing)
{
    FakeScreens screens;
    FakeKeyGrabber keys;
    RegionSelector selector(screens, keys);
    Outcome outcome;
    auto task = collect(selector, outcome);
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }));
    EXPECT_EQ(*outcome, std::nullopt);
    EXPECT_TRUE(keys.live.isEmpty());
}

// Under the two-screen test X server, with real windows and real input.
class RegionSelectorOnX : public ::testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_DISPLAY();
        ASSERT_EQ(QGuiApplication::screens().size(), 2);
        for (const ScreenInfo &info : qtScreens.screens()) {
            if (info.frame.x() >= 1920)
                right = info;
        }
        ASSERT_EQ(right.frame, QRect(1920, 0, 1280, 720));
    }

    void open(Outcome &outcome, std::optional<QCoro::Task<>> &task)
    {
        task.emplace(collect(selector, outcome));
        ASSERT_EQ(selector.overlays().size(), 2);
        ASSERT_TRUE(waitUntil([&] {
            for (QWidget *overlay : selector.overlays()) {
                if (!overlay->windowHandle() || !overlay->windowHandle()->isExposed())
                    return false;
            }
            return true;
        }));
    }

    QtScreens qtScreens;
    X11KeyGrabber keys;
    RegionSelector selector{qtScreens, keys};
    ScreenInfo right;
};

TEST_F(RegionSelectorOnX, DragOnTheRightScreenIsRelativeToItsTopLeft)
{
    QScreen *rightScreen = QGuiApplication::screenAt(QPoint(2000, 100));
    ASSERT_NE(rightScreen, nullptr);
    const quint32 rightId = QtScreens::displayIdForOutput(rightScreen->name());

    const struct {
        const char *name;
        QPoint from;
        QPoint to;
    } drags[] = {
        {"forward", {2020, 50}, {2320, 250}},
        {"reverse", {2320, 250}, {2020, 50}},
    };
    for (const auto &drag : drags) {
        Outcome outcome;
        std::optional<QCoro::Task<>> task;
        open(outcome, task);
        const QPoint middle = (drag.from + drag.to) / 2;
        ASSERT_TRUE(SyntheticInput::drag(drag.from, {middle, drag.to}));
        ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); })) << drag.name;
        EXPECT_EQ(*outcome, RegionSelection({rightId, QRectF(100, 50, 300, 200)})) << drag.name;
    }
    EXPECT_NE(rightId, QtScreens::displayIdForOutput(QGuiApplication::screenAt(QPoint(100, 100))->name()));
}

TEST_F(RegionSelectorOnX, SmallDragsAndClicksCancel)
{
    const QList<QPoint> ends{{2107, 300}, {2100, 100}};
    for (const QPoint &end : ends) {
        Outcome outcome;
        std::optional<QCoro::Task<>> task;
        open(outcome, task);
        // 7 points wide (or nothing at all): cancelled.
        ASSERT_TRUE(SyntheticInput::drag({2100, 100}, {end}));
        ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }));
        EXPECT_EQ(*outcome, std::nullopt);
    }
    Outcome outcome;
    std::optional<QCoro::Task<>> task;
    open(outcome, task);
    ASSERT_TRUE(SyntheticInput::click({400, 400}));
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }));
    EXPECT_EQ(*outcome, std::nullopt);
}

TEST_F(RegionSelectorOnX, EscapeCancelsWhileAnotherWindowHasTheKeyboard)
{
    QWidget other;
    other.setWindowTitle(QStringLiteral("elsewhere"));
    other.setGeometry(200, 200, 300, 200);
    other.show();
    ASSERT_TRUE(waitUntil([&] { return other.windowHandle()->isExposed(); }));

    Outcome outcome;
    std::optional<QCoro::Task<>> task;
    open(outcome, task);
    ASSERT_TRUE(SyntheticInput::xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(other.winId())}));
    ASSERT_TRUE(waitUntil([&] { return other.isActiveWindow(); }));
    ASSERT_TRUE(SyntheticInput::key(QStringLiteral("Escape")));
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }));
    EXPECT_EQ(*outcome, std::nullopt);
    other.close();

    // Nothing is left behind: no overlay, no grab of Escape.
    EXPECT_TRUE(waitUntil([] { return visibleTopLevels() == 0; }));
    EXPECT_EQ(keys.registerHotKey(HotKeyCombo::escapeKeyCode, 0, HotKeyId{1, 1}).status, 0);
}
