// The parts of publishing that need no service: renaming before sharing and the recents list.

#include "TestSupport.h"
#include "app/AppState.h"
#include "app/CaptureMedia.h"
#include "app/Config.h"
#include "fakes/FakeCaptureServices.h"
#include "fakes/FakePlatform.h"
#include "ui/NameCapturePrompt.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <gtest/gtest.h>

using TestSupport::waitUntil;

namespace {

struct Publishing : ::testing::Test {
    Publishing()
    {
        fake.settings.values[QStringLiteral("welcomeShown")] = true;
        CaptureServices services;
        services.recorder = std::make_unique<FakeRecorder>();
        services.overlays = std::make_unique<FakeOverlays>();
        state = std::make_unique<AppState>(fake.platform(), std::move(services));
    }
    QString capture(const QString &name) const
    {
        const QString path = QDir(Config::capturesFolder()).filePath(name);
        TestSupport::writeFile(path, "video");
        return path;
    }

    TestSupport::PrivateHome home;
    FakePlatform fake;
    std::unique_ptr<AppState> state;
};

} // namespace

TEST_F(Publishing, RenamingBeforeSharing)
{
    state->setAskForCaptureName(true);
    capture(QStringLiteral("Taken.mp4"));
    const struct {
        const char *answer; // nullptr: the prompt is skipped
        const char *expectedName;
        bool titleIsDefault;
    } cases[] = {
        {"Q3: plan/notes", "Q3- plan-notes.mp4", false},
        {"  Taken \n", "Taken 2.mp4", false},
        {"", "Screen Recording.mp4", true},
        {"Screen Recording", "Screen Recording.mp4", true},
        {nullptr, "Screen Recording.mp4", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.answer ? c.answer : "(skipped)");
        const QString file = capture(QStringLiteral("Screen Recording.mp4"));
        state->setPhase(AppPhase::processing());
        std::optional<std::pair<QString, bool>> result;
        [](AppState *state, QString file, int token, std::optional<std::pair<QString, bool>> *result) -> QCoro::Task<> {
            const QString kind = QStringLiteral("recording");
            *result = co_await state->maybeRename(file, kind, token);
        }(state.get(), file, state->finishingToken, &result);
        ASSERT_TRUE(waitUntil([] { return NameCapturePrompt::isOpen(); }));
        EXPECT_TRUE(state->namingCapture);
        EXPECT_EQ(NameCapturePrompt::current()->field()->text(), QStringLiteral("Screen Recording"));
        if (c.answer) {
            NameCapturePrompt::current()->field()->setText(QString::fromUtf8(c.answer));
            NameCapturePrompt::current()->save();
        } else {
            NameCapturePrompt::current()->skip();
        }
        ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
        EXPECT_EQ(QFileInfo(result->first).fileName(), QString::fromUtf8(c.expectedName));
        EXPECT_EQ(result->second, c.titleIsDefault);
        EXPECT_TRUE(QFileInfo::exists(result->first));
        EXPECT_FALSE(state->namingCapture);
        QFile::remove(result->first);
        state->setPhase(AppPhase::idle());
    }
}

TEST_F(Publishing, TheEleventhRecentCaptureDropsTheOldestAndItsPoster)
{
    QStringList files;
    for (int i = 0; i < 11; ++i) {
        files.append(capture(QStringLiteral("Recording %1.mp4").arg(i)));
        QDir().mkpath(QFileInfo(CaptureMedia::posterURL(files.last())).absolutePath());
        TestSupport::writeFile(CaptureMedia::posterURL(files.last()), "png"); // no poster to generate
        state->rememberCapture(ShareLink{QStringLiteral("slug%1").arg(i), QStringLiteral("https://x/v/slug%1").arg(i), {}, {}},
                               files.last(), CaptureKind::video);
    }
    ASSERT_EQ(state->recentCaptures().size(), 10);
    EXPECT_EQ(state->recentCaptures().first().slug, QStringLiteral("slug10"));
    EXPECT_EQ(state->recentCaptures().last().slug, QStringLiteral("slug1"));
    EXPECT_FALSE(QFileInfo::exists(CaptureMedia::posterURL(files.first())));
    EXPECT_TRUE(QFileInfo::exists(CaptureMedia::posterURL(files[1])));
    EXPECT_TRUE(QFileInfo::exists(files.first())); // the capture itself stays
    EXPECT_TRUE(fake.settings.values.contains(QStringLiteral("recentCaptures")));
}
