#pragma once
// A reply that does not match the record it should hold: a required field missing, null or of
// another type, or the wrong kind of JSON altogether.

#include "support/L10n.h"
#include "support/UserFacingError.h"

class DecodeError final : public UserFacingError {
public:
    explicit DecodeError(const QString &detail)
        : UserFacingError(L10n::text(QStringLiteral("The server's reply couldn't be read ({detail})."),
                                     {{QStringLiteral("detail"), detail}}))
    {
    }
    QString domain() const override { return QStringLiteral("DecodeError"); }
};
