#include "server/TokenService.h"

#include "server/Clock.h"
#include "server/Crypto.h"
#include "server/Database.h"
#include "server/Directory.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

TokenService::TokenService(Database &db, const Clock &clock, const Directory &directory, QByteArray signingKey, QString issuerOrigin)
    : m_db(db)
    , m_clock(clock)
    , m_directory(directory)
    , m_signingKey(std::move(signingKey))
    , m_issuerOrigin(std::move(issuerOrigin))
{
}

bool TokenService::isWellFormedVerifier(const QString &verifier)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._~-]{43,128}$"));
    return pattern.match(verifier).hasMatch();
}

QString TokenService::challengeFor(const QString &verifier)
{
    return Crypto::base64Url(Crypto::sha256(verifier.toUtf8()));
}

QString TokenService::issueCode(const CodeGrant &grant)
{
    const QString code = Crypto::randomToken();
    m_db.transaction([&] {
        m_db.run("INSERT INTO authorization_codes (code_hash, user_id, tenant, client_id, redirect_uri, scope, code_challenge, expires_at) "
                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                 Crypto::sha256Hex(code), grant.userId, grant.tenant, grant.clientId, grant.redirectUri, grant.scope, grant.codeChallenge,
                 m_clock.nowMs() + kCodeLifetimeSeconds * 1000LL);
    });
    return code;
}

IssuedTokens TokenService::redeemCode(const QString &code, const QString &clientId, const QString &redirectUri, const QString &codeVerifier)
{
    if (!isWellFormedVerifier(codeVerifier))
        throw OAuthError::invalidRequest(QStringLiteral("The code_verifier must be 43 to 128 characters of letters, digits, \"-\", \".\", \"_\" and \"~\"."));
    const qint64 now = m_clock.nowMs();
    // Each outcome is committed, even a refusal: a refused attempt also uses the code up.
    std::optional<OAuthError> refusal;
    IssuedTokens tokens = m_db.transaction([&]() -> IssuedTokens {
        SqlStatement row = m_db.query("SELECT user_id, tenant, client_id, redirect_uri, scope, code_challenge, expires_at, used_at, family_id "
                                      "FROM authorization_codes WHERE code_hash = ?",
                                      Crypto::sha256Hex(code));
        if (!row.next()) {
            refusal = OAuthError::invalidGrant(QStringLiteral("The authorization code is not valid."));
            return {};
        }
        const QString userId = row.text(0), tenant = row.text(1), scope = row.text(4), challenge = row.text(5);
        if (row.optionalInteger(7)) {
            // A replayed code may have been stolen: withdraw what it was exchanged for.
            if (const auto family = row.optionalText(8))
                revokeFamily(*family);
            refusal = OAuthError::invalidGrant(QStringLiteral("The authorization code has already been used."));
            return {};
        }
        m_db.run("UPDATE authorization_codes SET used_at = ? WHERE code_hash = ?", now, Crypto::sha256Hex(code));
        if (row.integer(6) <= now)
            refusal = OAuthError::invalidGrant(QStringLiteral("The authorization code has expired."));
        else if (row.text(2) != clientId)
            refusal = OAuthError::invalidGrant(QStringLiteral("The authorization code was issued to another client."));
        else if (row.text(3) != redirectUri)
            refusal = OAuthError::invalidGrant(QStringLiteral("The redirect_uri does not match the one of the authorization request."));
        else if (challengeFor(codeVerifier) != challenge)
            refusal = OAuthError::invalidGrant(QStringLiteral("The code_verifier does not match the code_challenge."));
        if (refusal)
            return {};
        const QString familyId = Crypto::randomToken(16);
        m_db.run("UPDATE authorization_codes SET family_id = ? WHERE code_hash = ?", familyId, Crypto::sha256Hex(code));
        return issueTokens(userId, tenant, clientId, scope, familyId);
    });
    if (refusal)
        throw *refusal;
    return tokens;
}

IssuedTokens TokenService::refresh(const QString &refreshToken, const QString &clientId)
{
    const qint64 now = m_clock.nowMs();
    std::optional<OAuthError> refusal;
    IssuedTokens tokens = m_db.transaction([&]() -> IssuedTokens {
        const QString hash = Crypto::sha256Hex(refreshToken);
        SqlStatement row = m_db.query("SELECT family_id, user_id, tenant, client_id, scope, expires_at, used_at, revoked_at "
                                      "FROM refresh_tokens WHERE token_hash = ?",
                                      hash);
        if (!row.next()) {
            refusal = OAuthError::invalidGrant(QStringLiteral("The refresh token is not valid."));
            return {};
        }
        const QString familyId = row.text(0);
        if (row.text(3) != clientId)
            refusal = OAuthError::invalidGrant(QStringLiteral("The refresh token was issued to another client."));
        else if (row.optionalInteger(7))
            refusal = OAuthError::invalidGrant(QStringLiteral("The refresh token has been revoked. Sign in again."));
        else if (row.integer(5) <= now)
            refusal = OAuthError::invalidGrant(QStringLiteral("The refresh token has expired. Sign in again."));
        else if (const auto usedAt = row.optionalInteger(6); usedAt && now - *usedAt > kRefreshReuseGraceSeconds * 1000LL) {
            // Replayed long after rotation: treat the whole chain as compromised.
            revokeFamily(familyId);
            refusal = OAuthError::invalidGrant(QStringLiteral("The refresh token has already been used. Sign in again."));
        }
        if (refusal)
            return {};
        m_db.run("UPDATE refresh_tokens SET used_at = coalesce(used_at, ?) WHERE token_hash = ?", now, hash);
        return issueTokens(row.text(1), row.text(2), clientId, row.text(4), familyId);
    });
    if (refusal)
        throw *refusal;
    return tokens;
}

