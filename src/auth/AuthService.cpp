#include "auth/AuthService.h"

#include "app/Config.h"
#include "auth/AuthError.h"
#include "auth/Keychain.h"
#include "auth/Pkce.h"
#include "platform/SettingsStore.h"
#include "platform/WebAuthSheet.h"
#include "service/TransportError.h"
#include "support/FileLog.h"
#include "support/L10n.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QUrlQuery>
#include <qcoronetworkreply.h>
#include <qcorosignal.h>

namespace {
const QString kRedirectUri = QStringLiteral("tovrika://auth");
const QString kRefreshTokenAccount = QStringLiteral("refreshToken");
const QString kDisplayNameKey = QStringLiteral("displayName");
const QString kSignInHintKey = QStringLiteral("signInHint");
constexpr int kTokenTimeoutMs = 60 * 1000;
constexpr qint64 kRefreshMarginSeconds = 120;

// Refusals of a refresh that only the user can clear by signing in again.
bool isInteractionCode(const QString &code)
{
    return code == QLatin1String("invalid_grant") || code == QLatin1String("interaction_required")
           || code == QLatin1String("login_required") || code == QLatin1String("consent_required");
}

QDateTime distantPast()
{
    return QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
}

QString percentDecoded(const QString &text)
{
    // Invalid escapes are kept as they are, which is what "unchanged when decoding fails" needs.
    return QUrl::fromPercentEncoding(text.toUtf8());
}

std::optional<QString> queryValue(const QUrlQuery &query, const QString &key)
{
    if (!query.hasQueryItem(key))
        return std::nullopt;
    return query.queryItemValue(key, QUrl::FullyDecoded);
}
} // namespace

AuthService::AuthService(SettingsStore &settings, WebAuthSheet &sheet, QNetworkAccessManager &network, QObject *parent)
    : QObject(parent)
    , expiresAt(distantPast())
    , m_settings(settings)
    , m_sheet(sheet)
    , m_network(network)
    , m_displayName(settings.textValue(kDisplayNameKey))
{
}

QString AuthService::scope()
{
    return QStringLiteral("openid profile offline_access api://%1/access_as_user").arg(Config::service().apiAppId);
}

