#include "server/Authority.h"

#include "server/Clock.h"
#include "server/Crypto.h"
#include "server/Database.h"
#include "server/Directory.h"
#include "server/HttpReply.h"
#include "server/ServerOptions.h"
#include "server/SignInPage.h"

#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

namespace {

constexpr int kRequestLifetimeSeconds = 600;
const char *kAuthorizePattern = R"(/([^/]+)/oauth2/v2\.0/authorize)";
const char *kTokenPattern = R"(/([^/]+)/oauth2/v2\.0/token)";

bool isUuid(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}$"));
    return pattern.match(text).hasMatch();
}

QString param(const httplib::Request &req, const char *name)
{
    return QString::fromStdString(req.get_param_value(name));
}

// Answers the name of a parameter given more than once, which OAuth forbids.
std::optional<QString> repeatedParam(const httplib::Request &req)
{
    for (const auto &[name, value] : req.params) {
        if (req.get_param_value_count(name) > 1)
            return QString::fromStdString(name);
    }
    return std::nullopt;
}

QString percentEncoded(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

void oauthError(httplib::Response &res, const OAuthError &error)
{
    res.set_header("Cache-Control", "no-store");
    res.set_header("Pragma", "no-cache");
    HttpReply::json(res, 400, QJsonObject{{QStringLiteral("error"), error.error()}, {QStringLiteral("error_description"), error.description()}});
}

void errorPage(httplib::Response &res, int status, const QString &title, const QString &detail)
{
    HttpReply::html(res, status, SignInPage::errorPage(title, detail));
}

} // namespace

Authority::Authority(ServiceContext &context, TokenService &tokens)
    : m_context(context)
    , m_tokens(tokens)
{
}

void Authority::registerRoutes(httplib::Server &server)
{
    server.Get(kAuthorizePattern, HttpReply::guarded([this](const auto &req, auto &res) { authorize(req, res); }));
    server.Post(kAuthorizePattern, HttpReply::guarded([this](const auto &req, auto &res) { answerSignInForm(req, res); }));
    server.Post(kTokenPattern, HttpReply::guarded([this](const auto &req, auto &res) { token(req, res); }));
}

void Authority::authorize(const httplib::Request &req, httplib::Response &res)
{
    const QString tenant = HttpReply::capture(req, 1);
    if (!isUuid(tenant))
        return errorPage(res, 404, QStringLiteral("Unknown organisation"), QStringLiteral("The address names no organisation this service signs in to."));
    if (const auto repeated = repeatedParam(req))
        return errorPage(res, 400, QStringLiteral("Sign-in request not valid"), QStringLiteral("The parameter \"%1\" was given more than once.").arg(*repeated));

    AuthorizationRequest request;
    request.tenant = tenant;
    request.clientId = param(req, "client_id");
    request.redirectUri = param(req, "redirect_uri");
    request.scope = param(req, "scope");
    if (req.has_param("state"))
        request.state = param(req, "state");
    request.codeChallenge = param(req, "code_challenge");
    request.loginHint = param(req, "login_hint").trimmed();
    request.prompt = param(req, "prompt");

    // Without a known client and its registered redirect there is nowhere safe to send errors.
    if (request.clientId != QLatin1String(kClientId))
        return errorPage(res, 400, QStringLiteral("Unknown application"), QStringLiteral("The client_id \"%1\" is not registered with this sign-in service.").arg(request.clientId));
    if (request.redirectUri != QLatin1String(kRedirectUri))
        return errorPage(res, 400, QStringLiteral("Sign-in request not valid"), QStringLiteral("The redirect_uri \"%1\" is not registered for this application.").arg(request.redirectUri));

    static const QRegularExpression challengePattern(QStringLiteral("^[A-Za-z0-9_-]{43}$"));
    const QStringList scopes = request.scope.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString responseMode = param(req, "response_mode");
    if (param(req, "response_type") != QLatin1String("code"))
        return redirectWithError(request, QStringLiteral("unsupported_response_type"), QStringLiteral("Only response_type=code is supported."), res);
    if (!responseMode.isEmpty() && responseMode != QLatin1String("query"))
        return redirectWithError(request, QStringLiteral("invalid_request"), QStringLiteral("Only response_mode=query is supported."), res);
    if (request.codeChallenge.isEmpty())
        return redirectWithError(request, QStringLiteral("invalid_request"), QStringLiteral("A code_challenge is required (PKCE)."), res);
    if (param(req, "code_challenge_method") != QLatin1String("S256"))
        return redirectWithError(request, QStringLiteral("invalid_request"), QStringLiteral("The code_challenge_method must be S256."), res);
    if (!challengePattern.match(request.codeChallenge).hasMatch())
        return redirectWithError(request, QStringLiteral("invalid_request"), QStringLiteral("The code_challenge must be a base64url SHA-256 digest (43 characters)."), res);
    if (!scopes.contains(QLatin1String("openid")))
        return redirectWithError(request, QStringLiteral("invalid_scope"), QStringLiteral("The scope must include openid."), res);
    static const QStringList prompts{QString(), QStringLiteral("login"), QStringLiteral("select_account"), QStringLiteral("none"), QStringLiteral("consent")};
    if (!prompts.contains(request.prompt))
        return redirectWithError(request, QStringLiteral("invalid_request"), QStringLiteral("The prompt \"%1\" is not supported.").arg(request.prompt), res);

    if (!m_context.options.autoApproveUser.isEmpty()) {
        const auto person = m_context.directory.findByLogin(m_context.options.autoApproveUser);
        if (!person)
            return redirectWithError(request, QStringLiteral("server_error"), QStringLiteral("The automatically approved user is not in the directory."), res);
        return approve(request, person->id, res, false);
    }

    // The browser's earlier sign-in is reused unless the program asked for an account
    // choice or a fresh login, or hinted at somebody else.
    const std::optional<QString> session = sessionUser(req);
    if (request.prompt == QLatin1String("none")) {
        if (!session)
            return redirectWithError(request, QStringLiteral("login_required"), QStringLiteral("Nobody is signed in in this browser."), res);
        return approve(request, *session, res, false);
    }
    if (session && request.prompt.isEmpty()) {
        const auto hinted = m_context.directory.findByLogin(request.loginHint);
        if (request.loginHint.isEmpty() || (hinted && hinted->id == *session))
            return approve(request, *session, res, false);
    }
    showSignInPage(storeRequest(request), request, request.loginHint, QString(), session, res);
}

