#pragma once
// The records exchanged with the web service. Replies are read strictly (see JsonFields);
// every record can be written back with the same keys, absent optionals left out.

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class QJsonValue;

// Where to put the bytes of a new blob.
struct UploadTicket {
    QString blobName;
    QString uploadUrl;
    bool operator==(const UploadTicket &) const = default;
    static UploadTicket fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
};

// A share link reserved before its video exists, with an upload target.
struct ReservedLink {
    QString slug;
    QString url;
    QString blobName;
    QString uploadUrl;
    bool operator==(const ReservedLink &) const = default;
    static ReservedLink fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
};

// A published share link.
struct ShareLink {
    QString slug;
    QString url;
    std::optional<qint64> videoId;
    std::optional<qint64> assignmentCount;
    bool operator==(const ShareLink &) const = default;
    static ShareLink fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
};

// One entry of the user's library; `slug` is its identity.
struct LibraryItem {
    QString slug;
    QString title;
    QString itemType; // "video", or anything else for a still picture
    QString url;
    qint64 sizeBytes = 0;
    QString createdAt;
    std::optional<QString> thumbUrl;
    std::optional<qint64> videoId;
    qint64 assignmentCount = 0;
    std::optional<QString> keywords;
    std::optional<qint64> durationSeconds;
    std::optional<qint64> folderId;
    bool operator==(const LibraryItem &) const = default;
    static LibraryItem fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
    // `createdAt` read leniently; the distant past when it is no date at all.
    QDateTime createdDate() const;
};

// A library folder; `id` is its identity.
struct VideoFolder {
    qint64 id = 0;
    QString name;
    qint64 sortOrder = 0;
    qint64 itemCount = 0;
    bool operator==(const VideoFolder &) const = default;
    static VideoFolder fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
};

// A person of the organisation's directory.
struct DirectoryUser {
    QString id; // UUID, upper case
    QString displayName;
    QString email;
    bool operator==(const DirectoryUser &) const = default;
    static DirectoryUser fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
};

// A named group of viewers (or of people to leave out).
struct VideoGroup {
    QString id; // UUID, upper case
    QString name;
    std::optional<QString> description;
    bool isOwner = false;
    bool isExclusionList = false;
    bool operator==(const VideoGroup &) const = default;
    static VideoGroup fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
};

struct QuizQuestion {
    qint64 id = 0;
    QString text;
    QStringList options;
    qint64 correctIndex = 0;
    bool included = false;
    bool recommended = false;
    bool isCustom = false;
    bool operator==(const QuizQuestion &) const = default;
    static QuizQuestion fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
};

struct QuizStatus {
    QString status; // "pending", "ready", "failed" or "confirmed"
    std::optional<QString> summary;
    qint64 questionCount = 0;
    QList<QuizQuestion> questions;
    bool operator==(const QuizStatus &) const = default;
    static QuizStatus fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
};

struct GifBlob {
    QString blobName;
    bool operator==(const GifBlob &) const = default;
    static GifBlob fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
};

// The reply of calls that answer nothing.
struct EmptyOk {
    bool operator==(const EmptyOk &) const = default;
    static EmptyOk fromJson(const QJsonValue &value);
    QJsonObject toJson() const { return {}; }
};

// Who should watch a recording, and how.
struct ViewerSelection {
    QStringList individualUserIds;
    QStringList groupIds;
    QStringList customerEmails;
    bool askSeenProof = false;
    bool askQuiz = false;
    qint64 questionCount = 0;
    bool notifyOnStart = false;
    bool operator==(const ViewerSelection &) const = default;
    bool choosesAnyone() const { return !individualUserIds.isEmpty() || !groupIds.isEmpty() || !customerEmails.isEmpty(); }
};

// A quiz question written by the user.
struct QuizDraft {
    QString text;
    QStringList options;
    qint64 correctIndex = 0;
    bool operator==(const QuizDraft &) const = default;
};
