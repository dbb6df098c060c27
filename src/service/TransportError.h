#pragma once
// A request that got no HTTP response at all (no connection, time-out, TLS failure...).
// Keeps Qt's network error so that callers can tell transient failures from others.

#include "support/UserFacingError.h"

#include <QNetworkReply>

class TransportError final : public UserFacingError {
public:
    TransportError(QNetworkReply::NetworkError code, const QString &description)
        : UserFacingError(description), m_code(code)
    {
    }
    QNetworkReply::NetworkError networkError() const { return m_code; }
    QString domain() const override { return QStringLiteral("QNetworkReply"); }
    int code() const override { return int(m_code); }

private:
    QNetworkReply::NetworkError m_code;
};
