#pragma once
// Signs the user in to the organisation's identity authority (authorisation code with PKCE,
// S256) and hands out access tokens for the web service. The refresh token lives in the
// credential store; the access token and its expiry only in memory. Main thread only.

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <exception>
#include <functional>
#include <optional>
#include <qcorotask.h>

class QNetworkAccessManager;
class SettingsStore;
class WebAuthSheet;

class AuthService final : public QObject {
    Q_OBJECT
public:
    using Form = QList<std::pair<QString, QString>>;

    AuthService(SettingsStore &settings, WebAuthSheet &sheet, QNetworkAccessManager &network, QObject *parent = nullptr);

    // A usable access token, refreshed with the stored refresh token when it expires within
    // 120 seconds. Throws AuthError (notSignedIn, needsInteraction, flow) or TransportError.
    QCoro::Task<QString> validToken();
    // Interactive sign-in, with one forced-login retry when the authority reports a changed or
    // expired password. A sign-in started while one waits joins it.
    QCoro::Task<> signIn();
    // Forgets every credential.
    void signOut();
    // Whether the user still counts as signed in; errs on the side of yes.
    QCoro::Task<bool> verifySession();

    bool signInInProgress() const { return m_signingIn; }
    void cancelSignIn();
    // A "tovrika://auth" redirect handed to the program; false when no sign-in waits.
    bool deliverRedirect(const QUrl &url);

    const std::optional<QString> &displayName() const { return m_displayName; }
    // Set to the distant past to force a refresh on the next validToken().
    QDateTime expiresAt;

    std::function<void()> onSessionExpired;
    std::function<void(const QString &event, const QString &code)> onAuthEvent;

    // The pieces of the flow.
    static QString scope();
    static QUrl authorizationUrl(const QString &challenge, const QString &state, bool forceLogin,
                                 const std::optional<QString> &signInHint);
    static QByteArray formBody(const Form &form);
    static std::optional<QString> claim(const QString &idToken, const QString &name);
    static bool isOpaqueGuidUsername(const QString &text);
    static bool isStalePasswordSession(const QString &text);
    static std::optional<QString> friendlyAuthError(const std::optional<QString> &text);

signals:
    void signInFinished();

private:
    QCoro::Task<> signInOnce(bool forceLogin);
    QCoro::Task<> signInWithRetry();
    QCoro::Task<std::optional<QString>> exchange(Form form);
    void reportEvent(const QString &event, const QString &code);

    SettingsStore &m_settings;
    WebAuthSheet &m_sheet;
    QNetworkAccessManager &m_network;
    std::optional<QString> m_accessToken;
    std::optional<QString> m_displayName;
    bool m_signingIn = false;
    std::exception_ptr m_signInFailure;
};
