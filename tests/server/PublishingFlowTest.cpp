// The program's publishing road against the real service: reserve, upload, poster, share
// link with viewers, library, share page, folders, review, quiz and GIF conversion.

#include "TestServer.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

using namespace ServerTest;

namespace {

constexpr const char *kBen = "30704CB3-EC63-42FA-BBC7-DE2DC13666E1";
constexpr const char *kSalesEurope = "93bed66c-bb81-45aa-a899-4c7b98464334";

class PublishingFlow : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_media = new QTemporaryDir;
        const auto make = [](const QStringList &arguments) {
            QProcess ffmpeg;
            ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")} + arguments);
            ASSERT_TRUE(ffmpeg.waitForFinished(60000));
            ASSERT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
        };
        make({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc=duration=3:size=320x240:rate=15"), QStringLiteral("-pix_fmt"),
              QStringLiteral("yuv420p"), clipPath()});
        make({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc=size=320x240"), QStringLiteral("-frames:v"), QStringLiteral("1"),
              posterPath()});
    }
    static void TearDownTestSuite()
    {
        delete s_media;
        s_media = nullptr;
    }
    static QString clipPath() { return s_media->path() + QStringLiteral("/clip.mp4"); }
    static QString posterPath() { return s_media->path() + QStringLiteral("/poster.png"); }

    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // PUTs a file to an upload address the way the program does.
    void upload(const QString &uploadUrl, const QString &path, const char *contentType)
    {
        const QUrl url(uploadUrl);
        const Reply reply = server.send("PUT", url.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString(), contents(path).toStdString(),
                                        {{"x-ms-blob-type", "BlockBlob"}}, contentType);
        ASSERT_EQ(reply.status, 201) << reply.body;
    }

    QJsonObject call(const char *method, const std::string &path, const std::optional<QJsonObject> &body, int expectedStatus)
    {
        const Reply reply = server.api(method, path, token, body);
        EXPECT_EQ(reply.status, expectedStatus) << method << " " << path << ": " << reply.body;
        return reply.object();
    }

    QJsonArray list(const std::string &path)
    {
        const Reply reply = server.api("GET", path, token);
        EXPECT_EQ(reply.status, 200) << reply.body;
        return reply.json().toArray();
    }

    // A published recording with a poster; answers its ShareLink.
    QJsonObject publishClip(const QJsonObject &extra = {})
    {
        const QJsonObject reserved = call("POST", "recordings/reserve-link",
                                          QJsonObject{{QStringLiteral("contentType"), QStringLiteral("video/mp4")},
                                                      {QStringLiteral("titleIsDefault"), false},
                                                      {QStringLiteral("title"), QStringLiteral("Demo call")}},
                                          201);
        upload(reserved[QStringLiteral("uploadUrl")].toString(), clipPath(), "video/mp4");
        const QJsonObject poster = call("POST", "recordings/upload-url", QJsonObject{{QStringLiteral("contentType"), QStringLiteral("image/png")}}, 201);
        upload(poster[QStringLiteral("uploadUrl")].toString(), posterPath(), "image/png");
        QJsonObject body{{QStringLiteral("blobName"), reserved[QStringLiteral("blobName")]},
                         {QStringLiteral("titleIsDefault"), false},
                         {QStringLiteral("title"), QStringLiteral("Demo call")},
                         {QStringLiteral("posterBlobName"), poster[QStringLiteral("blobName")]},
                         {QStringLiteral("slug"), reserved[QStringLiteral("slug")]},
                         {QStringLiteral("notifyOnStart"), false}};
        for (auto it = extra.begin(); it != extra.end(); ++it)
            body.insert(it.key(), it.value());
        const QJsonObject link = call("POST", "recordings/share-link", body, 200);
        EXPECT_EQ(link[QStringLiteral("slug")], reserved[QStringLiteral("slug")]);
        EXPECT_EQ(link[QStringLiteral("url")], reserved[QStringLiteral("url")]);
        return link;
    }

    static QJsonObject viewers(const QJsonArray &users, const QJsonArray &groups, const QJsonArray &emails, bool askQuiz = false)
    {
        return QJsonObject{{QStringLiteral("individualUserIds"), users}, {QStringLiteral("groupIds"), groups},   {QStringLiteral("customerEmails"), emails},
                           {QStringLiteral("askSeenProof"), true},       {QStringLiteral("askQuiz"), askQuiz}, {QStringLiteral("questionCount"), 2},
                           {QStringLiteral("notifyOnStart"), true}};
    }

    static inline QTemporaryDir *s_media = nullptr;
    TestServer server{{QStringLiteral("--auto-approve"), QLatin1String(kAna), QStringLiteral("--test-hooks")}};
    QString token = server.accessToken();
};

} // namespace

