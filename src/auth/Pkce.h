#pragma once
// The random values and the code challenge of an authorisation-code sign-in with PKCE (S256).

#include <QByteArray>
#include <QString>

namespace Pkce {
// n random bytes from the system's cryptographic source, base64url without padding.
QString randomUrlSafe(int byteCount);
// base64url without padding of SHA-256(UTF-8 of the verifier).
QString challenge(const QString &verifier);
QString base64UrlNoPadding(const QByteArray &bytes);
} // namespace Pkce
