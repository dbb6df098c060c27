#pragma once
// The service's blob store: stored objects named "{uuid}.{ext}" as files under
// {data}/blobs, their records, and the signed, expiring addresses through which the program
// writes them with one PUT.

#include "server/ServiceContext.h"

#include <QString>
#include <optional>

struct BlobRecord {
    QString name;
    QString ownerId;
    QString contentType;
    std::optional<qint64> sizeBytes; // absent until the bytes have arrived
};

class BlobStore {
public:
    static constexpr int kUploadUrlLifetimeSeconds = 3600;

    enum class Signature { Valid, Expired, Invalid };

    explicit BlobStore(ServiceContext &context);

    // Records a new, still empty blob for `ownerId`; answers its name.
    QString create(const QString &ownerId, const QString &contentType, const std::optional<QString> &convertedFrom = std::nullopt);
    // A pre-authorised address for one PUT of the blob's bytes, valid for an hour.
    QString uploadUrl(const QString &name) const;
    Signature checkSignature(const QString &name, const QString &expiresText, const QString &signature) const;

    std::optional<BlobRecord> find(const QString &name) const;
    // The blob of `ownerId` whose bytes have arrived; throws HttpError 404/409 otherwise.
    BlobRecord requireUploaded(const QString &name, const QString &ownerId) const;
    void markUploaded(const QString &name, qint64 sizeBytes);

    QString path(const QString &name) const;
    // Where bytes being received are written before they replace the blob's file.
    QString incomingFolder() const;

    static bool isValidName(const QString &name);
    static bool isValidContentType(const QString &contentType);

private:
    QByteArray signature(const QString &name, qint64 expiresAt) const;

    ServiceContext &m_context;
};
