#include "server/BlobStore.h"

#include "server/Clock.h"
#include "server/Crypto.h"
#include "server/Database.h"
#include "server/HttpError.h"

#include <QDir>
#include <QRegularExpression>
#include <QUrl>
#include <QUuid>

namespace {

QString extensionFor(const QString &contentType)
{
    static const QList<std::pair<QString, QString>> known{
        {QStringLiteral("video/mp4"), QStringLiteral("mp4")},     {QStringLiteral("video/webm"), QStringLiteral("webm")},
        {QStringLiteral("video/quicktime"), QStringLiteral("mov")}, {QStringLiteral("image/png"), QStringLiteral("png")},
        {QStringLiteral("image/gif"), QStringLiteral("gif")},     {QStringLiteral("image/jpeg"), QStringLiteral("jpg")},
    };
    const QString type = contentType.section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    for (const auto &[mime, extension] : known) {
        if (mime == type)
            return extension;
    }
    return QStringLiteral("bin");
}

} // namespace

BlobStore::BlobStore(ServiceContext &context)
    : m_context(context)
{
    QDir().mkpath(incomingFolder());
}

bool BlobStore::isValidName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\.[a-z0-9]{1,5}$"));
    return pattern.match(name).hasMatch();
}

bool BlobStore::isValidContentType(const QString &contentType)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9!#$&^_.+-]*/[A-Za-z0-9][A-Za-z0-9!#$&^_.+-]*$"));
    return contentType.size() <= 127 && pattern.match(contentType).hasMatch();
}

QString BlobStore::create(const QString &ownerId, const QString &contentType, const std::optional<QString> &convertedFrom)
{
    const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces) + QLatin1Char('.') + extensionFor(contentType);
    m_context.db.transaction([&] {
        m_context.db.run("INSERT INTO blobs (name, owner_id, content_type, created_at, converted_from) VALUES (?, ?, ?, ?, ?)", name, ownerId,
                         contentType.toLower(), m_context.clock.nowMs(), convertedFrom);
    });
    return name;
}

QByteArray BlobStore::signature(const QString &name, qint64 expiresAt) const
{
    // Signs the method too, so the address can never be turned into another kind of access.
    const QString signedText = QStringLiteral("PUT\n%1\n%2").arg(name).arg(expiresAt);
    return Crypto::hmacSha256(m_context.signingKey, signedText.toUtf8());
}

QString BlobStore::uploadUrl(const QString &name) const
{
    const qint64 expiresAt = m_context.clock.nowSeconds() + kUploadUrlLifetimeSeconds;
    return QStringLiteral("%1/blobs/%2?expires=%3&signature=%4").arg(m_context.origin, name).arg(expiresAt).arg(Crypto::base64Url(signature(name, expiresAt)));
}

BlobStore::Signature BlobStore::checkSignature(const QString &name, const QString &expiresText, const QString &signatureText) const
{
    bool ok = false;
    const qint64 expiresAt = expiresText.toLongLong(&ok);
    if (!ok)
        return Signature::Invalid;
    const QByteArray given = QByteArray::fromBase64(signatureText.toLatin1(), QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!Crypto::constantTimeEquals(given, signature(name, expiresAt)))
        return Signature::Invalid;
    return expiresAt <= m_context.clock.nowSeconds() ? Signature::Expired : Signature::Valid;
}

std::optional<BlobRecord> BlobStore::find(const QString &name) const
{
    return m_context.db.transaction([&]() -> std::optional<BlobRecord> {
        SqlStatement row = m_context.db.query("SELECT name, owner_id, content_type, size_bytes FROM blobs WHERE name = ?", name);
        if (!row.next())
            return std::nullopt;
        return BlobRecord{row.text(0), row.text(1), row.text(2), row.optionalInteger(3)};
    });
}

BlobRecord BlobStore::requireUploaded(const QString &name, const QString &ownerId) const
{
    const std::optional<BlobRecord> blob = find(name);
    if (!blob || blob->ownerId != ownerId)
        throw HttpError::notFound(QStringLiteral("There is no blob named \u201C%1\u201D.").arg(name));
    if (!blob->sizeBytes)
        throw HttpError::conflict(QStringLiteral("The blob \u201C%1\u201D has not been uploaded yet.").arg(name));
    return *blob;
}

void BlobStore::markUploaded(const QString &name, qint64 sizeBytes)
{
    m_context.db.transaction([&] {
        m_context.db.run("UPDATE blobs SET size_bytes = ?, uploaded_at = ? WHERE name = ?", sizeBytes, m_context.clock.nowMs(), name);
    });
}

QString BlobStore::path(const QString &name) const
{
    return m_context.dataDir + QStringLiteral("/blobs/") + name;
}

QString BlobStore::incomingFolder() const
{
    return m_context.dataDir + QStringLiteral("/blobs/incoming");
}
