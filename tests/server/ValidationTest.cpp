// Bad requests to the API are answered with a 4xx whose JSON "title" says what was wrong,
// and change nothing.

#include "TestServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <gtest/gtest.h>

using namespace ServerTest;

TEST(Validation, BadRequestsAreRefusedWithATitleAndChangeNothing)
{
    TestServer server({QStringLiteral("--test-hooks")});
    const QString token = server.accessToken();

    // One published link and one upload target that never receives its bytes.
    const QJsonObject reserved = server.api("POST", "recordings/reserve-link", token,
                                            QJsonObject{{QStringLiteral("contentType"), QStringLiteral("video/mp4")}, {QStringLiteral("titleIsDefault"), true}})
                                     .object();
    const QUrl uploadUrl(reserved[QStringLiteral("uploadUrl")].toString());
    ASSERT_EQ(server.send("PUT", uploadUrl.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString(), "not really a video", {{"x-ms-blob-type", "BlockBlob"}}, "video/mp4").status,
              201);
    const std::string slug = reserved[QStringLiteral("slug")].toString().toStdString();
    const std::string blob = reserved[QStringLiteral("blobName")].toString().toStdString();
    ASSERT_EQ(server.api("POST", "recordings/share-link", token,
                         QJsonObject{{QStringLiteral("blobName"), reserved[QStringLiteral("blobName")]}, {QStringLiteral("titleIsDefault"), true},
                                     {QStringLiteral("slug"), reserved[QStringLiteral("slug")]}, {QStringLiteral("durationSeconds"), 4}})
                  .status,
              200);
    const std::string empty = server.api("POST", "recordings/upload-url", token, QJsonObject{{QStringLiteral("contentType"), QStringLiteral("video/mp4")}})
                                  .object()[QStringLiteral("blobName")]
                                  .toString()
                                  .toStdString();
    const QJsonObject before = server.state();

    struct Case {
        const char *method;
        std::string path;
        std::string body;
        int status;
    };
    const std::string allViewers = R"("askSeenProof":true,"askQuiz":false,"questionCount":5,"notifyOnStart":false)";
    const Case cases[] = {
        {"POST", "recordings/reserve-link", "{not json", 400},
        {"POST", "recordings/reserve-link", R"(["contentType"])", 400},
        {"POST", "recordings/reserve-link", R"({"contentType":5,"titleIsDefault":true})", 400},
        {"POST", "recordings/reserve-link", R"({"contentType":"video/mp4"})", 400},
        {"POST", "recordings/reserve-link", R"({"contentType":"not a type","titleIsDefault":true})", 400},
        {"POST", "recordings/upload-url", R"({"contentType":null})", 400},
        {"POST", "recordings/share-link", R"({"blobName":"11111111-2222-3333-4444-555555555555.mp4","titleIsDefault":true})", 404},
        {"POST", "recordings/share-link", R"({"blobName":")" + empty + R"(","titleIsDefault":true})", 409},
        {"POST", "recordings/share-link", R"({"blobName":")" + blob + R"(","titleIsDefault":true,"slug":"nope"})", 404},
        {"POST", "recordings/share-link", R"({"blobName":")" + blob + R"(","titleIsDefault":true,"durationSeconds":"3"})", 400},
        {"POST", "recordings/share-link", R"({"blobName":")" + blob + R"(","titleIsDefault":true,"posterBlobName":")" + blob + R"("})", 400},
        {"POST", "recordings/share-link", R"({"blobName":")" + blob + R"(","titleIsDefault":true,"individualUserIds":["00000000-0000-0000-0000-000000000000"]})", 400},
        {"POST", "recordings/share-link", R"({"blobName":")" + blob + R"(","titleIsDefault":true,"voices":[{"language":"de","voice":"x"}]})", 400},
        {"POST", "recordings/to-gif", R"({"blobName":")" + empty + R"("})", 409},
        {"PATCH", "recordings/links/" + slug + "/folder", "{}", 400},
        {"PATCH", "recordings/links/" + slug + "/folder", R"({"folderId":"1"})", 400},
        {"PATCH", "recordings/links/" + slug + "/folder", R"({"folderId":999})", 404},
        {"PATCH", "recordings/links/unknown/folder", R"({"folderId":null})", 404},
        {"POST", "recordings/links/" + slug + "/viewers", R"({"individualUserIds":[]})", 400},
        {"POST", "recordings/links/" + slug + "/viewers", R"({"individualUserIds":[],"groupIds":["1ed977c4-65d0-4f78-bbd2-6c67de42dcd2"],"customerEmails":[],)" + allViewers + "}", 400},
        {"POST", "recordings/links/" + slug + "/viewers", R"({"individualUserIds":[],"groupIds":[],"customerEmails":["@nobody"],)" + allViewers + "}", 400},
        {"POST", "folders", R"({"name":"   "})", 400},
        {"POST", "folders", R"({"name":["Demos"]})", 400},
        {"GET", "videos/999/quiz", "", 404},
        {"POST", "videos/abc/quiz", "{}", 404},
        {"POST", "support/desktop-logs", R"({"platform":"macOS"})", 400},
        {"GET", "no/such/endpoint", "", 404},
    };
    const httplib::Headers headers{{"User-Agent", kUserAgent}, {"Authorization", "Bearer " + token.toStdString()}};
    for (const Case &test : cases) {
        SCOPED_TRACE(test.method + std::string(" ") + test.path + " " + test.body);
        const Reply reply = server.send(test.method, "/api/" + test.path, test.body, headers);
        EXPECT_EQ(reply.status, test.status) << reply.body;
        EXPECT_FALSE(reply.object().value(QStringLiteral("title")).toString().isEmpty()) << reply.body;
    }

    // Somebody else's link, blob or folder is as good as unknown.
    const QString ben = server.accessToken(QStringLiteral("ben.okafor@brisvale.example"));
    EXPECT_EQ(server.api("PATCH", "recordings/links/" + slug + "/folder", ben, QJsonObject{{QStringLiteral("folderId"), QJsonValue::Null}}).status, 404);
    EXPECT_EQ(server.api("POST", "recordings/share-link", ben,
                         QJsonObject{{QStringLiteral("blobName"), QString::fromStdString(blob)}, {QStringLiteral("titleIsDefault"), true}})
                  .status,
              404);
    EXPECT_TRUE(server.api("GET", "recordings/links", ben).json().toArray().isEmpty());

    QJsonObject after = server.state();
    for (const char *key : {"links", "folders", "assignments", "diagnostics"})
        EXPECT_EQ(after.value(QLatin1String(key)), before.value(QLatin1String(key))) << key;
    EXPECT_EQ(after.value(QStringLiteral("blobs")).toArray().size(), before.value(QStringLiteral("blobs")).toArray().size());
}
