#pragma once
// A failure reported by a desktop facility (screen capture, media toolkit): the domain and code
// say which facility and what went wrong, so callers can tell a refused microphone from a
// refused screen capture; the description is the text shown to the user (already localised).

#include "support/UserFacingError.h"

class PlatformError : public UserFacingError {
public:
    PlatformError(QString domain, int code, QString description, QString failureReason = {},
                  QString recoverySuggestion = {})
        : UserFacingError(std::move(description))
        , m_domain(std::move(domain))
        , m_code(code)
        , m_failureReason(std::move(failureReason))
        , m_recoverySuggestion(std::move(recoverySuggestion))
    {
    }

    QString domain() const override { return m_domain; }
    int code() const override { return m_code; }
    const QString &failureReason() const noexcept { return m_failureReason; }
    const QString &recoverySuggestion() const noexcept { return m_recoverySuggestion; }

private:
    QString m_domain;
    int m_code = 0;
    QString m_failureReason;
    QString m_recoverySuggestion;
};
