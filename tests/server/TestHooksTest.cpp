// The fault-injection hooks tests of the program rely on: chosen replies, delays, and
// connections dropped before a reply or in the middle of an upload.

#include "TestServer.h"

#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QTimer>
#include <gtest/gtest.h>

using namespace ServerTest;

TEST(TestHooks, AreAbsentUnlessAskedFor)
{
    TestServer server;
    EXPECT_EQ(server.get("/_test/state").status, 404);
    EXPECT_EQ(server.send("POST", "/_test/faults", R"({"status":500})").status, 404);
}

TEST(TestHooks, ChosenRepliesReplaceTheNextMatchingRequests)
{
    TestServer server({QStringLiteral("--auto-approve"), QLatin1String(kAna), QStringLiteral("--test-hooks")});
    const QString token = server.accessToken();
    server.addFault({{QStringLiteral("pathPrefix"), QStringLiteral("/api/folders")},
                     {QStringLiteral("count"), 2},
                     {QStringLiteral("status"), 500},
                     {QStringLiteral("body"), QStringLiteral(R"({"title":"Storage is down"})")}});
    server.addFault({{QStringLiteral("pathPrefix"), QStringLiteral("/api/groups")}, {QStringLiteral("method"), QStringLiteral("POST")}, {QStringLiteral("status"), 418}});
    server.addFault({{QStringLiteral("pathPrefix"), QStringLiteral("/api/users")}, {QStringLiteral("status"), 404}});

    for (int i = 0; i < 2; ++i) {
        const Reply failed = server.api("GET", "folders", token);
        EXPECT_EQ(failed.status, 500);
        EXPECT_EQ(failed.object().value(QStringLiteral("title")).toString(), QStringLiteral("Storage is down"));
        EXPECT_EQ(server.api("GET", "groups", token).status, 200) << "another method is not matched";
    }
    EXPECT_EQ(server.api("GET", "folders", token).status, 200) << "used up after two";

    const Reply bare = server.api("GET", "users/search?q=an", token);
    EXPECT_EQ(bare.status, 404);
    EXPECT_TRUE(bare.body.empty()) << "a chosen empty body stays empty: " << bare.body;

    // A reply chosen before the body was read must not leave that body to be taken for the
    // next request on the same connection: the connection either ends or stays usable.
    server.addFault({{QStringLiteral("pathPrefix"), QStringLiteral("/api/folders")}, {QStringLiteral("method"), QStringLiteral("POST")}, {QStringLiteral("status"), 503}});
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(server.port()));
    ASSERT_TRUE(socket.waitForConnected(5000));
    const QByteArray body = R"({"name":"Refused"})";
    socket.write("POST /api/folders HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
                 + "\r\n\r\n" + body);
    QByteArray answer;
    while (!answer.contains("\r\n\r\n") && socket.waitForReadyRead(5000))
        answer += socket.readAll();
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 503")) << answer.toStdString();
    if (!answer.toLower().contains("connection: close")) {
        socket.write("GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QByteArray next;
        while (!next.contains("\r\n\r\n") && socket.waitForReadyRead(5000))
            next += socket.readAll();
        EXPECT_TRUE(next.startsWith("HTTP/1.1 200")) << "the connection was kept but broken: " << next.toStdString();
    }

    ASSERT_EQ(server.get("/_test/faults").json().toArray().size(), 1);
    EXPECT_EQ(server.send("DELETE", "/_test/faults", "").status, 204);
    EXPECT_TRUE(server.get("/_test/faults").json().toArray().isEmpty());
    EXPECT_EQ(server.send("POST", "/_test/faults", R"({"count":0,"status":500})").status, 400);
}

TEST(TestHooks, DelayAndDropBeforeTheReply)
{
    TestServer server({QStringLiteral("--auto-approve"), QLatin1String(kAna), QStringLiteral("--test-hooks")});
    server.addFault({{QStringLiteral("pathPrefix"), QStringLiteral("/healthz")}, {QStringLiteral("delayMs"), 3000}});
    // A client that waits one second gives up long before the delayed reply.
    const auto impatient = server.client(1);
    const auto delayed = impatient->Get("/healthz");
    EXPECT_FALSE(delayed);
    EXPECT_EQ(delayed.error(), httplib::Error::Read);

    server.addFault({{QStringLiteral("pathPrefix"), QStringLiteral("/healthz")}, {QStringLiteral("dropAfterBytes"), 0}});
    const Reply dropped = server.get("/healthz");
    EXPECT_EQ(dropped.status, 0);
    EXPECT_NE(dropped.error, httplib::Error::Success);
    EXPECT_EQ(server.get("/healthz").status, 200);
}

TEST(TestHooks, UploadDroppedMidBodyLeavesNothingAndCanBeRepeated)
{
    TestServer server({QStringLiteral("--auto-approve"), QLatin1String(kAna), QStringLiteral("--test-hooks")});
    const Reply ticket = server.api("POST", "recordings/upload-url", server.accessToken(), QJsonObject{{QStringLiteral("contentType"), QStringLiteral("video/mp4")}});
    const QUrl uploadUrl(ticket.object().value(QStringLiteral("uploadUrl")).toString());
    const QString blobName = ticket.object().value(QStringLiteral("blobName")).toString();
    // Qt quietly sends an idempotent request again when its connection drops, so the fault
    // stays until it is removed.
    server.addFault({{QStringLiteral("pathPrefix"), QStringLiteral("/blobs/")}, {QStringLiteral("dropAfterBytes"), 1024 * 1024}, {QStringLiteral("count"), 10}});

    // Sent the way the program sends it, through Qt's network stack.
    const QByteArray body(8 * 1024 * 1024, 'x');
    QNetworkAccessManager network;
    const auto put = [&] {
        QNetworkRequest request(uploadUrl);
        request.setRawHeader("x-ms-blob-type", "BlockBlob");
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("video/mp4"));
        QNetworkReply *reply = network.put(request, body);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
        reply->deleteLater();
        return std::pair{reply->error(), reply->attribute(QNetworkRequest::HttpStatusCodeAttribute)};
    };

    const auto [error, status] = put();
    EXPECT_NE(error, QNetworkReply::NoError);
    EXPECT_LT(error, QNetworkReply::ContentAccessDenied) << "a network failure, not an HTTP answer";
    EXPECT_FALSE(status.isValid());
    for (const QJsonValue &blob : server.state().value(QStringLiteral("blobs")).toArray())
        EXPECT_TRUE(blob[QStringLiteral("sizeBytes")].isNull());
    EXPECT_TRUE(QDir(server.dataDir() + QStringLiteral("/blobs/incoming")).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(server.dataDir() + QStringLiteral("/blobs/") + blobName));
    ASSERT_EQ(server.send("DELETE", "/_test/faults", "").status, 204);

    const auto [retryError, retryStatus] = put();
    EXPECT_EQ(retryError, QNetworkReply::NoError);
    EXPECT_EQ(retryStatus.toInt(), 201);
    EXPECT_EQ(QFileInfo(server.dataDir() + QStringLiteral("/blobs/") + blobName).size(), body.size());
}
