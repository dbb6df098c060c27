#include "server/Crypto.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <stdexcept>

namespace Crypto {

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), count) != 1)
        throw std::runtime_error("the system random source failed");
    return bytes;
}

QString randomToken(int bytes)
{
    return base64Url(randomBytes(bytes));
}

QString base64Url(const QByteArray &data)
{
    return QString::fromLatin1(data.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString sha256Hex(const QString &text)
{
    return QString::fromLatin1(sha256(text.toUtf8()).toHex());
}

QByteArray sha256(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

QByteArray hmacSha256(const QByteArray &key, const QByteArray &data)
{
    return QMessageAuthenticationCode::hash(data, key, QCryptographicHash::Sha256);
}

bool constantTimeEquals(const QByteArray &a, const QByteArray &b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.constData(), b.constData(), static_cast<size_t>(a.size())) == 0;
}

} // namespace Crypto
