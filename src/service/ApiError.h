#pragma once
// Failures of the web service's API, each with the text shown to the user.

#include "support/L10n.h"
#include "support/UserFacingError.h"

#include <optional>

class ApiError final : public UserFacingError {
public:
    enum class Kind { http, transport, updateRequired };

    // The service answered with a status outside 200-299; `message` is its reply's "title".
    static ApiError http(int status, const std::optional<QString> &message)
    {
        ApiError error(Kind::http, message ? *message
                                           : L10n::text(QStringLiteral("The server returned HTTP {status}."),
                                                        {{QStringLiteral("status"), QString::number(status)}}));
        error.m_status = status;
        return error;
    }
    // A failure found on this side, with its user-facing message.
    static ApiError transport(const QString &message) { return ApiError(Kind::transport, message); }
    static ApiError updateRequired()
    {
        return ApiError(Kind::updateRequired,
                        L10n::tr(QStringLiteral("This version of Tovrika is out of date. Install the update to keep sharing.")));
    }

    Kind kind() const { return m_kind; }
    int status() const { return m_status; }
    QString domain() const override { return QStringLiteral("ApiError"); }
    int code() const override { return m_kind == Kind::http ? m_status : int(m_kind); }

private:
    ApiError(Kind kind, const QString &description) : UserFacingError(description), m_kind(kind) {}

    Kind m_kind;
    int m_status = 0;
};
