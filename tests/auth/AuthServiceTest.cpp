#include "TestSupport.h"
#include "app/Config.h"
#include "auth/AuthError.h"
#include "auth/AuthService.h"
#include "auth/Keychain.h"
#include "auth/Pkce.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/FakePlatform.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QUrlQuery>
#include <gtest/gtest.h>

namespace {
QString idToken(const QJsonObject &claims)
{
    return QStringLiteral("eyJhbGciOiJub25lIn0.") + Pkce::base64UrlNoPadding(QJsonDocument(claims).toJson()) + QStringLiteral(".sig");
}

QByteArray tokenReply(const QString &accessToken, const QJsonObject &extra = {})
{
    QJsonObject reply = extra;
    reply.insert(QStringLiteral("access_token"), accessToken);
    return QJsonDocument(reply).toJson();
}

QString queryItem(const QUrl &url, const QString &key)
{
    return QUrlQuery(url).queryItemValue(key, QUrl::FullyDecoded);
}

QUrlQuery form(const FakeHttpServer::Request &request)
{
    return QUrlQuery(QString::fromUtf8(request.body));
}

// The service against a scripted token endpoint and a scripted sign-in page.
struct AuthFixture : ::testing::Test {
    AuthFixture()
    {
        Config::Service service = Config::service();
        service.authority = server.url(QStringLiteral("/tenant"));
        Config::setService(service);
        auth.onAuthEvent = [this](const QString &event, const QString &code) { events << event + QLatin1Char('/') + code; };
    }
    ~AuthFixture() override { Config::setService(saved); }

    // The sign-in page approves with a code and the state it was given.
    void approveSignIns()
    {
        fake.webAuth.respond = [](const QUrl &url) {
            return QUrl(QStringLiteral("tovrika://auth?code=the-code&state=") + queryItem(url, QStringLiteral("state")));
        };
    }
    std::optional<QString> tokenOrError()
    {
        QString token;
        const auto failure = TestSupport::failureOf(auth.validToken(), &token);
        return failure ? QStringLiteral("error: ") + *failure : token;
    }
    std::optional<QString> signInError() { return TestSupport::failureOf(auth.signIn()); }

    Config::Service saved = Config::service();
    TestSupport::PrivateHome home;
    FakePlatform fake;
    FakeHttpServer server;
    QNetworkAccessManager network;
    AuthService auth{fake.settings, fake.webAuth, network};
    QStringList events;
};
} // namespace