TEST_F(PublishingFlow, PublishedRecordingAppearsInTheLibraryAndPlaysOnItsPage)
{
    // Sofia is in "Sales Europe" but on leave; the outside address arrives in mixed case.
    const QJsonObject link = publishClip(viewers({QLatin1String(kBen)}, {QLatin1String(kSalesEurope)}, {QStringLiteral("Pat@Customer.Example")}));
    ASSERT_TRUE(link[QStringLiteral("videoId")].isDouble());
    EXPECT_EQ(link[QStringLiteral("assignmentCount")].toInt(), 4) << "Ben, Emma, Tomás and the customer";

    const QJsonArray library = list("recordings/links");
    ASSERT_EQ(library.size(), 1);
    const QJsonObject item = library.at(0).toObject();
    EXPECT_EQ(item[QStringLiteral("slug")], link[QStringLiteral("slug")]);
    EXPECT_EQ(item[QStringLiteral("title")].toString(), QStringLiteral("Demo call"));
    EXPECT_EQ(item[QStringLiteral("itemType")].toString(), QStringLiteral("video"));
    EXPECT_EQ(item[QStringLiteral("sizeBytes")].toInteger(), QFileInfo(clipPath()).size());
    EXPECT_EQ(item[QStringLiteral("durationSeconds")].toInt(), 3);
    EXPECT_EQ(item[QStringLiteral("assignmentCount")].toInt(), 4);
    EXPECT_EQ(item[QStringLiteral("videoId")], link[QStringLiteral("videoId")]);
    EXPECT_TRUE(QDateTime::fromString(item[QStringLiteral("createdAt")].toString(), Qt::ISODateWithMs).isValid());
    EXPECT_FALSE(item.contains(QStringLiteral("folderId")));

    const std::string base = QUrl(link[QStringLiteral("url")].toString()).path().toStdString();
    const Reply thumbnail = server.get(QUrl(item[QStringLiteral("thumbUrl")].toString()).path().toStdString());
    EXPECT_EQ(thumbnail.status, 200);
    EXPECT_EQ(thumbnail.header("Content-Type"), "image/jpeg");
    EXPECT_EQ(thumbnail.body.substr(0, 2), "\xFF\xD8");

    const Reply page = server.get(base);
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("<video"), std::string::npos);
    EXPECT_NE(page.body.find(base + "/media"), std::string::npos);
    const Reply range = server.get(base + "/media", {{"Range", "bytes=0-99"}});
    EXPECT_EQ(range.status, 206);
    EXPECT_EQ(QByteArray::fromStdString(range.body), contents(clipPath()).left(100));
    EXPECT_EQ(server.send("POST", base + "/events", R"({"event":"finished"})").status, 204);

    QStringList events;
    for (const QJsonValue &event : server.state().value(QStringLiteral("linkEvents")).toArray())
        events << event[QStringLiteral("event")].toString();
    EXPECT_EQ(events, QStringList({QStringLiteral("opened"), QStringLiteral("finished")}));
}

