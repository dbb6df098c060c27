#pragma once
// Hashes, signatures and random values used for codes, tokens and signed addresses.

#include <QByteArray>
#include <QString>

namespace Crypto {

QByteArray randomBytes(int count);
// A URL-safe random text carrying `bytes` bytes of entropy.
QString randomToken(int bytes = 32);
QString base64Url(const QByteArray &data);
// Lower-case hexadecimal SHA-256, the form in which secrets are stored.
QString sha256Hex(const QString &text);
QByteArray sha256(const QByteArray &data);
QByteArray hmacSha256(const QByteArray &key, const QByteArray &data);
// Comparison whose duration does not depend on where the texts differ.
bool constantTimeEquals(const QByteArray &a, const QByteArray &b);

} // namespace Crypto
