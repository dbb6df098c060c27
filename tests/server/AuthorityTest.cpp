// The sign-in authority: the PKCE code flow with its refusals, the sign-in page, and the
// rotation of refresh tokens.

#include "TestServer.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <functional>
#include <gtest/gtest.h>

using namespace ServerTest;

namespace {

using Form = QList<std::pair<QString, QString>>;

Form codeForm(const QString &code, const QString &verifier, const QString &redirectUri = QStringLiteral("tovrika://auth"),
              const QString &clientId = QLatin1String(kClientId))
{
    return {{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
            {QStringLiteral("code"), code},
            {QStringLiteral("code_verifier"), verifier},
            {QStringLiteral("redirect_uri"), redirectUri},
            {QStringLiteral("client_id"), clientId},
            {QStringLiteral("scope"), QLatin1String(kScope)}};
}

Form refreshForm(const QString &refreshToken)
{
    return {{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
            {QStringLiteral("refresh_token"), refreshToken},
            {QStringLiteral("client_id"), QLatin1String(kClientId)},
            {QStringLiteral("scope"), QLatin1String(kScope)}};
}

// The code of a fresh authorisation, approved at once by an --auto-approve server.
QString authorize(const TestServer &server, const Pkce &pkce, const QString &extraQuery = {})
{
    const Reply reply = server.get(server.authorizePath(pkce, QStringLiteral("s"), extraQuery));
    EXPECT_EQ(reply.status, 302) << reply.body;
    return queryItem(reply.header("Location"), "code");
}

QJsonObject jwtPayload(const QString &jwt)
{
    const QStringList parts = jwt.split(QLatin1Char('.'));
    EXPECT_EQ(parts.size(), 3);
    return QJsonDocument::fromJson(QByteArray::fromBase64(parts.value(1).toLatin1(), QByteArray::Base64UrlEncoding)).object();
}

QString errorOf(const Reply &reply)
{
    return reply.object().value(QStringLiteral("error")).toString();
}

} // namespace

TEST(Authority, CodeFlowIssuesTokensWhoseAccessTokenOpensTheApi)
{
    TestServer server({QStringLiteral("--auto-approve"), QLatin1String(kAna)});
    const Pkce pkce = Pkce::make();
    const Reply redirect = server.get(server.authorizePath(pkce, QStringLiteral("xyz-state"), QStringLiteral("login_hint=ana.ferreira%40brisvale.example")));
    ASSERT_EQ(redirect.status, 302);
    const std::string location = redirect.header("Location");
    EXPECT_EQ(location.rfind("tovrika://auth?", 0), 0u) << location;
    EXPECT_EQ(queryItem(location, "state"), QStringLiteral("xyz-state"));

    const Reply reply = server.token(codeForm(queryItem(location, "code"), pkce.verifier));
    ASSERT_EQ(reply.status, 200) << reply.body;
    const QJsonObject tokens = reply.object();
    EXPECT_EQ(tokens.value(QStringLiteral("token_type")).toString(), QStringLiteral("Bearer"));
    EXPECT_EQ(tokens.value(QStringLiteral("expires_in")).toInt(), 3600);
    EXPECT_FALSE(tokens.value(QStringLiteral("refresh_token")).toString().isEmpty());
    const QJsonObject claims = jwtPayload(tokens.value(QStringLiteral("id_token")).toString());
    EXPECT_EQ(claims.value(QStringLiteral("name")).toString(), QStringLiteral("Ana Ferreira"));
    EXPECT_EQ(claims.value(QStringLiteral("preferred_username")).toString(), QLatin1String(kAna));

    EXPECT_EQ(server.api("GET", "folders", tokens.value(QStringLiteral("access_token")).toString()).status, 200);
}

TEST(Authority, OpaqueUserNameReachesTheIdTokenUnchanged)
{
    TestServer server({QStringLiteral("--auto-approve"), QStringLiteral("kwame.osei@brisvale.example")});
    const QJsonObject claims = jwtPayload(server.signIn().value(QStringLiteral("id_token")).toString());
    EXPECT_EQ(claims.value(QStringLiteral("name")).toString(), QStringLiteral("Kwame Osei"));
    EXPECT_EQ(claims.value(QStringLiteral("preferred_username")).toString(), QStringLiteral("69a2378c-52a2-4bae-9f32-69d654ef43bd"));
}

TEST(Authority, RefusesCodesThatDoNotMatchTheirRequest)
{
    TestServer server({QStringLiteral("--auto-approve"), QLatin1String(kAna), QStringLiteral("--test-hooks")});
    struct Case {
        const char *name;
        std::function<Form(const QString &code, const Pkce &pkce)> form;
        const char *error;
    };
    const Case cases[] = {
        {"wrong verifier", [](const QString &code, const Pkce &) { return codeForm(code, Pkce::make().verifier); }, "invalid_grant"},
        {"wrong redirect", [](const QString &code, const Pkce &pkce) { return codeForm(code, pkce.verifier, QStringLiteral("tovrika://other")); }, "invalid_grant"},
        {"unknown client", [](const QString &code, const Pkce &pkce) { return codeForm(code, pkce.verifier, QStringLiteral("tovrika://auth"), QStringLiteral("someone-else")); },
         "invalid_client"},
        {"unknown code", [](const QString &, const Pkce &pkce) { return codeForm(QStringLiteral("made-up"), pkce.verifier); }, "invalid_grant"},
        {"short verifier", [](const QString &code, const Pkce &) { return codeForm(code, QStringLiteral("too-short")); }, "invalid_request"},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        const Pkce pkce = Pkce::make();
        const Reply reply = server.token(test.form(authorize(server, pkce), pkce));
        EXPECT_EQ(reply.status, 400) << reply.body;
        EXPECT_EQ(errorOf(reply), QLatin1String(test.error));
        EXPECT_FALSE(reply.object().value(QStringLiteral("error_description")).toString().isEmpty());
    }

    // A refused attempt uses the code up: the right verifier comes too late.
    const Pkce pkce = Pkce::make();
    const QString code = authorize(server, pkce);
    EXPECT_EQ(errorOf(server.token(codeForm(code, Pkce::make().verifier))), QStringLiteral("invalid_grant"));
    EXPECT_EQ(errorOf(server.token(codeForm(code, pkce.verifier))), QStringLiteral("invalid_grant"));

    // Codes live for minutes only.
    const Pkce late = Pkce::make();
    const QString lateCode = authorize(server, late);
    server.advanceClock(301);
    EXPECT_EQ(errorOf(server.token(codeForm(lateCode, late.verifier))), QStringLiteral("invalid_grant"));
}

TEST(Authority, ReplayedCodeIsRefusedAndWithdrawsWhatItWasExchangedFor)
{
    TestServer server({QStringLiteral("--auto-approve"), QLatin1String(kAna)});
    const Pkce pkce = Pkce::make();
    const QString code = authorize(server, pkce);
    const QJsonObject first = server.token(codeForm(code, pkce.verifier)).object();
    const QString accessToken = first.value(QStringLiteral("access_token")).toString();
    ASSERT_EQ(server.api("GET", "folders", accessToken).status, 200);

    const Reply replay = server.token(codeForm(code, pkce.verifier));
    EXPECT_EQ(replay.status, 400);
    EXPECT_EQ(errorOf(replay), QStringLiteral("invalid_grant"));
    EXPECT_EQ(server.api("GET", "folders", accessToken).status, 401);
    EXPECT_EQ(errorOf(server.token(refreshForm(first.value(QStringLiteral("refresh_token")).toString()))), QStringLiteral("invalid_grant"));
}

TEST(Authority, MalformedTokenRequestsGetOAuthErrors)
{
    TestServer server;
    struct Case {
        const char *name;
        std::string body;
        const char *contentType;
        const char *error;
    };
    const std::string client = std::string("&client_id=") + kClientId;
    const Case cases[] = {
        {"no grant type", "code=x" + client, "application/x-www-form-urlencoded", "invalid_request"},
        {"unknown grant type", "grant_type=password&username=a&password=b" + client, "application/x-www-form-urlencoded", "unsupported_grant_type"},
        {"no client", "grant_type=refresh_token&refresh_token=x", "application/x-www-form-urlencoded", "invalid_request"},
        {"no code", "grant_type=authorization_code&redirect_uri=tovrika%3A%2F%2Fauth&code_verifier=x" + client, "application/x-www-form-urlencoded", "invalid_request"},
        {"repeated parameter", "grant_type=refresh_token&refresh_token=a&refresh_token=b" + client, "application/x-www-form-urlencoded", "invalid_request"},
        {"JSON body", R"({"grant_type":"refresh_token","refresh_token":"x"})", "application/json", "invalid_request"},
        {"unknown refresh token", "grant_type=refresh_token&refresh_token=nothing" + client, "application/x-www-form-urlencoded", "invalid_grant"},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        const Reply reply = server.send("POST", std::string("/") + kTenant + "/oauth2/v2.0/token", test.body, {}, test.contentType);
        EXPECT_EQ(reply.status, 400) << reply.body;
        EXPECT_EQ(errorOf(reply), QLatin1String(test.error)) << reply.body;
    }
}

TEST(Authority, RefreshRotatesAndAStaleRefreshTokenEndsTheChain)
{
    TestServer server({QStringLiteral("--auto-approve"), QLatin1String(kAna), QStringLiteral("--test-hooks")});
    const QString original = server.signIn().value(QStringLiteral("refresh_token")).toString();

    const Reply rotated = server.token(refreshForm(original));
    ASSERT_EQ(rotated.status, 200) << rotated.body;
    const QString second = rotated.object().value(QStringLiteral("refresh_token")).toString();
    EXPECT_NE(second, original);
    EXPECT_EQ(server.api("GET", "folders", rotated.object().value(QStringLiteral("access_token")).toString()).status, 200);
    // Concurrent refreshes by the program present the same token twice within moments.
    EXPECT_EQ(server.token(refreshForm(original)).status, 200);

    const Reply third = server.token(refreshForm(second));
    ASSERT_EQ(third.status, 200);
    const QString latestAccess = third.object().value(QStringLiteral("access_token")).toString();
    const QString latestRefresh = third.object().value(QStringLiteral("refresh_token")).toString();

    server.advanceClock(60);
    const Reply stale = server.token(refreshForm(original));
    EXPECT_EQ(stale.status, 400);
    EXPECT_EQ(errorOf(stale), QStringLiteral("invalid_grant"));
    // A replay long after rotation means the chain leaked: all of it is withdrawn.
    EXPECT_EQ(errorOf(server.token(refreshForm(latestRefresh))), QStringLiteral("invalid_grant"));
    EXPECT_EQ(server.api("GET", "folders", latestAccess).status, 401);
}

TEST(Authority, SignInPageApprovesCancelsAndRemembersTheBrowser)
{
    TestServer server;
    const Pkce pkce = Pkce::make();
    const Reply page = server.get(server.authorizePath(pkce, QStringLiteral("st"), QStringLiteral("login_hint=ben.okafor%40brisvale.example")));
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("Grace Liu"), std::string::npos);
    EXPECT_NE(page.body.find("value=\"ben.okafor@brisvale.example\""), std::string::npos) << "the login hint fills the field";
    const QString requestId = QRegularExpression(QStringLiteral("name=\"request\" value=\"([^\"]+)\"")).match(QString::fromStdString(page.body)).captured(1);
    ASSERT_FALSE(requestId.isEmpty());
    const std::string formPath = std::string("/") + kTenant + "/oauth2/v2.0/authorize";
    const auto submit = [&](const QString &fields) {
        return server.send("POST", formPath, (QStringLiteral("request=") + requestId + QLatin1Char('&') + fields).toStdString(), {}, "application/x-www-form-urlencoded");
    };

    const Reply unknown = submit(QStringLiteral("action=continue&typed=nobody%40elsewhere.example"));
    EXPECT_EQ(unknown.status, 200);
    EXPECT_NE(unknown.body.find("nobody@elsewhere.example"), std::string::npos);

    const Reply approved = submit(QStringLiteral("action=continue&typed=Ben.Okafor%40brisvale.example"));
    ASSERT_EQ(approved.status, 302);
    EXPECT_EQ(queryItem(approved.header("Location"), "state"), QStringLiteral("st"));
    EXPECT_EQ(server.token(codeForm(queryItem(approved.header("Location"), "code"), pkce.verifier)).status, 200);
    const std::string cookie = approved.header("Set-Cookie").substr(0, approved.header("Set-Cookie").find(';'));
    ASSERT_FALSE(cookie.empty());
    EXPECT_EQ(submit(QStringLiteral("action=continue&typed=ben.okafor%40brisvale.example")).status, 400) << "a request is answered once";

    // The browser stays signed in: no page without a prompt; the page again with one.
    const Reply silent = server.get(server.authorizePath(Pkce::make(), QStringLiteral("s2")), {{"Cookie", cookie}});
    EXPECT_EQ(silent.status, 302);
    EXPECT_FALSE(queryItem(silent.header("Location"), "code").isEmpty());
    const Reply choose = server.get(server.authorizePath(Pkce::make(), QStringLiteral("s3"), QStringLiteral("prompt=select_account")), {{"Cookie", cookie}});
    EXPECT_EQ(choose.status, 200);
    EXPECT_NE(choose.body.find("Signed in"), std::string::npos);

    const Reply second = server.get(server.authorizePath(Pkce::make(), QStringLiteral("s4"), QStringLiteral("prompt=login")));
    const QString secondId = QRegularExpression(QStringLiteral("name=\"request\" value=\"([^\"]+)\"")).match(QString::fromStdString(second.body)).captured(1);
    const Reply cancelled = server.send("POST", formPath, (QStringLiteral("request=") + secondId + QStringLiteral("&action=cancel")).toStdString(), {},
                                        "application/x-www-form-urlencoded");
    ASSERT_EQ(cancelled.status, 302);
    EXPECT_EQ(queryItem(cancelled.header("Location"), "error"), QStringLiteral("access_denied"));
    EXPECT_TRUE(queryItem(cancelled.header("Location"), "error_description").contains(QStringLiteral("cancelled")));
    EXPECT_EQ(queryItem(cancelled.header("Location"), "state"), QStringLiteral("s4"));
}

TEST(Authority, BadAuthorizationRequestsNeverReachAnUnregisteredRedirect)
{
    TestServer server({QStringLiteral("--auto-approve"), QLatin1String(kAna)});
    const Pkce pkce = Pkce::make();
    const std::string good = server.authorizePath(pkce, QStringLiteral("s"));
    const auto replaced = [&](const char *from, const char *to) {
        std::string path = good;
        path.replace(path.find(from), std::string(from).size(), to);
        return server.get(path);
    };
    // Nowhere safe to send these: an error page, no redirect.
    for (const Reply &reply : {replaced("redirect_uri=tovrika://auth", "redirect_uri=https://attacker.example/"), replaced(kClientId, "unknown-client")}) {
        EXPECT_EQ(reply.status, 400);
        EXPECT_TRUE(reply.header("Location").empty());
    }
    // The program hears about the rest through its redirect.
    struct Case {
        const char *from;
        const char *to;
        const char *error;
    };
    const Case cases[] = {
        {"response_type=code", "response_type=token", "unsupported_response_type"},
        {"code_challenge_method=S256", "code_challenge_method=plain", "invalid_request"},
        {"scope=openid", "scope=email", "invalid_scope"},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.to);
        const Reply reply = replaced(test.from, test.to);
        EXPECT_EQ(reply.status, 302);
        EXPECT_EQ(queryItem(reply.header("Location"), "error"), QLatin1String(test.error));
        EXPECT_EQ(queryItem(reply.header("Location"), "state"), QStringLiteral("s"));
    }
}

TEST(Authority, StalePasswordSessionNeedsAForcedLogin)
{
    TestServer server({QStringLiteral("--auto-approve"), QStringLiteral("priya.raman@brisvale.example")});
    const Reply refused = server.get(server.authorizePath(Pkce::make(), QStringLiteral("s"), QStringLiteral("login_hint=priya.raman%40brisvale.example")));
    ASSERT_EQ(refused.status, 302);
    EXPECT_EQ(queryItem(refused.header("Location"), "error"), QStringLiteral("interaction_required"));
    EXPECT_TRUE(queryItem(refused.header("Location"), "error_description").toUpper().contains(QStringLiteral("PASSWORD EXPIR")));

    const Reply forced = server.get(server.authorizePath(Pkce::make(), QStringLiteral("s"), QStringLiteral("prompt=login")));
    ASSERT_EQ(forced.status, 302);
    EXPECT_FALSE(queryItem(forced.header("Location"), "code").isEmpty());
}
