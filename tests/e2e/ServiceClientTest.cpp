#include "TestSupport.h"
#include "app/Config.h"
#include "auth/AuthService.h"
#include "auth/Keychain.h"
#include "fakes/FakePlatform.h"
#include "server/TestServer.h"
#include "service/ApiClient.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QProcess>
#include <gtest/gtest.h>

namespace {
// The program's client against the real reference service, signed in as Ana.
struct LiveService {
    explicit LiveService(const QStringList &serverArguments = {QStringLiteral("--test-hooks")})
        : server(serverArguments)
    {
        Config::Service service = saved;
        service.apiBase = QUrl(server.origin() + QStringLiteral("/api"));
        service.authority = QUrl(server.origin() + QLatin1Char('/') + QLatin1String(ServerTest::kTenant));
        Config::setService(service);
        Keychain::write(QStringLiteral("refreshToken"), server.signIn().value(QStringLiteral("refresh_token")).toString());
        api.retryDelayMs = 100;
    }
    ~LiveService() { Config::setService(saved); }

    template <typename T>
    T call(QCoro::Task<T> task)
    {
        T result{};
        EXPECT_EQ(TestSupport::failureOf(std::move(task), &result, 60000), std::nullopt);
        return result;
    }
    std::optional<QString> failureOf(QCoro::Task<> task) { return TestSupport::failureOf(std::move(task), 60000); }

    Config::Service saved = Config::service();
    TestSupport::PrivateHome home;
    FakePlatform fake;
    ServerTest::TestServer server;
    QNetworkAccessManager network;
    AuthService auth{fake.settings, fake.webAuth, network};
    ApiClient api{auth, network, fake.settings};
};

QString makeVideo(const QString &folder)
{
    const QString path = folder + QStringLiteral("/Screen Recording.mp4");
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=30", "-t", "3",
                                            "-pix_fmt", "yuv420p", "-c:v", "libx264", "-preset", "ultrafast", path});
    ffmpeg.waitForFinished(60000);
    return path;
}
} // namespace

TEST(ServiceClient, PublishesThroughTheRealService)
{
    LiveService live;
    ASSERT_TRUE(live.server.isRunning()) << live.server.output().toStdString();
    const QString video = makeVideo(live.home.path());
    ASSERT_GT(QFileInfo(video).size(), 0);

    const ReservedLink link = live.call(live.api.reserveLink(QStringLiteral("video/mp4"), QStringLiteral("Demo"), false));
    ASSERT_FALSE(link.slug.isEmpty());
    QList<double> fractions;
    const std::function<void(double)> progress = [&fractions](double fraction) { fractions << fraction; };
    EXPECT_EQ(live.failureOf(live.api.uploadBlob(video, link.uploadUrl, QStringLiteral("video/mp4"), progress)), std::nullopt);
    ASSERT_FALSE(fractions.isEmpty());
    EXPECT_DOUBLE_EQ(fractions.last(), 1.0);

    const QList<DirectoryUser> people = live.call(live.api.searchUsers(QStringLiteral("ben")));
    ASSERT_FALSE(people.isEmpty());
    const QList<VideoGroup> groups = live.call(live.api.listGroups());
    EXPECT_TRUE(std::any_of(groups.begin(), groups.end(), [](const VideoGroup &group) { return group.isExclusionList; }));

    ApiClient::ShareRequest request;
    request.blobName = link.blobName;
    request.slug = link.slug;
    request.title = QStringLiteral("Demo");
    request.durationSeconds = 3;
    request.viewers = ViewerSelection{{people.first().id}, {}, {QStringLiteral("guest@outside.example")}, true, false, 0, true};
    const ShareLink shared = live.call(live.api.createShareLink(request));
    EXPECT_EQ(shared.slug, link.slug);
    EXPECT_EQ(shared.url, link.url);
    EXPECT_GE(shared.assignmentCount.value_or(0), 1);

    const VideoFolder folder = live.call(live.api.createFolder(QStringLiteral("Demos")));
    EXPECT_EQ(live.failureOf([](ApiClient *api, QString slug, qint64 id) -> QCoro::Task<> {
                  co_await api->setCaptureFolder(slug, id);
              }(&live.api, link.slug, folder.id)),
              std::nullopt);
    const QList<LibraryItem> library = live.call(live.api.listLibrary());
    const auto item = std::find_if(library.begin(), library.end(), [&](const LibraryItem &entry) { return entry.slug == link.slug; });
    ASSERT_NE(item, library.end());
    EXPECT_EQ(item->sizeBytes, QFileInfo(video).size());
    EXPECT_EQ(item->folderId, folder.id);
    EXPECT_EQ(item->itemType, QStringLiteral("video"));
    EXPECT_LE(qAbs(item->createdDate().secsTo(QDateTime::currentDateTimeUtc())), 120);

    if (shared.videoId) {
        const QuizStatus quiz = live.call(live.api.quizStatus(*shared.videoId));
        EXPECT_FALSE(quiz.status.isEmpty());
    }
    live.call(live.api.sendDiagnostics(QStringLiteral("a line of log"), false));

    // A connection lost in the middle of an upload sends the whole file again.
    live.server.addFault({{"pathPrefix", "/blobs/"}, {"dropAfterBytes", 20000}, {"count", 2}});
    const UploadTicket ticket = live.call(live.api.createUploadUrl(QStringLiteral("video/mp4")));
    EXPECT_EQ(live.failureOf(live.api.uploadBlob(video, ticket.uploadUrl, QStringLiteral("video/mp4"), progress)), std::nullopt);
    EXPECT_TRUE(live.home.readLog().contains(QStringLiteral("transient network error (attempt 1/3)"))) << live.home.readLog().toStdString() << "END";
}

TEST(ServiceClient, AnOutdatedVersionIsToldToUpdate)
{
    LiveService live({QStringLiteral("--min-client-version"), QStringLiteral("999.0.0")});
    ASSERT_TRUE(live.server.isRunning());
    EXPECT_EQ(TestSupport::failureOf(live.api.listFolders()), QStringLiteral("This version of Tovrika is out of date. Install the update to keep sharing."));
}
