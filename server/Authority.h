#pragma once
// The sign-in authority: the authorisation endpoint with its sign-in page, and the token
// endpoint (authorisation-code grant with PKCE, refresh grant), under /{tenant}/oauth2/v2.0/.
// Any tenant that is a UUID is accepted.

#include "server/ServiceContext.h"
#include "server/TokenService.h"

#include <httplib.h>
#include <optional>

class Authority {
public:
    // The one registered client: the desktop program, which takes the redirect through its
    // URL scheme.
    static constexpr const char *kClientId = "b7e4a1d2-3c5f-4e8a-9b6d-0f2c4a8e1d57";
    static constexpr const char *kRedirectUri = "tovrika://auth";

    Authority(ServiceContext &context, TokenService &tokens);
    void registerRoutes(httplib::Server &server);

private:
    struct AuthorizationRequest {
        QString tenant;
        QString clientId;
        QString redirectUri;
        QString scope;
        std::optional<QString> state;
        QString codeChallenge;
        QString loginHint;
        QString prompt;
    };

    void authorize(const httplib::Request &req, httplib::Response &res);
    void answerSignInForm(const httplib::Request &req, httplib::Response &res);
    void token(const httplib::Request &req, httplib::Response &res);

    // Sends the browser back to the program with a code for `userId`, or with the error that
    // keeps this person out.
    void approve(const AuthorizationRequest &request, const QString &userId, httplib::Response &res, bool startSession);
    void redirectWithError(const AuthorizationRequest &request, const QString &error, const QString &description, httplib::Response &res);
    void showSignInPage(const QString &requestId, const AuthorizationRequest &request, const QString &typed, const QString &message,
                        const std::optional<QString> &sessionUser, httplib::Response &res);
    QString storeRequest(const AuthorizationRequest &request);
    std::optional<AuthorizationRequest> loadRequest(const QString &id);
    void forgetRequest(const QString &id);
    std::optional<QString> sessionUser(const httplib::Request &req) const;

    ServiceContext &m_context;
    TokenService &m_tokens;
};
