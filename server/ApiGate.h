#pragma once
// The checks in front of every API call: the client's version (from its User-Agent) and the
// bearer access token, which names the user the call acts for.

#include <QString>
#include <QVersionNumber>
#include <httplib.h>
#include <optional>

class TokenService;

class ApiGate {
public:
    ApiGate(const TokenService &tokens, std::optional<QVersionNumber> minClientVersion);

    // Throws HttpError 401 {"code": "update_required"} for clients below the minimum version.
    // Agents that do not say which Tovrika they are count as too old once a minimum is set.
    void requireCurrentClient(const httplib::Request &req) const;
    // Answers the signed-in user's id; throws HttpError 401 without a valid access token.
    QString requireUser(const httplib::Request &req) const;

private:
    const TokenService &m_tokens;
    std::optional<QVersionNumber> m_minClientVersion;
};
