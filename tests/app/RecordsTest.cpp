#include "TestSupport.h"
#include "app/AppPhase.h"
#include "app/AppVersion.h"
#include "app/Config.h"
#include "app/LastSelection.h"
#include "app/RecentCapture.h"
#include "app/TovrikaUrl.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

TEST(LastSelection, JsonForm)
{
    const LastSelection region{7, QRectF(10, 20, 300.5, 200)};
    EXPECT_EQ(region.toJson(), QByteArray(R"({"displayID":7,"rect":[[10,20],[300.5,200]]})"));
    EXPECT_EQ(LastSelection::fromJson(region.toJson()), region);

    const LastSelection whole{4294967295u, std::nullopt};
    EXPECT_EQ(whole.toJson(), QByteArray(R"({"displayID":4294967295})"));
    EXPECT_EQ(LastSelection::fromJson(whole.toJson()), whole);

    for (const char *bad : {R"({"rect":[[0,0],[1,1]]})", R"({"displayID":"7"})", R"({"displayID":1.5})",
                            R"({"displayID":4294967296})", R"({"displayID":7,"rect":[[0,0]]})",
                            R"({"displayID":7,"rect":[[0,0],[1,"x"]]})", "[]", ""})
        EXPECT_EQ(LastSelection::fromJson(bad), std::nullopt) << bad;
}

TEST(RecentCapture, JsonFormWithReferenceDate)
{
    RecentCapture shot;
    shot.slug = QStringLiteral("abc");
    shot.url = QStringLiteral("https://share.example/v/abc");
    shot.isScreenshot = true;
    shot.date = QDateTime(QDate(2001, 1, 2), QTime(0, 0, 1, 500), Qt::UTC);
    RecentCapture video = shot;
    video.slug = QStringLiteral("def");
    video.isScreenshot = false;
    video.filePath = QStringLiteral("/home/me/Movies/Tovrika/Screen Recording.mp4");

    const QByteArray json = RecentCapture::listToJson({shot, video});
    const QJsonDocument document = QJsonDocument::fromJson(json);
    EXPECT_DOUBLE_EQ(document[0][QStringLiteral("date")].toDouble(), 86401.5);
    EXPECT_TRUE(document[0][QStringLiteral("filePath")].isUndefined());
    EXPECT_EQ(document[1][QStringLiteral("filePath")].toString(), *video.filePath);
    EXPECT_EQ(RecentCapture::listFromJson(json), (QList<RecentCapture>{shot, video}));

    // Every key but filePath is required; one bad entry spoils the list.
    for (const char *bad : {R"([{"slug":"a","url":"u","isScreenshot":true}])",
                            R"([{"slug":"a","url":"u","isScreenshot":"yes","date":1}])",
                            R"([{"slug":"a","url":"u","isScreenshot":true,"date":1,"filePath":3}])",
                            R"([{"slug":"a","url":"u","isScreenshot":true,"date":1}, 5])", "{}", "garbage"})
        EXPECT_EQ(RecentCapture::listFromJson(bad), std::nullopt) << bad;
}

TEST(AppPhase, DescriptionsAndEquality)
{
    const QDateTime started(QDate(2026, 12, 11), QTime(2, 44, 42), Qt::UTC);
    EXPECT_EQ(AppPhase::idle().description(), QStringLiteral("idle"));
    EXPECT_EQ(AppPhase::recording(started).description(), QStringLiteral("recording(started: 2026-12-11T02:44:42Z)"));
    EXPECT_EQ(AppPhase::uploading(42).description(), QStringLiteral("uploading(percent: 42)"));
    EXPECT_NE(AppPhase::uploading(42), AppPhase::uploading(43));
    EXPECT_EQ(AppPhase::recording(started), AppPhase::recording(started));
}

TEST(TovrikaUrl, RecordRequests)
{
    struct Case {
        const char *url;
        bool record;
    };
    for (const Case &c : {Case{"tovrika://record", true}, Case{"TOVRIKA://Record", true}, Case{"tovrika:record", true},
                          Case{"tovrika:/record/", true}, Case{"tovrika://stop", false}, Case{"tovrika://auth?code=1", false},
                          Case{"https://record", false}, Case{"tovrika:", false}})
        EXPECT_EQ(TovrikaUrl::isRecordRequest(QUrl(QString::fromLatin1(c.url))), c.record) << c.url;
}

TEST(AppVersion, Label)
{
    EXPECT_EQ(AppVersion::label(QStringLiteral("1.4"), QStringLiteral("87")), QStringLiteral("1.4 (87)"));
    EXPECT_EQ(AppVersion::label(QStringLiteral("1.4"), QString()), QStringLiteral("1.4"));
    EXPECT_EQ(AppVersion::label(QString(), QStringLiteral("87")), QStringLiteral("87"));
    EXPECT_EQ(AppVersion::label(QString(), QString()), QString());
    EXPECT_FALSE(AppVersion::label().isEmpty());
}

TEST(Config, ServiceAddressesFromFileAndEnvironment)
{
    TestSupport::PrivateHome home;
    const QString file = home.path() + QStringLiteral("/config.json");

    Config::Service defaults = Config::readService(file, {}, {});
    EXPECT_EQ(defaults.apiBase, QUrl(QStringLiteral("http://127.0.0.1:8321/api")));
    EXPECT_TRUE(defaults.problems.isEmpty());

    TestSupport::writeFile(file, R"({"apiBase": "https://tovrika.example.com/api/", "authority": "http://login.example.com/t",
                                     "clientId": "c-1"})");
    Config::Service fromFile = Config::readService(file, {}, {});
    EXPECT_EQ(fromFile.apiBase, QUrl(QStringLiteral("https://tovrika.example.com/api")));
    EXPECT_EQ(fromFile.authority, defaults.authority); // plain http off loopback is refused
    EXPECT_EQ(fromFile.clientId, QStringLiteral("c-1"));
    EXPECT_EQ(fromFile.problems.size(), 1);

    Config::Service fromEnv = Config::readService(file, QStringLiteral("http://localhost:9000/api"),
                                                  QStringLiteral("http://[::1]:9000/tenant"));
    EXPECT_EQ(fromEnv.apiBase, QUrl(QStringLiteral("http://localhost:9000/api")));
    EXPECT_EQ(fromEnv.authority, QUrl(QStringLiteral("http://[::1]:9000/tenant")));

    TestSupport::writeFile(file, "{ broken");
    EXPECT_EQ(Config::readService(file, {}, {}).apiBase, defaults.apiBase);
}

TEST(Config, CapturesFolderIsUnderTheRealHome)
{
    qunsetenv("TOVRIKA_CAPTURES_DIR");
    EXPECT_TRUE(Config::capturesFolder().endsWith(QStringLiteral("/Movies/Tovrika")));
    EXPECT_EQ(Config::postersFolder(), Config::capturesFolder() + QStringLiteral("/.posters"));
}
