#include "TestSupport.h"
#include "app/Config.h"
#include "auth/AuthError.h"
#include "auth/AuthService.h"
#include "auth/Keychain.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/FakePlatform.h"
#include "service/ApiClient.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <gtest/gtest.h>

namespace {
const QByteArray kToken = R"({"access_token": "tok", "expires_in": 3600})";

QJsonObject bodyOf(const FakeHttpServer::Request &request)
{
    return QJsonDocument::fromJson(request.body).object();
}

// The client against one scripted server that plays both the API and the token endpoint.
struct ApiFixture : ::testing::Test {
    ApiFixture()
    {
        Config::Service service = Config::service();
        service.apiBase = server.url(QStringLiteral("/api"));
        service.authority = server.url(QStringLiteral("/tenant"));
        Config::setService(service);
        Keychain::write(QStringLiteral("refreshToken"), QStringLiteral("r1"));
        api.retryDelayMs = 50;
        auth.onSessionExpired = [this] { ++sessionExpiredCalls; };
    }
    ~ApiFixture() override { Config::setService(saved); }

    template <typename T>
    std::optional<QString> failureOf(QCoro::Task<T> task, T *result = nullptr)
    {
        return TestSupport::failureOf(std::move(task), result);
    }
    std::optional<QString> failureOf(QCoro::Task<> task) { return TestSupport::failureOf(std::move(task)); }
    QList<FakeHttpServer::Request> apiRequests() const
    {
        QList<FakeHttpServer::Request> result;
        for (const auto &request : server.requests)
            if (request.path.startsWith("/api/"))
                result << request;
        return result;
    }

    Config::Service saved = Config::service();
    TestSupport::PrivateHome home;
    FakePlatform fake;
    FakeHttpServer server;
    QNetworkAccessManager network;
    AuthService auth{fake.settings, fake.webAuth, network};
    ApiClient api{auth, network, fake.settings};
    int sessionExpiredCalls = 0;
};
} // namespace

TEST_F(ApiFixture, SendsWithTokenAndDecodesTheReply)
{
    server.enqueue(200, kToken);
    server.enqueue(200, R"({"slug": "abc", "url": "https://t/v/abc", "videoId": 7, "extra": [1]})");
    ShareLink link;
    EXPECT_EQ(failureOf(api.send<ShareLink>(QStringLiteral("GET"), QStringLiteral("links/x?y=1"), std::nullopt, 30), &link), std::nullopt);
    EXPECT_EQ(link, (ShareLink{QStringLiteral("abc"), QStringLiteral("https://t/v/abc"), 7, std::nullopt}));
    const auto request = apiRequests().first();
    EXPECT_EQ(request.path, QByteArray("/api/links/x?y=1"));
    EXPECT_EQ(request.headers.value("authorization"), QByteArray("Bearer tok"));
    EXPECT_EQ(request.headers.value("user-agent"), QByteArray("Tovrika/" TOVRIKA_VERSION " (" TOVRIKA_BUILD_NUMBER ")"));
    EXPECT_FALSE(request.headers.contains("content-type"));
}

TEST_F(ApiFixture, A401ForcesOneRefreshThenSignsOut)
{
    // Not JSON: no code, so the token is expired and the request repeated once.
    server.enqueue(200, kToken);
    server.enqueue(401, "<html>no</html>");
    server.enqueue(200, R"({"access_token": "tok2"})");
    server.enqueue(200, R"({"blobName": "b", "uploadUrl": "https://blob/b"})");
    EXPECT_EQ(failureOf(api.createUploadUrl(QStringLiteral("video/mp4"))), std::nullopt);
    EXPECT_EQ(apiRequests().last().headers.value("authorization"), QByteArray("Bearer tok2"));

    server.enqueue(401, "{}");
    server.enqueue(200, kToken);
    server.enqueue(401, "{}");
    EXPECT_EQ(failureOf(api.listFolders()), QStringLiteral("Your Tovrika sign-in has expired. Sign in again to keep sharing."));
    EXPECT_EQ(sessionExpiredCalls, 1);
    EXPECT_FALSE(Keychain::read(QStringLiteral("refreshToken")).has_value());
    EXPECT_TRUE(home.readLog().contains(QStringLiteral("session expired: API rejected a freshly refreshed token")));
}

TEST_F(ApiFixture, UpdateRequiredFailsAtOnce)
{
    server.enqueue(200, kToken);
    server.enqueue(401, R"({"code": "update_required"})");
    EXPECT_EQ(failureOf(api.listGroups()), QStringLiteral("This version of Tovrika is out of date. Install the update to keep sharing."));
    EXPECT_EQ(server.requests.size(), 2);
    EXPECT_TRUE(home.readLog().contains(QStringLiteral("update required: API rejected this app version")));
    EXPECT_EQ(sessionExpiredCalls, 0);
}

TEST_F(ApiFixture, StatusAndBodyRules)
{
    server.enqueue(200, kToken);
    server.enqueue(204, "");
    EXPECT_EQ(failureOf(api.setCaptureFolder(QStringLiteral("abc"), std::nullopt)), std::nullopt);
    EXPECT_EQ(bodyOf(apiRequests().last()), (QJsonObject{{"folderId", QJsonValue::Null}}));
    EXPECT_EQ(apiRequests().last().method, QByteArray("PATCH"));

    server.enqueue(204, "");
    EXPECT_EQ(failureOf(api.listFolders()), QStringLiteral("No response from the server."));
    server.enqueue(500, R"({"title": "The database is resting."})");
    EXPECT_EQ(failureOf(api.listFolders()), QStringLiteral("The database is resting."));
    server.enqueue(404, "");
    EXPECT_EQ(failureOf(api.listFolders()), QStringLiteral("The server returned HTTP 404."));
    // Strict decoding: an object where a list belongs, a wrong type, a missing field.
    server.enqueue(200, R"({"items": []})");
    EXPECT_TRUE(failureOf(api.listLibrary()).has_value());
    server.enqueue(200, R"([{"id": 1, "name": "A", "sortOrder": "1", "itemCount": 0}])");
    EXPECT_TRUE(failureOf(api.listFolders())->contains(QStringLiteral("sortOrder")));
    server.enqueue(200, R"({"slug": "a", "url": null})");
    EXPECT_TRUE(failureOf(api.assignViewers(QStringLiteral("a"), {}))->contains(QStringLiteral("url")));

    const qsizetype before = server.requests.size();
    EXPECT_EQ(failureOf(api.send<EmptyOk>(QStringLiteral("GET"), QStringLiteral("bad path"), std::nullopt, 30)),
              QStringLiteral("Bad request path."));
    EXPECT_EQ(server.requests.size(), before);
}

TEST_F(ApiFixture, TransientFailuresAreRetriedThreeTimes)
{
    Config::Service closed = Config::service();
    closed.apiBase = QUrl(QStringLiteral("http://127.0.0.1:9/api"));
    Config::setService(closed);
    server.enqueue(200, kToken);
    EXPECT_TRUE(failureOf(api.createUploadUrl(QStringLiteral("image/png"))).has_value());
    const QString log = home.readLog();
    for (const char *attempt : {"attempt 1/3): -1004", "attempt 2/3): -1004", "attempt 3/3): -1004"})
        EXPECT_TRUE(log.contains(QLatin1String(attempt))) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("transient network error")), 3);

    EXPECT_FALSE(ApiClient::isTransient(ApiClient::urlErrorCode(QNetworkReply::OperationCanceledError)));
    EXPECT_TRUE(ApiClient::isTransient(ApiClient::urlErrorCode(QNetworkReply::HostNotFoundError)));
    EXPECT_TRUE(ApiClient::isTransient(ApiClient::urlErrorCode(QNetworkReply::TemporaryNetworkFailureError)));
}