QUrl AuthService::authorizationUrl(const QString &challenge, const QString &state, bool forceLogin,
                                   const std::optional<QString> &signInHint)
{
    QUrlQuery query;
    const auto add = [&](const QString &key, const QString &value) {
        query.addQueryItem(key, QString::fromUtf8(QUrl::toPercentEncoding(value)));
    };
    add(QStringLiteral("client_id"), Config::service().clientId);
    add(QStringLiteral("response_type"), QStringLiteral("code"));
    add(QStringLiteral("redirect_uri"), kRedirectUri);
    add(QStringLiteral("response_mode"), QStringLiteral("query"));
    add(QStringLiteral("scope"), scope());
    add(QStringLiteral("code_challenge"), challenge);
    add(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    add(QStringLiteral("state"), state);
    if (forceLogin)
        add(QStringLiteral("prompt"), QStringLiteral("login"));
    else if (signInHint && !isOpaqueGuidUsername(*signInHint))
        add(QStringLiteral("login_hint"), *signInHint);
    else
        add(QStringLiteral("prompt"), QStringLiteral("select_account"));

    QUrl url = Config::authorizeUrl();
    url.setQuery(query.query(QUrl::FullyEncoded), QUrl::StrictMode);
    return url;
}

QByteArray AuthService::formBody(const Form &form)
{
    QByteArrayList pairs;
    for (const auto &[key, value] : form)
        pairs << key.toUtf8() + '=' + QUrl::toPercentEncoding(value);
    return pairs.join('&');
}

std::optional<QString> AuthService::claim(const QString &idToken, const QString &name)
{
    const QStringList pieces = idToken.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (pieces.size() < 2)
        return std::nullopt;
    QString payload = pieces[1];
    payload.replace(QLatin1Char('-'), QLatin1Char('+')).replace(QLatin1Char('_'), QLatin1Char('/'));
    while (payload.size() % 4 != 0)
        payload.append(QLatin1Char('='));
    const auto decoded = QByteArray::fromBase64Encoding(payload.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(*decoded);
    const QJsonValue value = document.object().value(name);
    if (!document.isObject() || !value.isString())
        return std::nullopt;
    return value.toString();
}

bool AuthService::isOpaqueGuidUsername(const QString &text)
{
    static const QRegularExpression guid(QStringLiteral(
        "^[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}$"));
    return guid.match(text.section(QLatin1Char('@'), 0, 0)).hasMatch();
}

bool AuthService::isStalePasswordSession(const QString &text)
{
    const QString upper = percentDecoded(text).toUpper();
    return upper.contains(QLatin1String("AADSTS50133")) || upper.contains(QLatin1String("PASSWORD+EXPIR"))
           || upper.contains(QLatin1String("PASSWORD EXPIR"));
}

std::optional<QString> AuthService::friendlyAuthError(const std::optional<QString> &text)
{
    if (!text || text->isEmpty())
        return std::nullopt;
    const QString decoded = percentDecoded(*text);
    if (isStalePasswordSession(decoded))
        return L10n::tr(QStringLiteral("Your work password was changed or expired. Sign in again with your current password."));
    return decoded;
}

QCoro::Task<std::optional<QString>> AuthService::exchange(Form form)
{
    form << std::pair(QStringLiteral("client_id"), Config::service().clientId) << std::pair(QStringLiteral("scope"), scope());
    const bool codeGrant = form.first().second == QLatin1String("authorization_code");

    QNetworkRequest request(Config::tokenUrl());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    request.setTransferTimeout(kTokenTimeoutMs);
    QNetworkReply *reply = co_await m_network.post(request, formBody(form));
    reply->deleteLater();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        throw TransportError(reply->error(), reply->errorString());
    const QJsonDocument document = QJsonDocument::fromJson(reply->readAll());
    if (!document.isObject())
        throw AuthError::flow(L10n::tr(QStringLiteral("The sign-in service returned an unexpected response.")));
    const QJsonObject object = document.object();

    const QJsonValue accessToken = object.value(QStringLiteral("access_token"));
    if (status.toInt() == 200 && accessToken.isString()) {
        m_accessToken = accessToken.toString();
        const QJsonValue expiresIn = object.value(QStringLiteral("expires_in"));
        expiresAt = QDateTime::currentDateTimeUtc().addMSecs(qint64((expiresIn.isDouble() ? expiresIn.toDouble() : 3600) * 1000));
        if (const QJsonValue refresh = object.value(QStringLiteral("refresh_token")); refresh.isString())
            Keychain::write(kRefreshTokenAccount, refresh.toString());
        if (const QJsonValue idToken = object.value(QStringLiteral("id_token")); idToken.isString()) {
            const auto userName = claim(idToken.toString(), QStringLiteral("preferred_username"));
            std::optional<QString> name = claim(idToken.toString(), QStringLiteral("name"));
            if (!name)
                name = userName;
            if (name) {
                m_displayName = name;
                m_settings.setValue(kDisplayNameKey, *name);
            }
            if (userName && !isOpaqueGuidUsername(*userName))
                m_settings.setValue(kSignInHintKey, *userName);
        }
        co_return std::nullopt;
    }

    if (const QJsonValue error = object.value(QStringLiteral("error")); error.isString()) {
        if (!codeGrant)
            co_return error.toString();
        const QJsonValue description = object.value(QStringLiteral("error_description"));
        const QString text = description.isString() ? description.toString() : error.toString();
        throw AuthError::flow(text, text);
    }
    throw AuthError::flow(L10n::tr(QStringLiteral("Sign-in failed (HTTP {status}).")).replace(QStringLiteral("{status}"), QString::number(status.toInt())));
}

QCoro::Task<QString> AuthService::validToken()
{
    // co_return of an lvalue moves from it (QCoro 0.8), so the member is returned as a copy.
    if (m_accessToken && QDateTime::currentDateTimeUtc().secsTo(expiresAt) > kRefreshMarginSeconds)
        co_return QString(*m_accessToken);

    const auto refreshToken = Keychain::read(kRefreshTokenAccount);
    if (!refreshToken)
        throw AuthError::notSignedIn();

    Form refresh;
    refresh << std::pair(QStringLiteral("grant_type"), QStringLiteral("refresh_token"))
            << std::pair(QStringLiteral("refresh_token"), *refreshToken);
    const auto code = co_await exchange(refresh);
    if (code) {
        if (isInteractionCode(*code)) {
            FileLog::write(QStringLiteral("session needs interaction: refresh returned %1").arg(*code));
            reportEvent(QStringLiteral("needs_interaction"), *code);
            throw AuthError::needsInteraction();
        }
        throw AuthError::flow(L10n::tr(QStringLiteral("Could not refresh your session ({error}).")).replace(QStringLiteral("{error}"), *code));
    }
    if (!m_accessToken)
        throw AuthError::notSignedIn();
    co_return QString(*m_accessToken);
}

QCoro::Task<> AuthService::signInOnce(bool forceLogin)
{
    const QString verifier = Pkce::randomUrlSafe(32);
    const QString state = Pkce::randomUrlSafe(16);
    const QUrl url = authorizationUrl(Pkce::challenge(verifier), state, forceLogin, m_settings.textValue(kSignInHintKey));

    const QUrl redirect = co_await m_sheet.present(url);

    const QUrlQuery query(redirect);
    const auto returnedState = queryValue(query, QStringLiteral("state"));
    const auto code = queryValue(query, QStringLiteral("code"));
    if (returnedState == state && code && !code->isEmpty()) {
        Form form;
        form << std::pair(QStringLiteral("grant_type"), QStringLiteral("authorization_code"))
             << std::pair(QStringLiteral("code"), *code) << std::pair(QStringLiteral("code_verifier"), verifier)
             << std::pair(QStringLiteral("redirect_uri"), kRedirectUri);
        co_await exchange(form);
        co_return;
    }

    std::optional<QString> reason = queryValue(query, QStringLiteral("error_description"));
    if (!reason || reason->isEmpty())
        reason = queryValue(query, QStringLiteral("error"));
    if (reason && reason->isEmpty())
        reason.reset();
    throw AuthError::flow(friendlyAuthError(reason).value_or(L10n::tr(QStringLiteral("No authorization code was returned."))),
                          reason.value_or(QString()));
}

QCoro::Task<> AuthService::signIn()
{
    if (m_signingIn) {
        // Join the sign-in that is already waiting for the user.
        co_await qCoro(this, &AuthService::signInFinished);
        if (m_signInFailure)
            std::rethrow_exception(m_signInFailure);
        co_return;
    }

    m_signingIn = true;
    m_signInFailure = nullptr;
    try {
        co_await signInWithRetry();
    } catch (...) {
        m_signInFailure = std::current_exception();
    }
    m_signingIn = false;
    emit signInFinished();
    if (m_signInFailure)
        std::rethrow_exception(m_signInFailure);
}

QCoro::Task<> AuthService::signInWithRetry()
{
    try {
        co_await signInOnce(false);
        reportEvent(QStringLiteral("sign_in_ok"), QString());
        co_return;
    } catch (const AuthError &error) {
        if (error.kind() != AuthError::Kind::flow)
            throw;
        // The authority's own text tells a session ended by a changed password; the message
        // shown to the user no longer carries its markers.
        if (!isStalePasswordSession(error.detail())) {
            const bool cancelled = error.description().contains(QLatin1String("cancelled"));
            reportEvent(cancelled ? QStringLiteral("sign_in_cancelled") : QStringLiteral("sign_in_fail"),
                        error.description().left(80));
            throw;
        }
    }
    FileLog::write(QStringLiteral("sign-in retry after stale password session"));
    co_await signInOnce(true);
    reportEvent(QStringLiteral("sign_in_ok"), QStringLiteral("retry"));
}

void AuthService::cancelSignIn()
{
    m_sheet.cancel();
}

bool AuthService::deliverRedirect(const QUrl &url)
{
    return m_sheet.deliverRedirect(url);
}

void AuthService::signOut()
{
    Keychain::remove(kRefreshTokenAccount);
    m_accessToken.reset();
    expiresAt = distantPast();
    m_displayName.reset();
    m_settings.remove(kDisplayNameKey);
    m_settings.remove(kSignInHintKey);
}

QCoro::Task<bool> AuthService::verifySession()
{
    if (!Keychain::read(kRefreshTokenAccount))
        co_return false;
    try {
        co_await validToken();
        co_return true;
    } catch (const AuthError &error) {
        switch (error.kind()) {
        case AuthError::Kind::notSignedIn:
        case AuthError::Kind::sessionExpired:
            co_return false;
        case AuthError::Kind::needsInteraction:
            FileLog::write(QStringLiteral("session check: interaction required, keeping sign-in"));
            co_return true;
        case AuthError::Kind::flow:
            break;
        }
        FileLog::write(QStringLiteral("session check inconclusive: %1").arg(error.description()));
    } catch (const UserFacingError &error) {
        FileLog::write(QStringLiteral("session check inconclusive: %1").arg(error.description()));
    }
    co_return true;
}

void AuthService::reportEvent(const QString &event, const QString &code)
{
    if (onAuthEvent)
        onAuthEvent(event, code);
}
