#include "SyntheticInput.h"
#include "TestSupport.h"
#include "capture/CameraBubble.h"
#include "fakes/FakeCameras.h"
#include "fakes/FakePlatform.h"
#include "platform/linux/QtCameras.h"
#include "platform/linux/QtScreens.h"

#include <QWidget>
#include <gtest/gtest.h>

using TestSupport::PrivateHome;
using TestSupport::waitUntil;

namespace {

ScreenInfo screen(quint32 id, QRect frame)
{
    ScreenInfo info;
    info.displayID = id;
    info.frame = frame;
    info.visibleArea = frame;
    return info;
}

const ScreenInfo leftScreen = screen(1, {0, 0, 1920, 1080});
const ScreenInfo rightScreen = screen(2, {1920, 0, 1280, 720});
const MediaDevice builtIn{QStringLiteral("/dev/video0"), QStringLiteral("Built-in Camera")};
const MediaDevice external{QStringLiteral("/dev/video2"), QStringLiteral("Desk Camera")};

QStringList bubbleLog(const PrivateHome &home)
{
    QStringList lines;
    for (const QString &line : home.readLog().split(QLatin1Char('\n'))) {
        const QString message = line.section(QLatin1Char(' '), 1);
        if (message.startsWith(QStringLiteral("camera bubble")))
            lines.append(message);
    }
    return lines;
}

} // namespace

TEST(CameraBubble, SitsInTheChosenCornerOfTheArea)
{
    const struct {
        const char *name;
        ScreenInfo screen;
        std::optional<QRectF> rect;
        QString corner;
        QRectF expected;
    } cases[] = {
        // 1200 × 800: 176 across, 32 in from the right and bottom edges.
        {"bottom right", leftScreen, QRectF(0, 0, 1200, 800), "br", {992, 592, 176, 176}},
        {"bottom left", leftScreen, QRectF(0, 0, 1200, 800), "bl", {32, 592, 176, 176}},
        {"unknown is bottom left", leftScreen, QRectF(0, 0, 1200, 800), "middle", {32, 592, 176, 176}},
        {"top left", leftScreen, QRectF(0, 0, 1200, 800), "tl", {32, 32, 176, 176}},
        {"top right on the right screen", rightScreen, QRectF(100, 100, 1000, 500), "tr", {1920 + 100 + 1000 - 20 - 110, 120, 110, 110}},
        {"whole display", rightScreen, std::nullopt, "br", {1920 + 1280 - 28.8 - 158.4, 720 - 28.8 - 158.4, 158.4, 158.4}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CameraBubble::bubbleGeometry(c.screen, c.rect, c.corner), c.expected) << c.name;
}

TEST(CameraBubble, ChoosesTheCameraAndLogsWhatHappened)
{
    const struct {
        const char *name;
        std::optional<QString> deviceID;
        QList<MediaDevice> devices;
        bool granted;
        QStringList unopenable;
        bool startSucceeds;
        QStringList opened;
        bool live;
        QString logLine;
    } cases[] = {
        {"the chosen camera", external.id, {builtIn, external}, true, {}, true, {external.id}, true, "camera bubble: Desk Camera"},
        {"unplugged: the default", QStringLiteral("/dev/video9"), {builtIn, external}, true, {}, true, {builtIn.id}, true,
         "camera bubble: Built-in Camera"},
        {"none chosen: the default", std::nullopt, {external, builtIn}, true, {}, true, {external.id}, true, "camera bubble: Desk Camera"},
        {"no camera at all", std::nullopt, {}, true, {}, true, {}, false, "camera bubble: no usable camera"},
        {"cannot be opened", std::nullopt, {builtIn}, true, {builtIn.id}, true, {builtIn.id}, false, "camera bubble: no usable camera"},
        {"session refuses it", std::nullopt, {builtIn}, true, {}, false, {builtIn.id}, false,
         "camera bubble: could not attach Built-in Camera"},
        {"access denied", std::nullopt, {builtIn}, false, {}, true, {}, false,
         "camera bubble: camera access denied — recording without it"},
    };
    for (const auto &c : cases) {
        PrivateHome home;
        FakeScreens screens;
        screens.list = {leftScreen, rightScreen};
        FakeCameras cameras;
        cameras.list = c.devices;
        cameras.access = c.granted;
        cameras.unopenable = c.unopenable;
        cameras.startSucceeds = c.startSucceeds;
        CameraBubble bubble(screens, cameras);

        bubble.show(2, QRectF(0, 0, 1200, 700), QStringLiteral("br"), c.deviceID);
        ASSERT_TRUE(waitUntil([&] { return cameras.accessRequests == 1 && (bubble.isLive() || !bubble.window()); })) << c.name;
        EXPECT_EQ(cameras.opened, c.opened) << c.name;
        EXPECT_EQ(bubble.isLive(), c.live) << c.name;
        EXPECT_EQ(bubble.window() != nullptr, c.live) << c.name;
        EXPECT_EQ(cameras.running.size(), c.live ? 1 : 0) << c.name;
        EXPECT_EQ(bubbleLog(home), QStringList{c.logLine}) << c.name;
        if (c.live) {
            EXPECT_EQ(bubble.window()->geometry(), QRect(1920 + 1200 - 28 - 154, 700 - 28 - 154, 154, 154));
            EXPECT_TRUE(bubble.window()->windowFlags().testFlag(Qt::WindowTransparentForInput));
            QImage picture(640, 480, QImage::Format_RGB32);
            picture.fill(Qt::green);
            cameras.running.first()->onFrame(picture);
        }
        bubble.hide();
        bubble.hide();
        EXPECT_EQ(bubble.window(), nullptr);
        EXPECT_TRUE(waitUntil([&] { return cameras.running.isEmpty(); })) << c.name;
    }
}

TEST(CameraBubble, CameraFailingLaterRemovesTheBubble)
{
    PrivateHome home;
    FakeScreens screens;
    screens.list = {leftScreen};
    FakeCameras cameras;
    cameras.list = {builtIn};
    CameraBubble bubble(screens, cameras);
    bubble.show(1, std::nullopt, QStringLiteral("tl"), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return bubble.isLive(); }));
    cameras.running.first()->onFailure(QStringLiteral("device unplugged"));
    EXPECT_FALSE(bubble.isLive());
    EXPECT_EQ(bubble.window(), nullptr);
    EXPECT_EQ(bubbleLog(home), QStringList({"camera bubble: Built-in Camera", "camera bubble: could not attach Built-in Camera"}));
    EXPECT_TRUE(waitUntil([&] { return cameras.running.isEmpty(); }));
}