IssuedTokens TokenService::issueTokens(const QString &userId, const QString &tenant, const QString &clientId, const QString &scope, const QString &familyId)
{
    const qint64 now = m_clock.nowMs();
    // Expired secrets serve nobody; used codes stay a day so that replays are recognised.
    m_db.run("DELETE FROM access_tokens WHERE expires_at <= ?", now);
    m_db.run("DELETE FROM authorization_codes WHERE expires_at <= ?", now - 24 * 3600 * 1000LL);
    IssuedTokens tokens;
    tokens.accessToken = Crypto::randomToken();
    tokens.refreshToken = Crypto::randomToken();
    tokens.scope = scope;
    tokens.expiresInSeconds = kAccessTokenLifetimeSeconds;
    m_db.run("INSERT INTO access_tokens (token_hash, user_id, family_id, issued_at, expires_at) VALUES (?, ?, ?, ?, ?)",
             Crypto::sha256Hex(tokens.accessToken), userId, familyId, now, now + kAccessTokenLifetimeSeconds * 1000LL);
    m_db.run("INSERT INTO refresh_tokens (token_hash, family_id, user_id, tenant, client_id, scope, issued_at, expires_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
             Crypto::sha256Hex(tokens.refreshToken), familyId, userId, tenant, clientId, scope, now, now + kRefreshTokenLifetimeSeconds * 1000);
    tokens.idToken = idToken(userId, tenant, clientId);
    return tokens;
}

QString TokenService::idToken(const QString &userId, const QString &tenant, const QString &clientId) const
{
    const std::optional<DirectoryPerson> person = m_directory.person(userId);
    const qint64 issuedAt = m_clock.nowSeconds();
    const QJsonObject header{{QStringLiteral("alg"), QStringLiteral("HS256")}, {QStringLiteral("typ"), QStringLiteral("JWT")}};
    QJsonObject payload{
        {QStringLiteral("iss"), QStringLiteral("%1/%2").arg(m_issuerOrigin, tenant)},
        {QStringLiteral("aud"), clientId},
        {QStringLiteral("sub"), userId},
        {QStringLiteral("iat"), issuedAt},
        {QStringLiteral("nbf"), issuedAt},
        {QStringLiteral("exp"), issuedAt + kAccessTokenLifetimeSeconds},
    };
    if (person) {
        payload.insert(QStringLiteral("name"), person->displayName);
        payload.insert(QStringLiteral("preferred_username"), person->userName);
        payload.insert(QStringLiteral("email"), person->email);
    }
    const QString signingInput = Crypto::base64Url(QJsonDocument(header).toJson(QJsonDocument::Compact)) + QLatin1Char('.')
                                 + Crypto::base64Url(QJsonDocument(payload).toJson(QJsonDocument::Compact));
    return signingInput + QLatin1Char('.') + Crypto::base64Url(Crypto::hmacSha256(m_signingKey, signingInput.toLatin1()));
}

void TokenService::revokeFamily(const QString &familyId)
{
    m_db.run("UPDATE refresh_tokens SET revoked_at = coalesce(revoked_at, ?) WHERE family_id = ?", m_clock.nowMs(), familyId);
    m_db.run("DELETE FROM access_tokens WHERE family_id = ?", familyId);
}

std::optional<QString> TokenService::userForAccessToken(const QString &accessToken) const
{
    return m_db.transaction([&]() -> std::optional<QString> {
        SqlStatement row = m_db.query("SELECT user_id FROM access_tokens WHERE token_hash = ? AND expires_at > ?", Crypto::sha256Hex(accessToken), m_clock.nowMs());
        return row.next() ? std::optional(row.text(0)) : std::nullopt;
    });
}

QString TokenService::startSession(const QString &userId)
{
    const QString token = Crypto::randomToken();
    const qint64 now = m_clock.nowMs();
    m_db.transaction([&] {
        m_db.run("INSERT INTO sign_in_sessions (id_hash, user_id, created_at, expires_at) VALUES (?, ?, ?, ?)", Crypto::sha256Hex(token), userId, now,
                 now + kSessionLifetimeSeconds * 1000LL);
    });
    return token;
}

std::optional<QString> TokenService::sessionUser(const QString &sessionToken) const
{
    if (sessionToken.isEmpty())
        return std::nullopt;
    return m_db.transaction([&]() -> std::optional<QString> {
        SqlStatement row = m_db.query("SELECT user_id FROM sign_in_sessions WHERE id_hash = ? AND expires_at > ?", Crypto::sha256Hex(sessionToken), m_clock.nowMs());
        return row.next() ? std::optional(row.text(0)) : std::nullopt;
    });
}

std::optional<QString> TokenService::sessionUserFromCookies(const QString &cookieHeader) const
{
    const QString prefix = QLatin1String(kSessionCookie) + QLatin1Char('=');
    for (const QString &cookie : cookieHeader.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString pair = cookie.trimmed();
        if (pair.startsWith(prefix))
            return sessionUser(pair.mid(prefix.size()));
    }
    return std::nullopt;
}
