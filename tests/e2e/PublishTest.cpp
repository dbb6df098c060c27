// Publishing against the real reference service: the link is copied before the upload ends,
// GIFs and screenshots take their own paths, and sign-in trouble gets one prompt and one retry.

#include "TestSupport.h"
#include "app/AppState.h"
#include "app/Config.h"
#include "auth/Keychain.h"
#include "fakes/FakeCaptureServices.h"
#include "fakes/FakePlatform.h"
#include "platform/linux/FfmpegMediaToolkit.h"
#include "server/TestServer.h"
#include "service/ApiClient.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>
#include <QUuid>
#include <gtest/gtest.h>

using TestSupport::run;
using TestSupport::waitUntil;
using Kind = AppPhase::Kind;

namespace {

// A clipboard that notes what the log said when the link arrived.
class WatchingClipboard final : public Clipboard {
public:
    explicit WatchingClipboard(const TestSupport::PrivateHome &home) : m_home(home) {}
    void setText(const QString &text) override
    {
        current = text;
        uploadedWhenCopied = m_home.readLog().contains(QStringLiteral("publish uploaded"));
    }
    void setImage(const QImage &) override {}
    QString text() const override { return current; }
    QString current;
    bool uploadedWhenCopied = false;

private:
    const TestSupport::PrivateHome &m_home;
};

class FakeViewerPicker final : public ViewerPicker {
public:
    explicit FakeViewerPicker(const TestSupport::PrivateHome &home) : m_home(home) {}
    QCoro::Task<std::optional<ViewerSelection>> run(QString, ApiClient &) override
    {
        ++runs;
        uploadedWhenShown = m_home.readLog().contains(QStringLiteral("publish uploaded"));
        co_return std::optional<ViewerSelection>(selection);
    }
    std::optional<ViewerSelection> selection;
    int runs = 0;
    bool uploadedWhenShown = true;

private:
    const TestSupport::PrivateHome &m_home;
};

bool ffmpeg(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")} + arguments);
    return process.waitForFinished(60000) && process.exitCode() == 0;
}

QString makeVideo(const QString &path, const QStringList &codec = {QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("ultrafast")})
{
    const bool made = ffmpeg(QStringList{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc=size=320x240:rate=30"),
                                         QStringLiteral("-t"), QStringLiteral("3"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p")}
                             + codec + QStringList{path});
    EXPECT_TRUE(made) << path.toStdString();
    return path;
}

// Presses the button of that role in the open alert with that message; answers its informative text.
std::optional<QString> answerAlert(const QString &message, QMessageBox::ButtonRole role)
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible() && box->text() == message)
            for (QAbstractButton *button : box->buttons())
                if (box->buttonRole(button) == role) {
                    const QString informative = box->informativeText();
                    button->click();
                    return informative;
                }
    return std::nullopt;
}

// Types the address into the open e-mail prompt of the sign-in and continues.
void answerEmailPrompt(const QString &address)
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *dialog = qobject_cast<QDialog *>(widget); dialog && dialog->isVisible() && !qobject_cast<QMessageBox *>(dialog))
            if (auto *field = dialog->findChild<QLineEdit *>()) {
                field->setText(address);
                dialog->accept();
            }
}

class LivePublish : public ::testing::Test {
protected:
    LivePublish()
        : server({QStringLiteral("--test-hooks"), QStringLiteral("--auto-approve"), QLatin1String(ServerTest::kAna)})
        , clipboard(home)
    {
        Config::Service service = saved;
        service.apiBase = QUrl(server.origin() + QStringLiteral("/api"));
        service.authority = QUrl(server.origin() + QLatin1Char('/') + QLatin1String(ServerTest::kTenant));
        Config::setService(service);
        Keychain::write(QStringLiteral("refreshToken"), server.signIn().value(QStringLiteral("refresh_token")).toString());
        fake.settings.values[QStringLiteral("welcomeShown")] = true;
        fake.settings.values[QStringLiteral("signInHint")] = QLatin1String(ServerTest::kAna);
        // The browser: the authority approves at once and redirects back with a code.
        fake.webAuth.respond = [this](const QUrl &authorize) {
            const auto reply = server.client()->Get(authorize.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString());
            return reply ? QUrl(QString::fromStdString(reply->get_header_value("Location"))) : QUrl();
        };

        const Platform base = fake.platform();
        const Platform platform{base.settings, base.screens, base.notifications, clipboard, base.workspace, base.loginItem,
                                base.credentials, base.webAuth, base.screenCapture, media, base.keys, base.cameras};
        CaptureServices services;
        services.recorder = std::make_unique<FakeRecorder>();
        services.overlays = std::make_unique<FakeOverlays>();
        services.viewerPicker = std::make_unique<FakeViewerPicker>(home);
        viewers = static_cast<FakeViewerPicker *>(services.viewerPicker.get());
        state = std::make_unique<AppState>(platform, std::move(services));
        QObject::connect(state.get(), &AppState::phaseChanged, [this] { phases.append(state->phase()); });
    }
    ~LivePublish() override { Config::setService(saved); }