TEST(CameraBubble, AnAnswerArrivingAfterHideConfiguresNothing)
{
    PrivateHome home;
    FakeScreens screens;
    screens.list = {leftScreen};
    FakeCameras cameras;
    cameras.list = {builtIn};
    cameras.access.reset();
    CameraBubble bubble(screens, cameras);

    bubble.show(1, std::nullopt, QStringLiteral("br"), std::nullopt);
    ASSERT_NE(bubble.window(), nullptr); // the black circle, before any answer
    EXPECT_FALSE(bubble.isLive());
    bubble.hide();
    cameras.answer(true);
    TestSupport::spin(50);
    EXPECT_EQ(bubble.window(), nullptr);
    EXPECT_TRUE(cameras.opened.isEmpty());
    EXPECT_TRUE(bubbleLog(home).isEmpty());

    // A display no screen has: nothing appears and no camera is asked for.
    bubble.show(99, std::nullopt, QStringLiteral("br"), std::nullopt);
    EXPECT_EQ(bubble.window(), nullptr);
    EXPECT_EQ(cameras.accessRequests, 1);
}

TEST(CameraBubble, WithoutAnyCameraTheRealBackendLogsAndHides)
{
    SKIP_WITHOUT_DISPLAY();
    PrivateHome home;
    QtCameras cameras;
    if (!cameras.devices().isEmpty())
        GTEST_SKIP() << "this machine has a camera";
    QtScreens screens;
    CameraBubble bubble(screens, cameras);
    bubble.show(screens.primaryScreen().displayID, QRectF(0, 0, 1200, 800), QStringLiteral("br"), QStringLiteral("/dev/video7"));
    ASSERT_TRUE(waitUntil([&] { return !bubble.window(); }));
    EXPECT_FALSE(bubble.isLive());
    EXPECT_EQ(bubbleLog(home), QStringList{QStringLiteral("camera bubble: no usable camera")});
}