void Authority::answerSignInForm(const httplib::Request &req, httplib::Response &res)
{
    const QString requestId = param(req, "request");
    const std::optional<AuthorizationRequest> request = loadRequest(requestId);
    if (!request || request->tenant != HttpReply::capture(req, 1))
        return errorPage(res, 400, QStringLiteral("This sign-in page has expired"), QStringLiteral("Start signing in again from Tovrika."));
    if (param(req, "action") == QLatin1String("cancel")) {
        forgetRequest(requestId);
        return redirectWithError(*request, QStringLiteral("access_denied"), QStringLiteral("Sign-in was cancelled at the sign-in page."), res);
    }
    const QString login = req.has_param("login") ? param(req, "login") : param(req, "typed").trimmed();
    if (login.isEmpty())
        return showSignInPage(requestId, *request, login, QStringLiteral("Type your work e-mail or user name, or choose your account."), sessionUser(req), res);
    const auto person = m_context.directory.findByLogin(login);
    if (!person)
        return showSignInPage(requestId, *request, login, QStringLiteral("Nobody in your organisation signs in as \u201C%1\u201D.").arg(login), sessionUser(req), res);
    forgetRequest(requestId);
    approve(*request, person->id, res, true);
}

void Authority::approve(const AuthorizationRequest &request, const QString &userId, httplib::Response &res, bool startSession)
{
    const auto person = m_context.directory.person(userId);
    if (!person)
        return redirectWithError(request, QStringLiteral("access_denied"), QStringLiteral("The account is no longer in the directory."), res);
    // A password change ends earlier sign-in sessions; only a forced fresh login gets through.
    if (person->stalePassword && request.prompt != QLatin1String("login"))
        return redirectWithError(request, QStringLiteral("interaction_required"),
                                 QStringLiteral("Your session ended because your password expired or was changed. Sign in again with your current password."), res);
    const QString code = m_tokens.issueCode({userId, request.tenant, request.clientId, request.redirectUri, request.scope, request.codeChallenge});
    if (startSession) {
        const QString cookie = QStringLiteral("%1=%2; Path=/; HttpOnly; SameSite=Lax; Max-Age=%3")
                                   .arg(QLatin1String(TokenService::kSessionCookie), m_tokens.startSession(userId))
                                   .arg(TokenService::kSessionLifetimeSeconds);
        res.set_header("Set-Cookie", cookie.toStdString());
    }
    QString location = request.redirectUri + QStringLiteral("?code=") + percentEncoded(code);
    if (request.state)
        location += QStringLiteral("&state=") + percentEncoded(*request.state);
    res.set_header("Cache-Control", "no-store");
    res.set_redirect(location.toStdString(), 302);
}

void Authority::redirectWithError(const AuthorizationRequest &request, const QString &error, const QString &description, httplib::Response &res)
{
    QString location = request.redirectUri + QStringLiteral("?error=") + percentEncoded(error) + QStringLiteral("&error_description=") + percentEncoded(description);
    if (request.state)
        location += QStringLiteral("&state=") + percentEncoded(*request.state);
    res.set_header("Cache-Control", "no-store");
    res.set_redirect(location.toStdString(), 302);
}

