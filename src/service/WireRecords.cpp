#include "service/WireRecords.h"

#include "service/JsonFields.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTimeZone>

namespace {
void insertIf(QJsonObject &object, const char *key, const std::optional<QString> &value)
{
    if (value)
        object.insert(QLatin1String(key), *value);
}
void insertIf(QJsonObject &object, const char *key, const std::optional<qint64> &value)
{
    if (value)
        object.insert(QLatin1String(key), *value);
}
} // namespace

UploadTicket UploadTicket::fromJson(const QJsonValue &value)
{
    const JsonFields f(value, "UploadTicket");
    return {f.text("blobName"), f.text("uploadUrl")};
}

QJsonObject UploadTicket::toJson() const
{
    return {{QStringLiteral("blobName"), blobName}, {QStringLiteral("uploadUrl"), uploadUrl}};
}

ReservedLink ReservedLink::fromJson(const QJsonValue &value)
{
    const JsonFields f(value, "ReservedLink");
    return {f.text("slug"), f.text("url"), f.text("blobName"), f.text("uploadUrl")};
}

QJsonObject ReservedLink::toJson() const
{
    return {{QStringLiteral("slug"), slug}, {QStringLiteral("url"), url}, {QStringLiteral("blobName"), blobName},
            {QStringLiteral("uploadUrl"), uploadUrl}};
}

ShareLink ShareLink::fromJson(const QJsonValue &value)
{
    const JsonFields f(value, "ShareLink");
    return {f.text("slug"), f.text("url"), f.optionalInteger("videoId"), f.optionalInteger("assignmentCount")};
}

QJsonObject ShareLink::toJson() const
{
    QJsonObject object{{QStringLiteral("slug"), slug}, {QStringLiteral("url"), url}};
    insertIf(object, "videoId", videoId);
    insertIf(object, "assignmentCount", assignmentCount);
    return object;
}

LibraryItem LibraryItem::fromJson(const QJsonValue &value)
{
    const JsonFields f(value, "LibraryItem");
    LibraryItem item;
    item.slug = f.text("slug");
    item.title = f.text("title");
    item.itemType = f.text("itemType");
    item.url = f.text("url");
    item.sizeBytes = f.integer("sizeBytes");
    item.createdAt = f.text("createdAt");
    item.thumbUrl = f.optionalText("thumbUrl");
    item.videoId = f.optionalInteger("videoId");
    item.assignmentCount = f.integer("assignmentCount");
    item.keywords = f.optionalText("keywords");
    item.durationSeconds = f.optionalInteger("durationSeconds");
    item.folderId = f.optionalInteger("folderId");
    return item;
}

QJsonObject LibraryItem::toJson() const
{
    QJsonObject object{{QStringLiteral("slug"), slug},           {QStringLiteral("title"), title},
                       {QStringLiteral("itemType"), itemType},   {QStringLiteral("url"), url},
                       {QStringLiteral("sizeBytes"), sizeBytes}, {QStringLiteral("createdAt"), createdAt},
                       {QStringLiteral("assignmentCount"), assignmentCount}};
    insertIf(object, "thumbUrl", thumbUrl);
    insertIf(object, "videoId", videoId);
    insertIf(object, "keywords", keywords);
    insertIf(object, "durationSeconds", durationSeconds);
    insertIf(object, "folderId", folderId);
    return object;
}

