// Who may call the API: bearer tokens of the authority, clients recent enough, and the one
// call that needs neither. Also what survives a restart and what a bad command line says.

#include "TestServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace ServerTest;

TEST(ApiAccess, EveryCallNeedsAValidBearerToken)
{
    TestServer server({QStringLiteral("--auto-approve"), QLatin1String(kAna), QStringLiteral("--test-hooks")});
    const QString token = server.accessToken();
    struct Case {
        const char *name;
        httplib::Headers headers;
    };
    const Case refused[] = {
        {"no header", {{"User-Agent", kUserAgent}}},
        {"unknown token", {{"User-Agent", kUserAgent}, {"Authorization", "Bearer not-a-token"}}},
        {"wrong scheme", {{"User-Agent", kUserAgent}, {"Authorization", "Basic " + token.toStdString()}}},
    };
    for (const Case &test : refused) {
        SCOPED_TRACE(test.name);
        const Reply reply = server.get("/api/recordings/links", test.headers);
        EXPECT_EQ(reply.status, 401);
        EXPECT_EQ(reply.object().value(QStringLiteral("code")).toString(), QStringLiteral("invalid_token"));
        EXPECT_FALSE(reply.object().value(QStringLiteral("title")).toString().isEmpty());
        EXPECT_EQ(reply.header("WWW-Authenticate").rfind("Bearer", 0), 0u);
    }
    EXPECT_EQ(server.api("GET", "recordings/links", token).status, 200);
    server.advanceClock(3601);
    EXPECT_EQ(server.api("GET", "recordings/links", token).status, 401) << "access tokens last an hour";
}

TEST(ApiAccess, OlderClientsAreToldToUpdate)
{
    TestServer server({QStringLiteral("--auto-approve"), QLatin1String(kAna), QStringLiteral("--min-client-version"), QStringLiteral("2.1.0")});
    const QString token = server.accessToken();
    struct Case {
        const char *userAgent;
        bool accepted;
    };
    const Case cases[] = {
        {"Tovrika/2.0.9 (140)", false}, {"Tovrika/2.1 (150)", true},  {"Tovrika/2.1.0 (151)", true}, {"Tovrika/10.0.0 (1) QtNetwork/6.4", true},
        {"Tovrika/1.99.99 (9)", false}, {"Mozilla/5.0", false},       {"", false},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.userAgent);
        const Reply reply = server.get("/api/groups", {{"User-Agent", test.userAgent}, {"Authorization", "Bearer " + token.toStdString()}});
        if (test.accepted) {
            EXPECT_EQ(reply.status, 200);
        } else {
            EXPECT_EQ(reply.status, 401);
            EXPECT_EQ(reply.object().value(QStringLiteral("code")).toString(), QStringLiteral("update_required"));
        }
    }
    // The version is judged before the token, so an old client is not sent to sign in again.
    EXPECT_EQ(server.get("/api/groups", {{"User-Agent", "Tovrika/1.0 (1)"}}).object().value(QStringLiteral("code")).toString(), QStringLiteral("update_required"));
}

TEST(ApiAccess, SignInEventsArriveWithoutSignInFromAnyVersion)
{
    TestServer server({QStringLiteral("--test-hooks"), QStringLiteral("--min-client-version"), QStringLiteral("9.0")});
    const QJsonObject event{{QStringLiteral("platform"), QStringLiteral("macOS")}, {QStringLiteral("version"), QStringLiteral("1.0 (1)")},
                            {QStringLiteral("event"), QStringLiteral("sign_in_fail")}, {QStringLiteral("code"), QStringLiteral("Sign-in was cancelled.")},
                            {QStringLiteral("hint"), QString()}};
    EXPECT_EQ(server.api("POST", "support/desktop-auth", QString(), event).status, 204);
    EXPECT_EQ(server.api("POST", "support/desktop-auth", QString(), QJsonObject{{QStringLiteral("event"), 3}}).status, 400);
    const QJsonArray stored = server.state().value(QStringLiteral("authEvents")).toArray();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.at(0).toObject().value(QStringLiteral("event")).toString(), QStringLiteral("sign_in_fail"));
}

TEST(ServerLifecycle, RestartKeepsDataTokensAndTheDirectory)
{
    QTemporaryDir dir;
    const QString data = dir.path() + QStringLiteral("/state");
    const QStringList arguments{QStringLiteral("--auto-approve"), QLatin1String(kAna), QStringLiteral("--test-hooks")};
    QString token;
    {
        TestServer first(arguments, data);
        token = first.accessToken();
        ASSERT_EQ(first.api("POST", "folders", token, QJsonObject{{QStringLiteral("name"), QStringLiteral("Kept")}}).status, 201);
        EXPECT_TRUE(first.stop()) << "stops cleanly on SIGTERM";
    }
    TestServer second(arguments, data);
    const Reply folders = second.api("GET", "folders", token);
    ASSERT_EQ(folders.status, 200);
    EXPECT_EQ(folders.json().toArray().at(0).toObject().value(QStringLiteral("name")).toString(), QStringLiteral("Kept"));
    EXPECT_EQ(second.state().value(QStringLiteral("people")).toInt(), 11) << "the directory is seeded once";
}

TEST(ServerLifecycle, BadCommandLinesSayWhatIsWrong)
{
    QTemporaryDir dir;
    struct Case {
        QStringList arguments;
        const char *mentions;
    };
    const Case cases[] = {
        {{QStringLiteral("--port"), QStringLiteral("0")}, "--data"},
        {{QStringLiteral("--port"), QStringLiteral("http"), QStringLiteral("--data"), dir.path()}, "--port"},
        {{QStringLiteral("--data"), dir.path(), QStringLiteral("--min-client-version"), QStringLiteral("two")}, "--min-client-version"},
        {{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"), dir.path(), QStringLiteral("--auto-approve"), QStringLiteral("nobody")}, "ana.ferreira@brisvale.example"},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.mentions);
        QProcess process;
        process.start(binaryPath("tovrika-server"), test.arguments);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 2);
        EXPECT_TRUE(QString::fromUtf8(process.readAllStandardError()).contains(QLatin1String(test.mentions)));
    }
}