TEST_F(PublishingFlow, LinksAreFiledInFoldersAndSentForReviewLater)
{
    const QJsonObject link = publishClip();
    EXPECT_FALSE(link.contains(QStringLiteral("videoId"))) << "no video record before anyone is asked to watch";
    const std::string slug = link[QStringLiteral("slug")].toString().toStdString();

    const QJsonObject folder = call("POST", "folders", QJsonObject{{QStringLiteral("name"), QStringLiteral(" Demos ")}}, 201);
    EXPECT_EQ(folder[QStringLiteral("name")].toString(), QStringLiteral("Demos"));
    EXPECT_EQ(folder[QStringLiteral("itemCount")].toInt(), 0);
    call("POST", "folders", QJsonObject{{QStringLiteral("name"), QStringLiteral("demos")}}, 409);
    EXPECT_EQ(call("POST", "folders", QJsonObject{{QStringLiteral("name"), QStringLiteral("Calls")}}, 201)[QStringLiteral("sortOrder")].toInt(),
              folder[QStringLiteral("sortOrder")].toInt() + 1);

    call("PATCH", "recordings/links/" + slug + "/folder", QJsonObject{{QStringLiteral("folderId"), folder[QStringLiteral("id")]}}, 204);
    EXPECT_EQ(list("recordings/links").at(0)[QStringLiteral("folderId")], folder[QStringLiteral("id")]);
    EXPECT_EQ(list("folders").at(0)[QStringLiteral("itemCount")].toInt(), 1);
    call("PATCH", "recordings/links/" + slug + "/folder", QJsonObject{{QStringLiteral("folderId"), QJsonValue::Null}}, 204);
    EXPECT_FALSE(list("recordings/links").at(0).toObject().contains(QStringLiteral("folderId")));

    const QJsonObject reviewed = call("POST", "recordings/links/" + slug + "/viewers", viewers({QLatin1String(kBen)}, {}, {QStringLiteral("ben.okafor@brisvale.example")}), 200);
    ASSERT_TRUE(reviewed[QStringLiteral("videoId")].isDouble());
    EXPECT_EQ(reviewed[QStringLiteral("assignmentCount")].toInt(), 1) << "one person, chosen twice";
    const QJsonObject again = call("POST", "recordings/links/" + slug + "/viewers", viewers({}, {QStringLiteral("9f74700a-c168-45df-abb0-01251194375a")}, {}), 200);
    EXPECT_EQ(again[QStringLiteral("videoId")], reviewed[QStringLiteral("videoId")]);
    EXPECT_EQ(again[QStringLiteral("assignmentCount")].toInt(), 3) << "Chloé and Grace join; the owner is not asked";
}

