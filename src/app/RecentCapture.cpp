#include "app/RecentCapture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {
// 2001-01-01T00:00:00Z in Unix milliseconds.
constexpr qint64 kReferenceDateMs = 978307200000LL;
} // namespace

double RecentCapture::secondsSinceReferenceDate(const QDateTime &date)
{
    return double(date.toMSecsSinceEpoch() - kReferenceDateMs) / 1000.0;
}

QDateTime RecentCapture::fromSecondsSinceReferenceDate(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(kReferenceDateMs + qint64(std::llround(seconds * 1000.0)), Qt::UTC);
}

QByteArray RecentCapture::listToJson(const QList<RecentCapture> &captures)
{
    QJsonArray array;
    for (const RecentCapture &capture : captures) {
        QJsonObject object{
            {QStringLiteral("slug"), capture.slug},
            {QStringLiteral("url"), capture.url},
            {QStringLiteral("isScreenshot"), capture.isScreenshot},
            {QStringLiteral("date"), secondsSinceReferenceDate(capture.date)},
        };
        if (capture.filePath)
            object.insert(QStringLiteral("filePath"), *capture.filePath);
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<RecentCapture>> RecentCapture::listFromJson(const QByteArray &json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isArray())
        return std::nullopt;
    QList<RecentCapture> captures;
    for (const QJsonValue &value : document.array()) {
        const QJsonObject object = value.toObject();
        const QJsonValue slug = object.value(QStringLiteral("slug"));
        const QJsonValue url = object.value(QStringLiteral("url"));
        const QJsonValue filePath = object.value(QStringLiteral("filePath"));
        const QJsonValue isScreenshot = object.value(QStringLiteral("isScreenshot"));
        const QJsonValue date = object.value(QStringLiteral("date"));
        if (!value.isObject() || !slug.isString() || !url.isString() || !isScreenshot.isBool() || !date.isDouble())
            return std::nullopt;
        if (!filePath.isUndefined() && !filePath.isNull() && !filePath.isString())
            return std::nullopt;

        RecentCapture capture;
        capture.slug = slug.toString();
        capture.url = url.toString();
        if (filePath.isString())
            capture.filePath = filePath.toString();
        capture.isScreenshot = isScreenshot.toBool();
        capture.date = fromSecondsSinceReferenceDate(date.toDouble());
        captures.append(capture);
    }
    return captures;
}