    AppState::PublishRequest recording(const QString &name = QStringLiteral("Screen Recording.mp4"))
    {
        AppState::PublishRequest request;
        request.file = makeVideo(QDir(Config::capturesFolder()).filePath(name));
        request.contentType = QStringLiteral("video/mp4");
        request.keptInCaptures = true;
        return request;
    }
    void addFault(const QJsonObject &fault) { ASSERT_EQ(server.send("POST", "/_test/faults", QJsonDocument(fault).toJson().toStdString()).status, 201); }
    QStringList titles() const
    {
        QStringList list;
        for (const auto &posted : fake.notifications.posted)
            list.append(posted.title);
        return list;
    }
    QString log() const { return home.readLog(); }

    Config::Service saved = Config::service();
    TestSupport::PrivateHome home;
    FakePlatform fake;
    ServerTest::TestServer server;
    WatchingClipboard clipboard;
    FfmpegMediaToolkit media;
    FakeViewerPicker *viewers = nullptr;
    std::unique_ptr<AppState> state;
    QList<AppPhase> phases;
};

} // namespace

TEST_F(LivePublish, RecordingLinkIsCopiedBeforeTheUploadEndsAndViewersAreChosenMeanwhile)
{
    ASSERT_TRUE(server.isRunning()) << server.output().toStdString();
    const auto people = server.api("GET", "users/search?q=ben", server.accessToken()).json().toArray();
    ASSERT_FALSE(people.isEmpty());
    state->setAskForViewers(true);
    viewers->selection = ViewerSelection{{people.first().toObject().value(QStringLiteral("id")).toString()}, {}, {}, false, false, 0, false};

    ASSERT_TRUE(run(state->publish(recording()), 60000));

    EXPECT_TRUE(state->phase().is(Kind::idle));
    ASSERT_TRUE(state->lastLink());
    EXPECT_TRUE(state->lastLink()->videoId.has_value());
    EXPECT_EQ(clipboard.current, state->lastLink()->url);
    EXPECT_FALSE(clipboard.uploadedWhenCopied);
    EXPECT_EQ(viewers->runs, 1);
    EXPECT_FALSE(viewers->uploadedWhenShown);

    ASSERT_GE(fake.notifications.posted.size(), 2);
    const auto &copied = fake.notifications.posted.first();
    EXPECT_EQ(copied.title, QStringLiteral("Screen Recording"));
    EXPECT_EQ(copied.body, QStringLiteral("Link copied to the clipboard"));
    EXPECT_TRUE(copied.imagePath.has_value()); // the poster
    EXPECT_EQ(fake.notifications.posted.last().title, QStringLiteral("Video link copied — sent to 1 person"));

    // The percentage climbs to 100 while uploading, then the phase is idle again.
    QList<int> percents;
    for (const AppPhase &phase : phases)
        if (phase.is(Kind::uploading))
            percents.append(phase.percent);
    ASSERT_FALSE(percents.isEmpty());
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(percents.last(), 100);

    for (const char *line : {"publish start: Screen Recording.mp4", "publish reserved: ", "publish ticket: ", "publish uploaded: ",
                             "poster uploaded: ", "publish done: "})
        EXPECT_TRUE(log().contains(QLatin1String(line))) << line;
    ASSERT_EQ(state->recentCaptures().size(), 1);
    EXPECT_EQ(state->recentCaptures().first().filePath, QDir(Config::capturesFolder()).filePath(QStringLiteral("Screen Recording.mp4")));
    EXPECT_TRUE(QFileInfo::exists(QDir(Config::capturesFolder()).filePath(QStringLiteral("Screen Recording.mp4"))));
}

TEST_F(LivePublish, GifAndScreenshotTakeTheirOwnPaths)
{
    state->setAskForViewers(true);
    AppState::PublishRequest gif = recording();
    gif.kind = CaptureKind::gif;
    ASSERT_TRUE(run(state->publish(gif), 60000));
    EXPECT_TRUE(log().contains(QStringLiteral("publish gif: ")));
    EXPECT_TRUE(log().contains(QStringLiteral("publish done: ")));
    EXPECT_FALSE(log().contains(QStringLiteral("poster uploaded")));
    EXPECT_EQ(viewers->runs, 0);

    QImage picture(200, 100, QImage::Format_RGB32);
    picture.fill(Qt::darkBlue);
    AppState::PublishRequest screenshot;
    screenshot.file = QDir(Config::capturesFolder()).filePath(QStringLiteral("Screenshot.png"));
    ASSERT_TRUE(picture.save(screenshot.file));
    screenshot.contentType = QStringLiteral("image/png");
    screenshot.kind = CaptureKind::screenshot;
    screenshot.keptInCaptures = true;
    ASSERT_TRUE(run(state->publish(screenshot), 60000));
    EXPECT_EQ(log().count(QStringLiteral("publish done: ")), 2);
    EXPECT_FALSE(log().contains(QStringLiteral("poster uploaded")));
    EXPECT_EQ(viewers->runs, 0);
    EXPECT_EQ(fake.notifications.posted.last().imagePath.has_value(), true); // the screenshot itself
    EXPECT_TRUE(state->recentCaptures().first().isScreenshot);
}