TEST_F(PublishingFlow, QuizIsPendingThenReadyThenSent)
{
    const QJsonObject link = publishClip(viewers({QLatin1String(kBen)}, {}, {}, true));
    const std::string quiz = "videos/" + std::to_string(link[QStringLiteral("videoId")].toInt()) + "/quiz";

    const QJsonObject pending = call("GET", quiz, std::nullopt, 200);
    EXPECT_EQ(pending[QStringLiteral("status")].toString(), QStringLiteral("pending"));
    EXPECT_EQ(pending[QStringLiteral("questionCount")].toInt(), 2);
    EXPECT_TRUE(pending[QStringLiteral("questions")].toArray().isEmpty());
    call("POST", quiz, QJsonObject{{QStringLiteral("includedIds"), QJsonArray()}, {QStringLiteral("useRecommended"), false}, {QStringLiteral("autoConfirm"), false}}, 409);

    server.advanceClock(6);
    const QJsonObject ready = call("GET", quiz, std::nullopt, 200);
    EXPECT_EQ(ready[QStringLiteral("status")].toString(), QStringLiteral("ready"));
    const QJsonArray questions = ready[QStringLiteral("questions")].toArray();
    ASSERT_GE(questions.size(), 3);
    int recommended = 0;
    for (const QJsonValue &question : questions) {
        const QJsonArray options = question[QStringLiteral("options")].toArray();
        EXPECT_GE(options.size(), 2);
        EXPECT_LT(question[QStringLiteral("correctIndex")].toInt(), options.size());
        EXPECT_EQ(question[QStringLiteral("included")], question[QStringLiteral("recommended")]);
        recommended += question[QStringLiteral("recommended")].toBool() ? 1 : 0;
    }
    EXPECT_EQ(recommended, 2);

    const qint64 chosen = questions.last()[QStringLiteral("id")].toInteger();
    const QJsonObject custom{{QStringLiteral("text"), QStringLiteral("Which colour bars open the clip?")},
                             {QStringLiteral("options"), QJsonArray{QStringLiteral("Test pattern"), QStringLiteral("Black")}},
                             {QStringLiteral("correctIndex"), 0}};
    const QJsonObject bad{{QStringLiteral("text"), QStringLiteral("Only one choice")}, {QStringLiteral("options"), QJsonArray{QStringLiteral("Yes")}}, {QStringLiteral("correctIndex"), 0}};
    call("POST", quiz,
         QJsonObject{{QStringLiteral("includedIds"), QJsonArray{chosen}}, {QStringLiteral("useRecommended"), false}, {QStringLiteral("autoConfirm"), false},
                     {QStringLiteral("customQuestions"), QJsonArray{bad}}},
         400);
    const QJsonObject sent = call("POST", quiz,
                                  QJsonObject{{QStringLiteral("includedIds"), QJsonArray{chosen}}, {QStringLiteral("useRecommended"), false},
                                              {QStringLiteral("autoConfirm"), false}, {QStringLiteral("customQuestions"), QJsonArray{custom}}},
                                  200);
    EXPECT_EQ(sent[QStringLiteral("status")].toString(), QStringLiteral("confirmed"));
    EXPECT_EQ(sent[QStringLiteral("questionCount")].toInt(), 2) << "the chosen question and the custom one";
    EXPECT_EQ(call("GET", quiz, std::nullopt, 200)[QStringLiteral("status")].toString(), QStringLiteral("confirmed"));
    call("POST", quiz, QJsonObject{{QStringLiteral("includedIds"), QJsonArray()}, {QStringLiteral("useRecommended"), true}, {QStringLiteral("autoConfirm"), false}}, 409);
}

TEST_F(PublishingFlow, QuizLeftToTheServiceIsSentWhenWritten)
{
    const QJsonObject link = publishClip(viewers({QLatin1String(kBen)}, {}, {}, true));
    const std::string quiz = "videos/" + std::to_string(link[QStringLiteral("videoId")].toInt()) + "/quiz";
    const QJsonObject later = call("POST", quiz, QJsonObject{{QStringLiteral("includedIds"), QJsonArray()}, {QStringLiteral("useRecommended"), true}, {QStringLiteral("autoConfirm"), true}}, 200);
    EXPECT_EQ(later[QStringLiteral("status")].toString(), QStringLiteral("pending"));
    server.advanceClock(6);
    const QJsonObject sent = call("GET", quiz, std::nullopt, 200);
    EXPECT_EQ(sent[QStringLiteral("status")].toString(), QStringLiteral("confirmed"));
    EXPECT_EQ(sent[QStringLiteral("questionCount")].toInt(), 2);
}