void Authority::showSignInPage(const QString &requestId, const AuthorizationRequest &request, const QString &typed, const QString &message,
                               const std::optional<QString> &sessionUser, httplib::Response &res)
{
    SignInPage::Content content;
    content.formAction = QStringLiteral("/%1/oauth2/v2.0/authorize").arg(request.tenant);
    content.requestId = requestId;
    content.people = m_context.directory.everyone();
    content.typedLogin = typed;
    content.message = message;
    content.signedInUserId = sessionUser.value_or(QString());
    content.forcedLogin = request.prompt == QLatin1String("login");
    HttpReply::html(res, 200, SignInPage::render(content));
}

QString Authority::storeRequest(const AuthorizationRequest &request)
{
    const QString id = Crypto::randomToken(18);
    const qint64 now = m_context.clock.nowMs();
    m_context.db.transaction([&] {
        m_context.db.run("DELETE FROM authorization_requests WHERE expires_at <= ?", now);
        m_context.db.run("INSERT INTO authorization_requests (id, tenant, client_id, redirect_uri, scope, state, code_challenge, login_hint, prompt, expires_at) "
                         "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                         id, request.tenant, request.clientId, request.redirectUri, request.scope, request.state, request.codeChallenge, request.loginHint,
                         request.prompt, now + kRequestLifetimeSeconds * 1000LL);
    });
    return id;
}

std::optional<Authority::AuthorizationRequest> Authority::loadRequest(const QString &id)
{
    return m_context.db.transaction([&]() -> std::optional<AuthorizationRequest> {
        SqlStatement row = m_context.db.query("SELECT tenant, client_id, redirect_uri, scope, state, code_challenge, login_hint, prompt "
                                              "FROM authorization_requests WHERE id = ? AND expires_at > ?",
                                              id, m_context.clock.nowMs());
        if (!row.next())
            return std::nullopt;
        return AuthorizationRequest{row.text(0), row.text(1), row.text(2), row.text(3), row.optionalText(4), row.text(5), row.text(6), row.text(7)};
    });
}

void Authority::forgetRequest(const QString &id)
{
    m_context.db.transaction([&] { m_context.db.run("DELETE FROM authorization_requests WHERE id = ?", id); });
}

std::optional<QString> Authority::sessionUser(const httplib::Request &req) const
{
    return m_tokens.sessionUserFromCookies(QString::fromStdString(req.get_header_value("Cookie")));
}

void Authority::token(const httplib::Request &req, httplib::Response &res)
{
    try {
        if (!isUuid(HttpReply::capture(req, 1)))
            throw OAuthError::invalidRequest(QStringLiteral("The address names no organisation this service signs in to."));
        if (!QString::fromStdString(req.get_header_value("Content-Type")).startsWith(QLatin1String("application/x-www-form-urlencoded")))
            throw OAuthError::invalidRequest(QStringLiteral("The token request must be sent as application/x-www-form-urlencoded."));
        // Form encoding writes a blank as "+"; QUrlQuery would keep it literally.
        const QUrlQuery form(QString::fromUtf8(QByteArray::fromStdString(req.body)).replace(QLatin1Char('+'), QLatin1String("%20")));
        QStringList seen;
        for (const auto &[key, value] : form.queryItems()) {
            if (seen.contains(key))
                throw OAuthError::invalidRequest(QStringLiteral("The parameter \"%1\" was given more than once.").arg(key));
            seen << key;
        }
        const auto field = [&](const char *name) { return form.queryItemValue(QLatin1String(name), QUrl::FullyDecoded); };
        const auto required = [&](const char *name) {
            const QString value = field(name);
            if (value.isEmpty())
                throw OAuthError::invalidRequest(QStringLiteral("The parameter \"%1\" is missing.").arg(QLatin1String(name)));
            return value;
        };

        const QString grantType = required("grant_type");
        const QString clientId = required("client_id");
        if (clientId != QLatin1String(kClientId))
            throw OAuthError::invalidClient(QStringLiteral("The client_id \"%1\" is not registered with this sign-in service.").arg(clientId));
        IssuedTokens tokens;
        if (grantType == QLatin1String("authorization_code")) {
            const QString code = required("code");
            const QString redirectUri = required("redirect_uri");
            tokens = m_tokens.redeemCode(code, clientId, redirectUri, required("code_verifier"));
        } else if (grantType == QLatin1String("refresh_token")) {
            tokens = m_tokens.refresh(required("refresh_token"), clientId);
        } else {
            throw OAuthError(QStringLiteral("unsupported_grant_type"), QStringLiteral("The grant_type \"%1\" is not supported.").arg(grantType));
        }
        res.set_header("Cache-Control", "no-store");
        res.set_header("Pragma", "no-cache");
        HttpReply::json(res, 200,
                        QJsonObject{{QStringLiteral("token_type"), QStringLiteral("Bearer")},
                                    {QStringLiteral("scope"), tokens.scope},
                                    {QStringLiteral("expires_in"), tokens.expiresInSeconds},
                                    {QStringLiteral("access_token"), tokens.accessToken},
                                    {QStringLiteral("refresh_token"), tokens.refreshToken},
                                    {QStringLiteral("id_token"), tokens.idToken}});
    } catch (const OAuthError &error) {
        oauthError(res, error);
    }
}
