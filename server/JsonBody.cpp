#include "server/JsonBody.h"

#include "server/HttpError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>

namespace {
// JSON numbers are doubles; only whole numbers that a double holds exactly count as integers.
std::optional<qint64> asInteger(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (std::trunc(number) != number || std::fabs(number) > 9007199254740992.0)
        return std::nullopt;
    return static_cast<qint64>(number);
}
} // namespace

JsonBody::JsonBody(QJsonObject object, QString where)
    : m_object(std::move(object))
    , m_where(std::move(where))
{
}

JsonBody JsonBody::parse(const std::string &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(body), &error);
    if (error.error != QJsonParseError::NoError)
        throw HttpError::badRequest(QStringLiteral("The request body is not valid JSON: %1 at offset %2.").arg(error.errorString()).arg(error.offset));
    if (!document.isObject())
        throw HttpError::badRequest(QStringLiteral("The request body must be a JSON object."));
    return JsonBody(document.object(), QString());
}

bool JsonBody::has(const char *key) const
{
    return m_object.contains(QLatin1String(key));
}

QString JsonBody::name(const char *key) const
{
    return m_where.isEmpty() ? QStringLiteral("\"%1\"").arg(QLatin1String(key)) : QStringLiteral("\"%1\" of %2").arg(QLatin1String(key), m_where);
}

void JsonBody::wrongType(const char *key, const char *expected) const
{
    throw HttpError::badRequest(QStringLiteral("%1 must be %2.").arg(name(key), QLatin1String(expected)));
}

QJsonValue JsonBody::required(const char *key) const
{
    const QJsonValue value = m_object.value(QLatin1String(key));
    if (value.isUndefined())
        throw HttpError::badRequest(QStringLiteral("%1 is missing.").arg(name(key)));
    return value;
}

QString JsonBody::text(const char *key) const
{
    const QJsonValue value = required(key);
    if (!value.isString())
        wrongType(key, "text");
    return value.toString();
}

std::optional<QString> JsonBody::optionalText(const char *key) const
{
    const QJsonValue value = m_object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString())
        wrongType(key, "text");
    return value.toString();
}

bool JsonBody::boolean(const char *key) const
{
    const QJsonValue value = required(key);
    if (!value.isBool())
        wrongType(key, "true or false");
    return value.toBool();
}

std::optional<bool> JsonBody::optionalBoolean(const char *key) const
{
    const QJsonValue value = m_object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isBool())
        wrongType(key, "true or false");
    return value.toBool();
}

qint64 JsonBody::integer(const char *key) const
{
    const auto number = asInteger(required(key));
    if (!number)
        wrongType(key, "an integer");
    return *number;
}

std::optional<qint64> JsonBody::optionalInteger(const char *key) const
{
    const QJsonValue value = m_object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    const auto number = asInteger(value);
    if (!number)
        wrongType(key, "an integer");
    return number;
}

std::optional<qint64> JsonBody::integerOrNull(const char *key) const
{
    const QJsonValue value = required(key);
    if (value.isNull())
        return std::nullopt;
    const auto number = asInteger(value);
    if (!number)
        wrongType(key, "an integer or null");
    return number;
}

QStringList JsonBody::textArray(const char *key) const
{
    const QJsonValue value = required(key);
    if (!value.isArray())
        wrongType(key, "an array of texts");
    QStringList texts;
    for (const QJsonValue &item : value.toArray()) {
        if (!item.isString())
            wrongType(key, "an array of texts");
        texts << item.toString();
    }
    return texts;
}

QList<qint64> JsonBody::integerArray(const char *key) const
{
    const QJsonValue value = required(key);
    if (!value.isArray())
        wrongType(key, "an array of integers");
    QList<qint64> numbers;
    for (const QJsonValue &item : value.toArray()) {
        const auto number = asInteger(item);
        if (!number)
            wrongType(key, "an array of integers");
        numbers << *number;
    }
    return numbers;
}

QList<JsonBody> JsonBody::objectArray(const char *key) const
{
    const QJsonValue value = required(key);
    if (!value.isArray())
        wrongType(key, "an array of objects");
    QList<JsonBody> objects;
    const QJsonArray array = value.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (!array.at(i).isObject())
            wrongType(key, "an array of objects");
        objects << JsonBody(array.at(i).toObject(), QStringLiteral("%1[%2]").arg(QLatin1String(key)).arg(i));
    }
    return objects;
}