TEST_F(PublishingFlow, GifRecordingIsConvertedAndPublishedUnderItsReservedLink)
{
    const QJsonObject reserved = call("POST", "recordings/reserve-link",
                                      QJsonObject{{QStringLiteral("contentType"), QStringLiteral("image/gif")}, {QStringLiteral("titleIsDefault"), true}}, 201);
    const QJsonObject video = call("POST", "recordings/upload-url", QJsonObject{{QStringLiteral("contentType"), QStringLiteral("video/mp4")}}, 201);
    upload(video[QStringLiteral("uploadUrl")].toString(), clipPath(), "video/mp4");

    const QJsonObject gif = call("POST", "recordings/to-gif", QJsonObject{{QStringLiteral("blobName"), video[QStringLiteral("blobName")]}}, 200);
    const QString gifBlob = gif[QStringLiteral("blobName")].toString();
    EXPECT_TRUE(gifBlob.endsWith(QStringLiteral(".gif")));
    EXPECT_TRUE(contents(server.dataDir() + QStringLiteral("/blobs/") + gifBlob).startsWith("GIF89a"));
    EXPECT_EQ(call("POST", "recordings/to-gif", QJsonObject{{QStringLiteral("blobName"), video[QStringLiteral("blobName")]}}, 200)[QStringLiteral("blobName")].toString(), gifBlob)
        << "the same video is converted once";

    const QJsonObject link = call("POST", "recordings/share-link",
                                  QJsonObject{{QStringLiteral("blobName"), gifBlob}, {QStringLiteral("titleIsDefault"), true}, {QStringLiteral("slug"), reserved[QStringLiteral("slug")]},
                                              {QStringLiteral("notifyOnStart"), false}},
                                  200);
    EXPECT_EQ(link[QStringLiteral("slug")], reserved[QStringLiteral("slug")]);
    const QJsonObject item = list("recordings/links").at(0).toObject();
    EXPECT_EQ(item[QStringLiteral("itemType")].toString(), QStringLiteral("gif"));
    EXPECT_FALSE(item.contains(QStringLiteral("durationSeconds")));
    EXPECT_NE(server.get(QUrl(link[QStringLiteral("url")].toString()).path().toStdString()).body.find("<img"), std::string::npos);

    // Pictures have nothing to write a quiz from.
    const QJsonObject reviewed = call("POST", "recordings/links/" + link[QStringLiteral("slug")].toString().toStdString() + "/viewers",
                                      viewers({QLatin1String(kBen)}, {}, {}, true), 200);
    const std::string quiz = "videos/" + std::to_string(reviewed[QStringLiteral("videoId")].toInt()) + "/quiz";
    EXPECT_EQ(call("GET", quiz, std::nullopt, 200)[QStringLiteral("status")].toString(), QStringLiteral("failed"));
    call("POST", quiz, QJsonObject{{QStringLiteral("includedIds"), QJsonArray()}, {QStringLiteral("useRecommended"), true}, {QStringLiteral("autoConfirm"), true}}, 409);
}

TEST_F(PublishingFlow, DirectoryGroupsAndDiagnostics)
{
    struct Search {
        const char *query;
        QStringList names;
    };
    const Search searches[] = {
        {"%20GRACE%20", {QStringLiteral("Grace Liu")}},
        {"chlo%C3%A9", {QStringLiteral("Chlo\u00e9 Martin")}},
        {"69a2378c", {QStringLiteral("Kwame Osei")}},
        {"", {}},
        {"zz", {}},
    };
    for (const Search &search : searches) {
        SCOPED_TRACE(search.query);
        QStringList names;
        for (const QJsonValue &person : list(std::string("users/search?q=") + search.query)) {
            EXPECT_TRUE(person[QStringLiteral("email")].toString().contains(QLatin1Char('@')));
            EXPECT_EQ(person[QStringLiteral("id")].toString().size(), 36);
            names << person[QStringLiteral("displayName")].toString();
        }
        EXPECT_EQ(names, search.names);
    }
    EXPECT_EQ(server.api("GET", "users/search", token).status, 400);

    int exclusionLists = 0;
    for (const QJsonValue &group : list("groups")) {
        exclusionLists += group[QStringLiteral("isExclusionList")].toBool() ? 1 : 0;
        EXPECT_EQ(group[QStringLiteral("isOwner")].toBool(), group[QStringLiteral("name")].toString() == QStringLiteral("Design"));
    }
    EXPECT_EQ(exclusionLists, 1);

    call("POST", "support/desktop-logs",
         QJsonObject{{QStringLiteral("platform"), QStringLiteral("macOS")}, {QStringLiteral("version"), QStringLiteral("1.0 (1)")},
                     {QStringLiteral("log"), QStringLiteral("2024-05-01T10:00:00Z session expired")}, {QStringLiteral("automatic"), true}},
         204);
    const QJsonArray logs = server.state().value(QStringLiteral("diagnostics")).toArray();
    ASSERT_EQ(logs.size(), 1);
    EXPECT_EQ(logs.at(0)[QStringLiteral("automatic")].toBool(), true);
    EXPECT_TRUE(logs.at(0)[QStringLiteral("log")].toString().endsWith(QStringLiteral("session expired")));
}
