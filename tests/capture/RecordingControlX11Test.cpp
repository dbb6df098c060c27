// A whole recording for real under the test X server: the region is dragged with the pointer,
// the recording is paused and resumed, and stopping leaves exactly one joined file.

#include "MediaProbe.h"
#include "SyntheticInput.h"
#include "TestSupport.h"
#include "app/AppState.h"
#include "app/Config.h"
#include "capture/LiveCaptureOverlays.h"
#include "fakes/FakePlatform.h"
#include "platform/linux/FfmpegMediaToolkit.h"
#include "platform/linux/QtScreens.h"
#include "platform/linux/X11KeyGrabber.h"
#include "platform/linux/X11ScreenCapture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QElapsedTimer>
#include <gtest/gtest.h>

using TestSupport::waitUntil;
using Kind = AppPhase::Kind;

TEST(RecordingControlX11, DraggedRegionPausedAndResumedEndsAsOneJoinedFile)
{
    if (!SyntheticInput::haveDisplay())
        GTEST_SKIP() << "needs the test X server";
    TestSupport::PrivateHome home;
    FakePlatform fake;
    fake.settings.values[QStringLiteral("welcomeShown")] = true;
    fake.settings.values[QStringLiteral("micEnabled")] = false;
    QtScreens screens;
    X11ScreenCapture capture;
    FfmpegMediaToolkit media;
    X11KeyGrabber keys;
    const Platform base = fake.platform();
    const Platform platform{base.settings, screens, base.notifications, base.clipboard, base.workspace,
                            base.loginItem, base.credentials, base.webAuth, capture, media, keys, base.cameras};
    AppState state(platform);
    auto &overlays = dynamic_cast<LiveCaptureOverlays &>(state.overlays());

    state.startAreaRecording();
    ASSERT_TRUE(waitUntil([&] { return overlays.selector().isOpen(); }));
    TestSupport::spin(200); // let the overlays map before the pointer goes down
    ASSERT_TRUE(SyntheticInput::drag({200, 150}, {{500, 300}, {840, 510}}));
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Kind::recording); }, 10000)) << state.phase().description().toStdString();
    ASSERT_TRUE(state.activeRecording);
    EXPECT_EQ(state.activeRecording->sourceRect, QRectF(200, 150, 640, 360));

    QElapsedTimer recorded;
    recorded.start();
    TestSupport::spin(1500);
    ASSERT_TRUE(TestSupport::run(state.togglePauseRecording()));
    qint64 recordedMs = recorded.elapsed();
    ASSERT_TRUE(state.recordingPaused());
    TestSupport::spin(1000);
    ASSERT_TRUE(TestSupport::run(state.togglePauseRecording()));
    recorded.restart();
    TestSupport::spin(1500);
    state.stopRecording();
    recordedMs += recorded.elapsed();
    // Nobody is signed in here: the offer to sign in before sharing is declined.
    ASSERT_TRUE(waitUntil([&] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                for (QAbstractButton *button : box->buttons())
                    if (box->buttonRole(button) == QMessageBox::RejectRole) {
                        button->click();
                        return true;
                    }
        return false;
    }, 30000));
    ASSERT_TRUE(waitUntil([&] { return state.phase().is(Kind::idle); }, 30000));

    const QStringList files = QDir(Config::capturesFolder()).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1) << files.join(QLatin1Char(',')).toStdString();
    EXPECT_TRUE(files.first().startsWith(QStringLiteral("Screen Recording ")));
    const auto probed = MediaProbe::probe(QDir(Config::capturesFolder()).filePath(files.first()));
    ASSERT_TRUE(probed.ok) << probed.errors.toStdString();
    EXPECT_NEAR(probed.durationSeconds, recordedMs / 1000.0, 0.7);
    const auto video = probed.ofType(QStringLiteral("video"));
    ASSERT_EQ(video.size(), 1);
    EXPECT_EQ(video.first().codecName, QStringLiteral("h264"));
    EXPECT_EQ(QSize(video.first().width, video.first().height), QSize(640, 360));
    ASSERT_TRUE(waitUntil([&] { return !fake.notifications.posted.isEmpty(); }));
    EXPECT_EQ(fake.notifications.posted.last().title, QStringLiteral("Not shared — not signed in"));
}
