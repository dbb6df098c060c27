#pragma once
// An OAuth 2.0 error reply of the token endpoint: {"error": ..., "error_description": ...}.

#include <QString>
#include <stdexcept>

class OAuthError : public std::runtime_error {
public:
    OAuthError(const QString &error, const QString &description)
        : std::runtime_error(description.toStdString())
        , m_error(error)
        , m_description(description)
    {
    }

    const QString &error() const { return m_error; }
    const QString &description() const { return m_description; }

    static OAuthError invalidRequest(const QString &description) { return {QStringLiteral("invalid_request"), description}; }
    static OAuthError invalidGrant(const QString &description) { return {QStringLiteral("invalid_grant"), description}; }
    static OAuthError invalidClient(const QString &description) { return {QStringLiteral("invalid_client"), description}; }

private:
    QString m_error;
    QString m_description;
};