TEST(Pkce, ChallengeOfTheRfc7636Example)
{
    EXPECT_EQ(Pkce::challenge(QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk")),
              QStringLiteral("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
    static const QRegularExpression urlSafe(QStringLiteral("^[A-Za-z0-9_-]+$"));
    EXPECT_EQ(Pkce::randomUrlSafe(32).size(), 43);
    EXPECT_EQ(Pkce::randomUrlSafe(16).size(), 22);
    EXPECT_TRUE(urlSafe.match(Pkce::randomUrlSafe(32)).hasMatch());
    EXPECT_NE(Pkce::randomUrlSafe(32), Pkce::randomUrlSafe(32));
}

TEST(AuthService, AuthorizationUrlItemsInOrder)
{
    const QUrl url = AuthService::authorizationUrl(QStringLiteral("chal"), QStringLiteral("st"), false, QStringLiteral("ana@example.com"));
    EXPECT_TRUE(url.path().endsWith(QStringLiteral("/oauth2/v2.0/authorize")));
    QStringList keys;
    for (const auto &[key, value] : QUrlQuery(url).queryItems())
        keys << key;
    EXPECT_EQ(keys, (QStringList{"client_id", "response_type", "redirect_uri", "response_mode", "scope", "code_challenge",
                                 "code_challenge_method", "state", "login_hint"}));
    EXPECT_EQ(queryItem(url, QStringLiteral("redirect_uri")), QStringLiteral("tovrika://auth"));
    EXPECT_TRUE(queryItem(url, QStringLiteral("scope")).startsWith(QStringLiteral("openid profile offline_access api://")));
    EXPECT_EQ(queryItem(url, QStringLiteral("login_hint")), QStringLiteral("ana@example.com"));

    struct Case {
        bool force;
        std::optional<QString> hint;
        QString key;
        QString value;
    };
    for (const Case &c : {Case{true, QStringLiteral("ana@example.com"), QStringLiteral("prompt"), QStringLiteral("login")},
                          Case{false, std::nullopt, QStringLiteral("prompt"), QStringLiteral("select_account")},
                          Case{false, QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e@example.com"), QStringLiteral("prompt"),
                               QStringLiteral("select_account")}}) {
        const QUrl other = AuthService::authorizationUrl(QStringLiteral("c"), QStringLiteral("s"), c.force, c.hint);
        EXPECT_EQ(queryItem(other, c.key), c.value);
        EXPECT_FALSE(QUrlQuery(other).hasQueryItem(QStringLiteral("login_hint")));
    }
}

TEST(AuthService, HelperRules)
{
    EXPECT_EQ(AuthService::formBody({{"grant_type", "refresh_token"}, {"refresh_token", "a b+c/é~._-"}}),
              QByteArray("grant_type=refresh_token&refresh_token=a%20b%2Bc%2F%C3%A9~._-"));

    const QString token = idToken({{"name", "Ana Lima"}, {"preferred_username", "ana@example.com"}, {"n", 3}});
    EXPECT_EQ(AuthService::claim(token, QStringLiteral("name")), QStringLiteral("Ana Lima"));
    EXPECT_EQ(AuthService::claim(token, QStringLiteral("n")), std::nullopt);
    EXPECT_EQ(AuthService::claim(QStringLiteral("only-one-piece"), QStringLiteral("name")), std::nullopt);
    EXPECT_EQ(AuthService::claim(QStringLiteral("a.!!!.c"), QStringLiteral("name")), std::nullopt);

    EXPECT_TRUE(AuthService::isOpaqueGuidUsername(QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E@contoso.com")));
    EXPECT_TRUE(AuthService::isOpaqueGuidUsername(QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e")));
    EXPECT_FALSE(AuthService::isOpaqueGuidUsername(QStringLiteral("ana@0f8fad5b-d9cb-469f-a165-70867728950e")));

    EXPECT_TRUE(AuthService::isStalePasswordSession(QStringLiteral("AADSTS50133%3A+Session+is+invalid")));
    EXPECT_TRUE(AuthService::isStalePasswordSession(QStringLiteral("your password+expired")));
    EXPECT_FALSE(AuthService::isStalePasswordSession(QStringLiteral("access_denied")));
    EXPECT_EQ(AuthService::friendlyAuthError(QStringLiteral("User%20declined")), QStringLiteral("User declined"));
    EXPECT_EQ(AuthService::friendlyAuthError(QStringLiteral("")), std::nullopt);
    EXPECT_EQ(AuthService::friendlyAuthError(QStringLiteral("AADSTS50133")),
              QStringLiteral("Your work password was changed or expired. Sign in again with your current password."));
}

TEST_F(AuthFixture, RefreshesOnlyWithinTwoMinutesOfExpiry)
{
    Keychain::write(QStringLiteral("refreshToken"), QStringLiteral("r1"));
    server.enqueue(200, tokenReply(QStringLiteral("a1"), {{"expires_in", 3600}, {"refresh_token", "r2"}}));
    EXPECT_EQ(tokenOrError(), QStringLiteral("a1"));
    ASSERT_EQ(server.requests.size(), 1);
    EXPECT_EQ(server.requests[0].path, QByteArray("/tenant/oauth2/v2.0/token"));
    EXPECT_EQ(server.requests[0].headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
    EXPECT_FALSE(server.requests[0].headers.contains("authorization"));
    EXPECT_EQ(form(server.requests[0]).queryItemValue(QStringLiteral("refresh_token")), QStringLiteral("r1"));
    EXPECT_EQ(Keychain::read(QStringLiteral("refreshToken")), QStringLiteral("r2"));

    auth.expiresAt = QDateTime::currentDateTimeUtc().addSecs(122);
    EXPECT_EQ(tokenOrError(), QStringLiteral("a1"));
    EXPECT_EQ(server.requests.size(), 1);

    // No "expires_in": an hour. No "refresh_token": the stored one stays.
    server.enqueue(200, tokenReply(QStringLiteral("a2")));
    auth.expiresAt = QDateTime::currentDateTimeUtc().addSecs(119);
    EXPECT_EQ(tokenOrError(), QStringLiteral("a2"));
    EXPECT_EQ(server.requests.size(), 2);
    EXPECT_NEAR(QDateTime::currentDateTimeUtc().secsTo(auth.expiresAt), 3600, 5);
    EXPECT_EQ(Keychain::read(QStringLiteral("refreshToken")), QStringLiteral("r2"));
    EXPECT_FALSE(home.readLog().contains(QStringLiteral("r2")));
}

TEST_F(AuthFixture, RefusedRefreshes)
{
    Keychain::write(QStringLiteral("refreshToken"), QStringLiteral("r1"));
    for (const char *code : {"invalid_grant", "interaction_required", "login_required", "consent_required"}) {
        server.enqueue(400, QByteArray(R"({"error": ")") + code + "\"}");
        EXPECT_EQ(tokenOrError(), QStringLiteral("error: Your Tovrika sign-in has expired. Sign in again to keep sharing."));
        EXPECT_TRUE(home.readLog().contains(QStringLiteral("session needs interaction: refresh returned ") + QLatin1String(code)));
        EXPECT_EQ(events.last(), QStringLiteral("needs_interaction/") + QLatin1String(code));
    }
    server.enqueue(400, R"({"error": "temporarily_unavailable"})");
    EXPECT_EQ(tokenOrError(), QStringLiteral("error: Could not refresh your session (temporarily_unavailable)."));
    server.enqueue(502, "<html>bad gateway</html>");
    EXPECT_EQ(tokenOrError(), QStringLiteral("error: The sign-in service returned an unexpected response."));
    server.enqueue(503, "{}");
    EXPECT_EQ(tokenOrError(), QStringLiteral("error: Sign-in failed (HTTP 503)."));
    // A refused refresh keeps the refresh token; only sign-out removes it.
    EXPECT_EQ(Keychain::read(QStringLiteral("refreshToken")), QStringLiteral("r1"));

    auth.signOut();
    EXPECT_EQ(tokenOrError(), QStringLiteral("error: You need to sign in to Tovrika first."));
}

TEST_F(AuthFixture, SignInExchangesTheCodeAndRemembersTheUser)
{
    approveSignIns();
    server.enqueue(200, tokenReply(QStringLiteral("a1"), {{"refresh_token", "r1"},
                                                          {"id_token", idToken({{"name", "Ana Lima"},
                                                                                {"preferred_username", "ana@example.com"}})}}));
    EXPECT_EQ(signInError(), std::nullopt);
    EXPECT_EQ(events, QStringList{QStringLiteral("sign_in_ok/")});
    EXPECT_EQ(auth.displayName(), QStringLiteral("Ana Lima"));
    EXPECT_EQ(fake.settings.textValue(QStringLiteral("displayName")), QStringLiteral("Ana Lima"));
    EXPECT_EQ(fake.settings.textValue(QStringLiteral("signInHint")), QStringLiteral("ana@example.com"));
    EXPECT_EQ(Keychain::read(QStringLiteral("refreshToken")), QStringLiteral("r1"));

    const QUrl page = fake.webAuth.presented.first();
    const QUrlQuery exchange = form(server.requests.first());
    EXPECT_EQ(exchange.queryItemValue(QStringLiteral("grant_type")), QStringLiteral("authorization_code"));
    EXPECT_EQ(exchange.queryItemValue(QStringLiteral("code")), QStringLiteral("the-code"));
    EXPECT_EQ(exchange.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded), QStringLiteral("tovrika://auth"));
    EXPECT_EQ(Pkce::challenge(exchange.queryItemValue(QStringLiteral("code_verifier"), QUrl::FullyDecoded)),
              queryItem(page, QStringLiteral("code_challenge")));
    EXPECT_FALSE(home.readLog().contains(QStringLiteral("the-code")));

    auth.signOut();
    EXPECT_EQ(auth.displayName(), std::nullopt);
    EXPECT_FALSE(fake.settings.value(QStringLiteral("signInHint")).has_value());
    EXPECT_FALSE(Keychain::read(QStringLiteral("refreshToken")).has_value());
}

TEST_F(AuthFixture, OpaqueUserNameIsNoHintForTheNextSignIn)
{
    approveSignIns();
    server.enqueue(200, tokenReply(QStringLiteral("a1"), {{"id_token", idToken({{"name", "Bo Reyes"},
                                                                                 {"preferred_username", "0f8fad5b-d9cb-469f-a165-70867728950e@example.com"}})}}));
    EXPECT_EQ(signInError(), std::nullopt);
    EXPECT_EQ(auth.displayName(), QStringLiteral("Bo Reyes"));
    EXPECT_FALSE(fake.settings.value(QStringLiteral("signInHint")).has_value());

    server.enqueue(200, tokenReply(QStringLiteral("a2")));
    EXPECT_EQ(signInError(), std::nullopt);
    EXPECT_EQ(queryItem(fake.webAuth.presented.last(), QStringLiteral("prompt")), QStringLiteral("select_account"));
}

TEST_F(AuthFixture, StalePasswordGetsOneForcedRetry)
{
    int pages = 0;
    fake.webAuth.respond = [&](const QUrl &url) {
        if (++pages == 1)
            return QUrl(QStringLiteral("tovrika://auth?error=invalid_grant&error_description=AADSTS50133%253A%2BSession%2Binvalid"));
        return QUrl(QStringLiteral("tovrika://auth?code=c2&state=") + queryItem(url, QStringLiteral("state")));
    };
    server.enqueue(200, tokenReply(QStringLiteral("a1")));
    EXPECT_EQ(signInError(), std::nullopt);
    EXPECT_EQ(pages, 2);
    EXPECT_EQ(queryItem(fake.webAuth.presented.last(), QStringLiteral("prompt")), QStringLiteral("login"));
    EXPECT_EQ(events, QStringList{QStringLiteral("sign_in_ok/retry")});
    EXPECT_TRUE(home.readLog().contains(QStringLiteral("sign-in retry after stale password session")));
}

TEST_F(AuthFixture, FailedSignInsReportTheirEvent)
{
    // A different state and no error items.
    fake.webAuth.respond = [](const QUrl &) { return QUrl(QStringLiteral("tovrika://auth?code=c&state=forged")); };
    EXPECT_EQ(signInError(), QStringLiteral("No authorization code was returned."));
    EXPECT_EQ(events.last(), QStringLiteral("sign_in_fail/No authorization code was returned."));

    fake.webAuth.respond = [](const QUrl &) -> QUrl { throw AuthError::flow(QStringLiteral("Sign-in was cancelled.")); };
    EXPECT_EQ(signInError(), QStringLiteral("Sign-in was cancelled."));
    EXPECT_EQ(events.last(), QStringLiteral("sign_in_cancelled/Sign-in was cancelled."));

    approveSignIns();
    server.enqueue(400, R"({"error": "invalid_grant", "error_description": "The code has expired."})");
    EXPECT_EQ(signInError(), QStringLiteral("The code has expired."));
    EXPECT_EQ(events.last(), QStringLiteral("sign_in_fail/The code has expired."));
    EXPECT_FALSE(auth.signInInProgress());
}

TEST_F(AuthFixture, VerifySessionKeepsTheUserWhenInDoubt)
{
    bool valid = true;
    const auto verify = [&] {
        EXPECT_TRUE(TestSupport::run([](AuthService *auth, bool *valid) -> QCoro::Task<> {
            *valid = co_await auth->verifySession();
        }(&auth, &valid)));
    };

    verify();
    EXPECT_FALSE(valid); // no refresh token at all

    Keychain::write(QStringLiteral("refreshToken"), QStringLiteral("r1"));
    server.enqueue(400, R"({"error": "interaction_required"})");
    verify();
    EXPECT_TRUE(valid);
    EXPECT_TRUE(home.readLog().contains(QStringLiteral("session check: interaction required, keeping sign-in")));

    // No network: the token endpoint is a closed port.
    Config::Service unreachable = Config::service();
    unreachable.authority = QUrl(QStringLiteral("http://127.0.0.1:9/tenant"));
    Config::setService(unreachable);
    verify();
    EXPECT_TRUE(valid);
    EXPECT_TRUE(home.readLog().contains(QStringLiteral("session check inconclusive: ")));
}
