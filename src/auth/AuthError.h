#pragma once
// Sign-in failures, each with the text shown to the user.

#include "support/L10n.h"
#include "support/UserFacingError.h"

class AuthError final : public UserFacingError {
public:
    enum class Kind { flow, notSignedIn, sessionExpired, needsInteraction };

    // A failure of the sign-in flow; `message` is shown as it is, `detail` keeps the
    // authority's own text when there was one.
    static AuthError flow(const QString &message, const QString &detail = {})
    {
        AuthError error(Kind::flow, message);
        error.m_detail = detail.isEmpty() ? message : detail;
        return error;
    }
    static AuthError notSignedIn() { return AuthError(Kind::notSignedIn, L10n::tr(QStringLiteral("You need to sign in to Tovrika first."))); }
    static AuthError sessionExpired() { return AuthError(Kind::sessionExpired, expiredText()); }
    static AuthError needsInteraction() { return AuthError(Kind::needsInteraction, expiredText()); }

    Kind kind() const { return m_kind; }
    const QString &detail() const { return m_detail; }
    QString domain() const override { return QStringLiteral("AuthError"); }
    int code() const override { return int(m_kind); }

private:
    AuthError(Kind kind, const QString &description) : UserFacingError(description), m_kind(kind) {}
    static QString expiredText()
    {
        return L10n::tr(QStringLiteral("Your Tovrika sign-in has expired. Sign in again to keep sharing."));
    }

    Kind m_kind;
    QString m_detail;
};