TEST_F(ApiFixture, RequestBodies)
{
    server.enqueue(200, kToken);
    const auto lastBody = [&] { return bodyOf(apiRequests().last()); };

    server.enqueue(200, R"({"slug": "s", "url": "u", "blobName": "b", "uploadUrl": "https://x/b"})");
    EXPECT_EQ(failureOf(api.reserveLink(QStringLiteral("video/mp4"), std::nullopt, true)), std::nullopt);
    EXPECT_EQ(lastBody(), (QJsonObject{{"contentType", "video/mp4"}, {"titleIsDefault", true}}));

    // An empty selection sends only notifyOnStart, from the setting.
    fake.settings.values[QStringLiteral("notifyOnStart")] = true;
    ApiClient::ShareRequest share;
    share.blobName = QStringLiteral("b");
    share.viewers = ViewerSelection{};
    share.viewers->notifyOnStart = false;
    share.translation = TranslationPlan{QStringLiteral("en"), {}, {}};
    share.captionLanguage = QStringLiteral("fr");
    share.voice = QString();
    server.enqueue(200, R"({"slug": "s", "url": "u"})");
    EXPECT_EQ(failureOf(api.createShareLink(share)), std::nullopt);
    EXPECT_EQ(lastBody(), (QJsonObject{{"blobName", "b"}, {"titleIsDefault", false}, {"notifyOnStart", true}, {"captionLanguage", "fr"}}));

    share.viewers->individualUserIds = {QStringLiteral("9f4cbbe5-5e45-4ea1-a6a8-005908459783")};
    share.translation->voices = {{QStringLiteral("es"), QStringLiteral("f")}};
    share.durationSeconds = 125;
    server.enqueue(200, R"({"slug": "s", "url": "u"})");
    EXPECT_EQ(failureOf(api.createShareLink(share)), std::nullopt);
    QJsonObject body = lastBody();
    EXPECT_EQ(body.value("individualUserIds").toArray().first().toString(), QStringLiteral("9F4CBBE5-5E45-4EA1-A6A8-005908459783"));
    EXPECT_EQ(body.value("notifyOnStart").toBool(), false);
    EXPECT_EQ(body.value("durationSeconds").toInt(), 125);
    EXPECT_EQ(body.value("spokenLanguage").toString(), QStringLiteral("en"));
    EXPECT_FALSE(body.contains("captionLanguage"));
    EXPECT_EQ(body.value("voices").toArray().first().toObject().value("voice").toString(), QStringLiteral("f"));

    server.enqueue(200, R"({"slug": "s", "url": "u"})");
    EXPECT_EQ(failureOf(api.assignViewers(QStringLiteral("s"), ViewerSelection{})), std::nullopt);
    EXPECT_EQ(lastBody().keys(), (QStringList{"askQuiz", "askSeenProof", "customerEmails", "groupIds", "individualUserIds",
                                              "notifyOnStart", "questionCount"}));
    EXPECT_EQ(apiRequests().last().path, QByteArray("/api/recordings/links/s/viewers"));

    server.enqueue(200, R"({"status": "ready", "questionCount": 0, "questions": []})");
    EXPECT_EQ(failureOf(api.confirmQuiz(7, {1, 2}, {}, true, false)), std::nullopt);
    EXPECT_FALSE(lastBody().contains("customQuestions"));
    EXPECT_EQ(apiRequests().last().path, QByteArray("/api/videos/7/quiz"));

    server.enqueue(200, R"([{"id": "9f4cbbe5-5e45-4ea1-a6a8-005908459783", "displayName": "Ana", "email": "a@x"}])");
    QList<DirectoryUser> users;
    EXPECT_EQ(failureOf(api.searchUsers(QStringLiteral("ana f&q=é")), &users), std::nullopt);
    EXPECT_EQ(apiRequests().last().path, QByteArray("/api/users/search?q=ana%20f%26q%3D%C3%A9"));
    EXPECT_EQ(users.first().id, QStringLiteral("9F4CBBE5-5E45-4EA1-A6A8-005908459783"));
}

TEST(LibraryItem, CreatedDateIsReadLeniently)
{
    const auto dateOf = [](const char *text) {
        LibraryItem item;
        item.createdAt = QLatin1String(text);
        return item.createdDate();
    };
    const QDateTime moment(QDate(2025, 3, 1), QTime(9, 41, 7), Qt::UTC);
    EXPECT_EQ(dateOf("2025-03-01T09:41:07Z"), moment);
    EXPECT_EQ(dateOf("2025-03-01T09:41:07.250Z"), moment.addMSecs(250));
    EXPECT_EQ(dateOf("2025-03-01T11:41:07+02:00"), moment);
    EXPECT_EQ(dateOf("2025-03-01T09:41:07"), moment);
    EXPECT_EQ(dateOf("2025-03-01T09:41:07.123456"), moment);
    EXPECT_LT(dateOf("yesterday"), QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC));
}

