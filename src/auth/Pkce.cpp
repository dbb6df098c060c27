#include "auth/Pkce.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace Pkce {

QString base64UrlNoPadding(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString randomUrlSafe(int byteCount)
{
    QByteArray bytes(byteCount, Qt::Uninitialized);
    // The system generator is seeded from the kernel's cryptographic source.
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return base64UrlNoPadding(bytes);
}

QString challenge(const QString &verifier)
{
    return base64UrlNoPadding(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256));
}

} // namespace Pkce
