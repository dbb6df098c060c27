#include "app/LastSelection.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {
std::optional<QPointF> pairFrom(const QJsonValue &value)
{
    const QJsonArray pair = value.toArray();
    if (!value.isArray() || pair.size() != 2 || !pair[0].isDouble() || !pair[1].isDouble())
        return std::nullopt;
    return QPointF(pair[0].toDouble(), pair[1].toDouble());
}
} // namespace

QByteArray LastSelection::toJson() const
{
    QJsonObject object{{QStringLiteral("displayID"), qint64(displayID)}};
    if (rect) {
        object.insert(QStringLiteral("rect"),
                      QJsonArray{QJsonArray{rect->x(), rect->y()}, QJsonArray{rect->width(), rect->height()}});
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<LastSelection> LastSelection::fromJson(const QByteArray &json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    const QJsonValue id = object.value(QStringLiteral("displayID"));
    const double number = id.toDouble(-1);
    if (!id.isDouble() || number < 0 || number > 4294967295.0 || std::trunc(number) != number)
        return std::nullopt;

    LastSelection selection;
    selection.displayID = quint32(number);
    const QJsonValue rect = object.value(QStringLiteral("rect"));
    if (!rect.isUndefined() && !rect.isNull()) {
        const QJsonArray parts = rect.toArray();
        if (!rect.isArray() || parts.size() != 2)
            return std::nullopt;
        const auto origin = pairFrom(parts[0]);
        const auto size = pairFrom(parts[1]);
        if (!origin || !size)
            return std::nullopt;
        selection.rect = QRectF(*origin, QSizeF(size->x(), size->y()));
    }
    return selection;
}
