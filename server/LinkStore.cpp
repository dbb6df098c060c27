#include "server/LinkStore.h"

#include "server/Clock.h"
#include "server/Crypto.h"
#include "server/Database.h"
#include "server/HttpError.h"

#include <QJsonDocument>
#include <QRegularExpression>

namespace {

constexpr const char *kLinkQuery =
    "SELECT l.slug, l.owner_id, l.title, l.title_is_default, l.content_type, l.reserved_blob, l.blob_name, l.poster_blob, l.created_at, "
    "l.folder_id, l.duration_seconds, v.id, (SELECT count(*) FROM viewer_assignments a WHERE a.video_id = v.id), b.size_bytes "
    "FROM links l LEFT JOIN videos v ON v.slug = l.slug LEFT JOIN blobs b ON b.name = l.blob_name ";

LinkRecord readLink(const SqlStatement &row)
{
    LinkRecord link;
    link.slug = row.text(0);
    link.ownerId = row.text(1);
    link.title = row.text(2);
    link.titleIsDefault = row.boolean(3);
    link.contentType = row.text(4);
    link.reservedBlob = row.optionalText(5);
    link.blobName = row.optionalText(6);
    link.posterBlob = row.optionalText(7);
    link.createdAt = row.integer(8);
    link.folderId = row.optionalInteger(9);
    link.durationSeconds = row.optionalInteger(10);
    link.videoId = row.optionalInteger(11);
    link.assignmentCount = row.integer(12);
    link.sizeBytes = row.optionalInteger(13);
    return link;
}

// Short, unambiguous to read aloud, and hard to guess.
QString newSlug()
{
    static const QByteArray alphabet("23456789abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ");
    QString slug;
    for (char byte : Crypto::randomBytes(10))
        slug += QLatin1Char(alphabet.at(static_cast<unsigned char>(byte) % alphabet.size()));
    return slug;
}

std::optional<QString> compactJson(const std::optional<QJsonArray> &array)
{
    if (!array)
        return std::nullopt;
    return QString::fromUtf8(QJsonDocument(*array).toJson(QJsonDocument::Compact));
}

} // namespace

QString LinkRecord::itemType() const
{
    if (contentType.startsWith(QLatin1String("video/")))
        return QStringLiteral("video");
    if (contentType == QLatin1String("image/gif"))
        return QStringLiteral("gif");
    return QStringLiteral("image");
}

LinkStore::LinkStore(ServiceContext &context)
    : m_context(context)
{
}

bool LinkStore::isValidSlug(const QString &slug)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return pattern.match(slug).hasMatch();
}

QString LinkStore::reserve(const QString &ownerId, const QString &title, bool titleIsDefault, const QString &contentType, const std::optional<QString> &reservedBlob)
{
    return m_context.db.transaction([&] {
        QString slug = newSlug();
        while (m_context.db.query("SELECT 1 FROM links WHERE slug = ?", slug).next())
            slug = newSlug();
        m_context.db.run("INSERT INTO links (slug, owner_id, title, title_is_default, content_type, reserved_blob, created_at) VALUES (?, ?, ?, ?, ?, ?, ?)", slug, ownerId,
                         title, titleIsDefault, contentType, reservedBlob, m_context.clock.nowMs());
        return slug;
    });
}

void LinkStore::publish(const QString &slug, const Publication &publication)
{
    m_context.db.transaction([&] {
        m_context.db.run("UPDATE links SET blob_name = ?, content_type = ?, title = coalesce(?, title), title_is_default = ?, poster_blob = ?, "
                         "duration_seconds = ?, notify_on_start = ?, spoken_language = ?, caption_languages = ?, voices = ?, "
                         "published_at = coalesce(published_at, ?) WHERE slug = ?",
                         publication.blobName, publication.contentType, publication.title, publication.titleIsDefault, publication.posterBlob,
                         publication.durationSeconds, publication.notifyOnStart, publication.spokenLanguage, compactJson(publication.captionLanguages),
                         compactJson(publication.voices), m_context.clock.nowMs(), slug);
    });
}

void LinkStore::setFolder(const QString &slug, const std::optional<qint64> &folderId)
{
    m_context.db.transaction([&] { m_context.db.run("UPDATE links SET folder_id = ? WHERE slug = ?", folderId, slug); });
}

std::optional<LinkRecord> LinkStore::find(const QString &slug) const
{
    return m_context.db.transaction([&]() -> std::optional<LinkRecord> {
        SqlStatement row = m_context.db.query((QByteArray(kLinkQuery) + "WHERE l.slug = ?").constData(), slug);
        return row.next() ? std::optional(readLink(row)) : std::nullopt;
    });
}

LinkRecord LinkStore::requireOwned(const QString &slug, const QString &userId) const
{
    const std::optional<LinkRecord> link = isValidSlug(slug) ? find(slug) : std::nullopt;
    if (!link || link->ownerId != userId)
        throw HttpError::notFound(QStringLiteral("There is no share link \u201C%1\u201D.").arg(slug));
    return *link;
}

QList<LinkRecord> LinkStore::library(const QString &userId) const
{
    return m_context.db.transaction([&] {
        SqlStatement rows = m_context.db.query((QByteArray(kLinkQuery) + "WHERE l.owner_id = ? AND l.blob_name IS NOT NULL ORDER BY l.created_at DESC, l.rowid DESC").constData(), userId);
        QList<LinkRecord> links;
        while (rows.next())
            links << readLink(rows);
        return links;
    });
}

QString LinkStore::shareUrl(const QString &slug) const
{
    return m_context.origin + QStringLiteral("/v/") + slug;
}

QJsonObject LinkStore::shareLinkJson(const LinkRecord &link) const
{
    QJsonObject json{{QStringLiteral("slug"), link.slug}, {QStringLiteral("url"), shareUrl(link.slug)}, {QStringLiteral("assignmentCount"), link.assignmentCount}};
    if (link.videoId)
        json.insert(QStringLiteral("videoId"), *link.videoId);
    return json;
}

QJsonObject LinkStore::libraryItemJson(const LinkRecord &link) const
{
    QJsonObject json{
        {QStringLiteral("slug"), link.slug},
        {QStringLiteral("title"), link.title},
        {QStringLiteral("itemType"), link.itemType()},
        {QStringLiteral("url"), shareUrl(link.slug)},
        {QStringLiteral("sizeBytes"), link.sizeBytes.value_or(0)},
        {QStringLiteral("createdAt"), Clock::isoText(link.createdAt)},
        {QStringLiteral("assignmentCount"), link.assignmentCount},
        // Made on first request from the poster, or from the picture or first video frame.
        {QStringLiteral("thumbUrl"), shareUrl(link.slug) + QStringLiteral("/thumb.jpg")},
    };
    if (link.videoId)
        json.insert(QStringLiteral("videoId"), *link.videoId);
    if (link.durationSeconds)
        json.insert(QStringLiteral("durationSeconds"), *link.durationSeconds);
    if (link.folderId)
        json.insert(QStringLiteral("folderId"), *link.folderId);
    return json;
}