TEST_F(LivePublish, SignedOutAtTheStartSignsInAndSharesTheSameFile)
{
    Keychain::remove(QStringLiteral("refreshToken"));
    std::optional<QString> prompt;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (!prompt)
            prompt = answerAlert(QStringLiteral("Sign in to share this capture"), QMessageBox::AcceptRole);
    });
    answer.start(20);

    ASSERT_TRUE(run(state->publish(recording()), 60000));
    ASSERT_TRUE(prompt);
    EXPECT_EQ(*prompt, QStringLiteral("You're not signed in to Tovrika, so \"Screen Recording.mp4\" hasn't been shared yet. "
                                      "Sign in to share it now. It's saved in Movies/Tovrika either way."));
    EXPECT_EQ(state->signedInAs(), QStringLiteral("Ana Ferreira"));
    EXPECT_TRUE(log().contains(QStringLiteral("publish done: ")));
    EXPECT_EQ(clipboard.current, state->lastLink()->url);
}

TEST_F(LivePublish, ExpiredSessionGetsOneSignInAndOneRetry)
{
    const auto expireSession = [&] {
        // The share request is refused even with a freshly refreshed token: the session is over.
        addFault({{QStringLiteral("pathPrefix"), QStringLiteral("/api/recordings/share-link")}, {QStringLiteral("status"), 401},
                  {QStringLiteral("count"), 2}});
    };
    for (const bool failsAgain : {false, true}) {
        SCOPED_TRACE(failsAgain ? "fails again" : "retry succeeds");
        fake.notifications.posted.clear();
        expireSession();
        std::optional<QString> prompt;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            if (!prompt)
                prompt = answerAlert(QStringLiteral("Sign in to share this capture"), QMessageBox::AcceptRole);
            answerEmailPrompt(QLatin1String(ServerTest::kAna)); // signing out forgot the address
        });
        answer.start(20);
        // Once signed in again, the session may expire a second time before the retry.
        QMetaObject::Connection again;
        if (failsAgain)
            again = QObject::connect(state.get(), &AppState::changed, [&] {
                if (prompt && state->signedInAs()) {
                    QObject::disconnect(again);
                    expireSession();
                }
            });

        ASSERT_TRUE(run(state->publish(recording()), 60000)) << log().toStdString();
        QObject::disconnect(again);
        ASSERT_TRUE(prompt) << log().toStdString();
        EXPECT_TRUE(prompt->startsWith(QStringLiteral("Your Tovrika sign-in has expired, so \"Screen Recording.mp4\" hasn't been shared yet.")));
        EXPECT_TRUE(state->phase().is(Kind::idle));
        if (failsAgain) {
            EXPECT_EQ(titles().last(), QStringLiteral("Upload failed"));
            EXPECT_TRUE(fake.notifications.posted.last().body.endsWith(QStringLiteral(" The file is saved in Movies/Tovrika.")));
        } else {
            EXPECT_EQ(log().count(QStringLiteral("publish done: ")), 1);
            EXPECT_EQ(clipboard.current, state->lastLink()->url);
        }
        EXPECT_TRUE(QFileInfo::exists(QDir(Config::capturesFolder()).filePath(QStringLiteral("Screen Recording.mp4"))));
        server.send("DELETE", "/_test/faults", "");
    }
}

TEST_F(LivePublish, ImportedFilesAreConvertedOrRefused)
{
    const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString avi = makeVideo(QDir(home.path()).filePath(name + QStringLiteral(".avi")));
    ASSERT_TRUE(run(state->importAndPublish(avi), 60000));
    EXPECT_TRUE(std::any_of(phases.begin(), phases.end(), [](const AppPhase &phase) { return phase.is(Kind::processing); }));
    EXPECT_TRUE(log().contains(QStringLiteral("publish start: %1.mp4").arg(name)));
    EXPECT_TRUE(log().contains(QStringLiteral("publish done: ")));
    EXPECT_TRUE(QFileInfo::exists(avi));
    QDirIterator copies(QDir::tempPath(), {name + QStringLiteral(".mp4")}, QDir::Files, QDirIterator::Subdirectories);
    EXPECT_FALSE(copies.hasNext()) << "the converted copy is deleted";
    EXPECT_FALSE(state->recentCaptures().first().filePath.has_value()); // it lived in the temporary folder

    const QString odd = makeVideo(QDir(home.path()).filePath(QStringLiteral("odd.avi")), {QStringLiteral("-c:v"), QStringLiteral("ffv1")});
    ASSERT_TRUE(run(state->importAndPublish(odd), 60000));
    EXPECT_TRUE(state->phase().is(Kind::idle));
    EXPECT_EQ(titles().last(), QStringLiteral("Couldn't convert video"));
    EXPECT_EQ(fake.notifications.posted.last().body,
              QStringLiteral("This video's format can't be shared directly. Export it as an MP4 and try again."));
}