TEST_F(ApiFixture, UploadStreamsTheFileAndRepeatsLostConnections)
{
    const QString file = home.path() + QStringLiteral("/clip.mp4");
    TestSupport::writeFile(file, QByteArray(300000, 'v'));
    QList<double> fractions;
    const auto progress = [&fractions](double fraction) { fractions << fraction; };

    // Qt resends a PUT once by itself when the connection closes early; the second loss is ours.
    server.enqueueDrop();
    server.enqueueDrop();
    server.enqueue(201, "");
    EXPECT_EQ(failureOf(api.uploadBlob(file, server.url(QStringLiteral("/blob/b?sig=1")).toString(), QStringLiteral("video/mp4"), progress)),
              std::nullopt);
    ASSERT_EQ(server.requests.size(), 3);
    const auto &put = server.requests.last();
    EXPECT_EQ(put.method, QByteArray("PUT"));
    EXPECT_EQ(put.headers.value("x-ms-blob-type"), QByteArray("BlockBlob"));
    EXPECT_EQ(put.headers.value("content-type"), QByteArray("video/mp4"));
    EXPECT_FALSE(put.headers.contains("authorization"));
    EXPECT_EQ(put.body.size(), 300000);
    ASSERT_FALSE(fractions.isEmpty());
    EXPECT_DOUBLE_EQ(fractions.last(), 1.0);
    EXPECT_TRUE(home.readLog().contains(QStringLiteral("transient network error (attempt 1/3): -1005"))) << home.readLog().toStdString();

    server.enqueue(403, "");
    EXPECT_EQ(failureOf(api.uploadBlob(file, server.url(QStringLiteral("/blob/b")).toString(), QStringLiteral("video/mp4"), progress)),
              QStringLiteral("Upload failed (HTTP 403)."));
    EXPECT_EQ(server.requests.size(), 4);

    const QString empty = home.path() + QStringLiteral("/empty.mp4");
    TestSupport::writeFile(empty, "");
    EXPECT_EQ(failureOf(api.uploadBlob(empty, server.url(QStringLiteral("/blob/b")).toString(), QStringLiteral("video/mp4"), progress)),
              QStringLiteral("Upload failed"));
    EXPECT_TRUE(home.readLog().contains(QStringLiteral("upload skipped: empty.mp4 is missing or empty")));
    EXPECT_EQ(failureOf(api.uploadBlob(file, QStringLiteral("not a url"), QStringLiteral("video/mp4"), progress)),
              QStringLiteral("Bad upload URL."));
    EXPECT_EQ(server.requests.size(), 4);
}
