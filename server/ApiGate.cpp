#include "server/ApiGate.h"

#include "server/ClientVersion.h"
#include "server/HttpError.h"
#include "server/TokenService.h"

ApiGate::ApiGate(const TokenService &tokens, std::optional<QVersionNumber> minClientVersion)
    : m_tokens(tokens)
    , m_minClientVersion(std::move(minClientVersion))
{
}

void ApiGate::requireCurrentClient(const httplib::Request &req) const
{
    if (!m_minClientVersion)
        return;
    const auto version = ClientVersion::fromUserAgent(QString::fromStdString(req.get_header_value("User-Agent")));
    // Trailing zeros do not count: 2.1 and 2.1.0 are the same version.
    if (!version || version->normalized() < m_minClientVersion->normalized())
        throw HttpError(401, QStringLiteral("This version of Tovrika is out of date; version %1 or later is required.").arg(m_minClientVersion->toString()),
                        QStringLiteral("update_required"));
}

QString ApiGate::requireUser(const httplib::Request &req) const
{
    const QString header = QString::fromStdString(req.get_header_value("Authorization"));
    const QLatin1String scheme("Bearer ");
    if (!header.startsWith(scheme, Qt::CaseInsensitive))
        throw HttpError(401, QStringLiteral("Sign in to Tovrika: the request carries no bearer access token."), QStringLiteral("invalid_token"));
    const auto user = m_tokens.userForAccessToken(header.mid(scheme.size()).trimmed());
    if (!user)
        throw HttpError(401, QStringLiteral("The access token is not valid or has expired."), QStringLiteral("invalid_token"));
    return *user;
}
