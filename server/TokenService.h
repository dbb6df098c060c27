#pragma once
// Issues and checks everything the sign-in authority hands out: authorisation codes (bound to
// a PKCE challenge, a client and a redirect URI, single use, short-lived), access tokens,
// rotating refresh tokens, ID tokens, and the browser's sign-in session. Only hashes of the
// secrets are stored.

#include "server/OAuthError.h"

#include <QByteArray>
#include <QString>
#include <optional>

class Clock;
class Database;
class Directory;

struct CodeGrant {
    QString userId;
    QString tenant;
    QString clientId;
    QString redirectUri;
    QString scope;
    QString codeChallenge;
};

struct IssuedTokens {
    QString accessToken;
    QString refreshToken;
    QString idToken;
    QString scope;
    int expiresInSeconds = 0;
};

class TokenService {
public:
    static constexpr int kCodeLifetimeSeconds = 300;
    static constexpr int kAccessTokenLifetimeSeconds = 3600;
    static constexpr qint64 kRefreshTokenLifetimeSeconds = 90LL * 24 * 3600;
    static constexpr int kSessionLifetimeSeconds = 12 * 3600;
    // A rotated refresh token still works this long: the client refreshes concurrently from
    // several requests without merging them, and each must get tokens.
    static constexpr int kRefreshReuseGraceSeconds = 10;

    TokenService(Database &db, const Clock &clock, const Directory &directory, QByteArray signingKey, QString issuerOrigin);

    QString issueCode(const CodeGrant &grant);
    // The authorization_code grant; throws OAuthError.
    IssuedTokens redeemCode(const QString &code, const QString &clientId, const QString &redirectUri, const QString &codeVerifier);
    // The refresh_token grant with rotation; throws OAuthError.
    IssuedTokens refresh(const QString &refreshToken, const QString &clientId);

    // The user an unexpired, unrevoked access token belongs to.
    std::optional<QString> userForAccessToken(const QString &accessToken) const;

    // The browser's sign-in session (a cookie value), so later sign-ins need no page.
    static constexpr const char *kSessionCookie = "tovrika_session";
    QString startSession(const QString &userId);
    std::optional<QString> sessionUser(const QString &sessionToken) const;
    // The user of the session cookie in a request's "Cookie" header, if it is still valid.
    std::optional<QString> sessionUserFromCookies(const QString &cookieHeader) const;

    // True for a verifier of the form RFC 7636 allows: 43 to 128 unreserved characters.
    static bool isWellFormedVerifier(const QString &verifier);
    static QString challengeFor(const QString &verifier);

private:
    IssuedTokens issueTokens(const QString &userId, const QString &tenant, const QString &clientId, const QString &scope, const QString &familyId);
    QString idToken(const QString &userId, const QString &tenant, const QString &clientId) const;
    void revokeFamily(const QString &familyId);

    Database &m_db;
    const Clock &m_clock;
    const Directory &m_directory;
    QByteArray m_signingKey;
    QString m_issuerOrigin;
};