QDateTime LibraryItem::createdDate() const
{
    // Internet date-times with and without fractions (Qt reads both), then a time without a
    // zone taken as UTC, then the first 19 characters on a fixed pattern.
    static const QRegularExpression zoned(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?(Z|[+-]\d\d:\d\d)$)"));
    if (zoned.match(createdAt).hasMatch()) {
        const QDateTime parsed = QDateTime::fromString(createdAt, Qt::ISODateWithMs);
        if (parsed.isValid())
            return parsed.toUTC();
    }
    static const QRegularExpression unzoned(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$)"));
    if (unzoned.match(createdAt).hasMatch()) {
        const QDateTime parsed = QDateTime::fromString(createdAt + QLatin1Char('Z'), Qt::ISODate);
        if (parsed.isValid())
            return parsed.toUTC();
    }
    QDateTime fixed = QDateTime::fromString(createdAt.left(19), QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
    if (fixed.isValid()) {
        fixed.setTimeZone(QTimeZone::utc());
        return fixed;
    }
    return QDateTime::fromSecsSinceEpoch(-62135596800LL, Qt::UTC); // year 1
}

VideoFolder VideoFolder::fromJson(const QJsonValue &value)
{
    const JsonFields f(value, "VideoFolder");
    return {f.integer("id"), f.text("name"), f.integer("sortOrder"), f.integer("itemCount")};
}

QJsonObject VideoFolder::toJson() const
{
    return {{QStringLiteral("id"), id}, {QStringLiteral("name"), name}, {QStringLiteral("sortOrder"), sortOrder},
            {QStringLiteral("itemCount"), itemCount}};
}

DirectoryUser DirectoryUser::fromJson(const QJsonValue &value)
{
    const JsonFields f(value, "DirectoryUser");
    return {f.uuid("id"), f.text("displayName"), f.text("email")};
}

QJsonObject DirectoryUser::toJson() const
{
    return {{QStringLiteral("id"), id}, {QStringLiteral("displayName"), displayName}, {QStringLiteral("email"), email}};
}

VideoGroup VideoGroup::fromJson(const QJsonValue &value)
{
    const JsonFields f(value, "VideoGroup");
    return {f.uuid("id"), f.text("name"), f.optionalText("description"), f.boolean("isOwner"), f.boolean("isExclusionList")};
}

QJsonObject VideoGroup::toJson() const
{
    QJsonObject object{{QStringLiteral("id"), id}, {QStringLiteral("name"), name}, {QStringLiteral("isOwner"), isOwner},
                       {QStringLiteral("isExclusionList"), isExclusionList}};
    insertIf(object, "description", description);
    return object;
}

QuizQuestion QuizQuestion::fromJson(const QJsonValue &value)
{
    const JsonFields f(value, "QuizQuestion");
    return {f.integer("id"),        f.text("text"),         f.textArray("options"), f.integer("correctIndex"),
            f.boolean("included"), f.boolean("recommended"), f.boolean("isCustom")};
}

QJsonObject QuizQuestion::toJson() const
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("text"), text},
            {QStringLiteral("options"), QJsonArray::fromStringList(options)},
            {QStringLiteral("correctIndex"), correctIndex},
            {QStringLiteral("included"), included},
            {QStringLiteral("recommended"), recommended},
            {QStringLiteral("isCustom"), isCustom}};
}

QuizStatus QuizStatus::fromJson(const QJsonValue &value)
{
    const JsonFields f(value, "QuizStatus");
    QuizStatus status;
    status.status = f.text("status");
    status.summary = f.optionalText("summary");
    status.questionCount = f.integer("questionCount");
    status.questions = JsonFields::list<QuizQuestion>(f.array("questions"), "QuizStatus.questions");
    return status;
}

QJsonObject QuizStatus::toJson() const
{
    QJsonArray list;
    for (const QuizQuestion &question : questions)
        list.append(question.toJson());
    QJsonObject object{{QStringLiteral("status"), status}, {QStringLiteral("questionCount"), questionCount},
                       {QStringLiteral("questions"), list}};
    insertIf(object, "summary", summary);
    return object;
}

GifBlob GifBlob::fromJson(const QJsonValue &value)
{
    const JsonFields f(value, "GifBlob");
    return {f.text("blobName")};
}

QJsonObject GifBlob::toJson() const
{
    return {{QStringLiteral("blobName"), blobName}};
}

EmptyOk EmptyOk::fromJson(const QJsonValue &value)
{
    JsonFields(value, "reply"); // any object will do; its fields are ignored
    return {};
}
