#pragma once
// Share links: reserved before their file exists, published with a blob, filed in folders,
// and described to the program as ShareLink and LibraryItem records.

#include "server/ServiceContext.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <optional>

struct LinkRecord {
    QString slug;
    QString ownerId;
    QString title;
    bool titleIsDefault = false;
    QString contentType;
    std::optional<QString> reservedBlob;
    std::optional<QString> blobName;
    std::optional<QString> posterBlob;
    qint64 createdAt = 0;
    std::optional<qint64> folderId;
    std::optional<qint64> durationSeconds;
    std::optional<qint64> videoId;
    qint64 assignmentCount = 0;
    std::optional<qint64> sizeBytes; // of the published blob

    bool isPublished() const { return blobName.has_value(); }
    // "video" for recordings, "gif" for GIFs, "image" for other pictures.
    QString itemType() const;
};

// What publishing sets on a link.
struct Publication {
    QString blobName;
    QString contentType;
    std::optional<QString> title;
    bool titleIsDefault = false;
    std::optional<QString> posterBlob;
    std::optional<qint64> durationSeconds;
    bool notifyOnStart = false;
    std::optional<QString> spokenLanguage;
    std::optional<QJsonArray> captionLanguages;
    std::optional<QJsonArray> voices;
};

class LinkStore {
public:
    explicit LinkStore(ServiceContext &context);

    // Answers the new link's slug.
    QString reserve(const QString &ownerId, const QString &title, bool titleIsDefault, const QString &contentType, const std::optional<QString> &reservedBlob);
    void publish(const QString &slug, const Publication &publication);
    void setFolder(const QString &slug, const std::optional<qint64> &folderId);

    std::optional<LinkRecord> find(const QString &slug) const;
    // The caller's link; throws HttpError 404 for unknown slugs and other people's links.
    LinkRecord requireOwned(const QString &slug, const QString &userId) const;
    // The user's published links, newest first.
    QList<LinkRecord> library(const QString &userId) const;

    QString shareUrl(const QString &slug) const;
    QJsonObject shareLinkJson(const LinkRecord &link) const;
    QJsonObject libraryItemJson(const LinkRecord &link) const;

    static bool isValidSlug(const QString &slug);

private:
    ServiceContext &m_context;
};
