// The blob store's signed upload addresses: the body streams to disk, and anything but a
// signed, unexpired PUT with "x-ms-blob-type: BlockBlob" is refused without storing a byte.

#include "TestServer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace ServerTest;

namespace {

struct Ticket {
    QString blobName;
    std::string path; // the upload URL without its origin
};

Ticket uploadTarget(const TestServer &server, const QString &token, const char *contentType = "video/mp4")
{
    const Reply reply = server.api("POST", "recordings/upload-url", token, QJsonObject{{QStringLiteral("contentType"), QLatin1String(contentType)}});
    EXPECT_EQ(reply.status, 201) << reply.body;
    const QUrl url(reply.object().value(QStringLiteral("uploadUrl")).toString());
    EXPECT_EQ(url.host(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(url.port(), server.port());
    return {reply.object().value(QStringLiteral("blobName")).toString(), url.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString()};
}

std::optional<qint64> storedSize(const TestServer &server, const QString &blobName)
{
    for (const QJsonValue &blob : server.state().value(QStringLiteral("blobs")).toArray()) {
        if (blob[QStringLiteral("name")].toString() == blobName && blob[QStringLiteral("sizeBytes")].isDouble())
            return blob[QStringLiteral("sizeBytes")].toInteger();
    }
    return std::nullopt;
}

const httplib::Headers kBlockBlob{{"x-ms-blob-type", "BlockBlob"}};

} // namespace

TEST(BlobUpload, StreamsALargeBodyToDiskByteForByte)
{
    TestServer server({QStringLiteral("--auto-approve"), QLatin1String(kAna), QStringLiteral("--test-hooks")});
    const Ticket ticket = uploadTarget(server, server.accessToken());

    // Sent in pieces from a generator, so the test never holds the whole body either.
    constexpr size_t kSize = 48 * 1024 * 1024;
    constexpr size_t kPiece = 64 * 1024;
    QCryptographicHash sent(QCryptographicHash::Sha256);
    std::string piece(kPiece, '\0');
    auto client = server.client();
    const auto result = client->Put(
        ticket.path, kBlockBlob, kSize,
        [&](size_t offset, size_t length, httplib::DataSink &sink) {
            for (size_t i = 0; i < piece.size(); ++i)
                piece[i] = static_cast<char>((offset + i) * 2654435761u >> 13);
            const size_t count = std::min(length, kPiece);
            sent.addData(QByteArrayView(piece.data(), static_cast<qsizetype>(count)));
            return sink.write(piece.data(), count);
        },
        "video/mp4");
    ASSERT_TRUE(result) << httplib::to_string(result.error());
    EXPECT_EQ(result->status, 201);

    QFile stored(server.dataDir() + QStringLiteral("/blobs/") + ticket.blobName);
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    QCryptographicHash received(QCryptographicHash::Sha256);
    received.addData(&stored);
    EXPECT_EQ(received.result(), sent.result());
    EXPECT_EQ(storedSize(server, ticket.blobName), static_cast<qint64>(kSize));
    EXPECT_TRUE(QDir(server.dataDir() + QStringLiteral("/blobs/incoming")).isEmpty());
}

TEST(BlobUpload, RefusesAnythingButASignedBlockBlobPut)
{
    TestServer server({QStringLiteral("--auto-approve"), QLatin1String(kAna), QStringLiteral("--test-hooks")});
    const QString token = server.accessToken();
    const Ticket ticket = uploadTarget(server, token);
    const Ticket other = uploadTarget(server, token);
    const std::string query = ticket.path.substr(ticket.path.find('?'));
    const auto withParam = [&](const char *name, const char *value) {
        QUrl url(QStringLiteral("http://host") + QString::fromStdString(ticket.path));
        QUrlQuery items(url);
        items.removeQueryItem(QLatin1String(name));
        if (value)
            items.addQueryItem(QLatin1String(name), QLatin1String(value));
        url.setQuery(items);
        return url.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString();
    };
    struct Case {
        const char *name;
        const char *method;
        std::string path;
        httplib::Headers headers;
        int status;
    };
    const Case cases[] = {
        {"no blob type", "PUT", ticket.path, {}, 400},
        {"other blob type", "PUT", ticket.path, {{"x-ms-blob-type", "AppendBlob"}}, 400},
        {"forged signature", "PUT", withParam("signature", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"), kBlockBlob, 403},
        {"no signature", "PUT", withParam("signature", nullptr), kBlockBlob, 403},
        {"later expiry", "PUT", withParam("expires", "99999999999"), kBlockBlob, 403},
        {"signature of another blob", "PUT", "/blobs/" + other.blobName.toStdString() + query, kBlockBlob, 403},
        {"not a blob name", "PUT", "/blobs/..%2Ftovrika.sqlite3" + query, kBlockBlob, 404},
        {"read through the upload address", "GET", ticket.path, {}, 405},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        const Reply reply = server.send(test.method, test.path, "sixteen bytes!!!", test.headers, "video/mp4");
        EXPECT_EQ(reply.status, test.status) << reply.body;
        EXPECT_FALSE(reply.object().value(QStringLiteral("title")).toString().isEmpty());
    }
    EXPECT_EQ(storedSize(server, ticket.blobName), std::nullopt);

    EXPECT_EQ(server.send("PUT", ticket.path, "sixteen bytes!!!", kBlockBlob, "video/mp4").status, 201);
    EXPECT_EQ(storedSize(server, ticket.blobName), 16);

    // The address expires after an hour, even for a blob that may be written again.
    server.advanceClock(3601);
    const Reply expired = server.send("PUT", ticket.path, "again", kBlockBlob, "video/mp4");
    EXPECT_EQ(expired.status, 403);
    EXPECT_TRUE(expired.object().value(QStringLiteral("title")).toString().contains(QStringLiteral("expired")));
    EXPECT_EQ(storedSize(server, ticket.blobName), 16);
}

TEST(BlobUpload, AnswersExpectContinueBeforeTheBodyIsSent)
{
    TestServer server({QStringLiteral("--auto-approve"), QLatin1String(kAna), QStringLiteral("--test-hooks")});
    const Ticket ticket = uploadTarget(server, server.accessToken());
    // Clients that send large bodies only after "100 Continue" learn of a refusal first.
    const auto firstAnswer = [&](const std::string &path) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(server.port()));
        EXPECT_TRUE(socket.waitForConnected(5000));
        socket.write(QByteArray::fromStdString("PUT " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nx-ms-blob-type: BlockBlob\r\n"
                                               "Content-Type: video/mp4\r\nContent-Length: 5000000\r\nExpect: 100-continue\r\n\r\n"));
        QByteArray answer;
        while (!answer.contains("\r\n\r\n") && socket.waitForReadyRead(5000))
            answer += socket.readAll();
        // A refusal must say how long its body is, as the connection may stay open.
        const QRegularExpressionMatch length = QRegularExpression(QStringLiteral("Content-Length: (\\d+)"), QRegularExpression::CaseInsensitiveOption)
                                                   .match(QString::fromLatin1(answer));
        if (length.hasMatch()) {
            const qsizetype total = answer.indexOf("\r\n\r\n") + 4 + length.captured(1).toInt();
            while (answer.size() < total && socket.waitForReadyRead(5000))
                answer += socket.readAll();
        }
        return answer;
    };
    const QByteArray refused = firstAnswer("/blobs/" + ticket.blobName.toStdString() + "?expires=1&signature=AAAA");
    EXPECT_TRUE(refused.startsWith("HTTP/1.1 403")) << refused.toStdString();
    EXPECT_TRUE(refused.contains("signature")) << "the refusal arrives whole: " << refused.toStdString();
    EXPECT_TRUE(firstAnswer(ticket.path).startsWith("HTTP/1.1 100 Continue"));
    EXPECT_EQ(server.get("/healthz").status, 200);
}
