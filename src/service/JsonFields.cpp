#include "service/JsonFields.h"

#include <QUuid>

namespace {
bool isInteger(const QJsonValue &value)
{
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    return std::isfinite(number) && std::trunc(number) == number && std::abs(number) <= 9007199254740992.0;
}
} // namespace

JsonFields::JsonFields(const QJsonValue &value, const char *record)
    : m_object(value.toObject())
    , m_record(record)
{
    if (!value.isObject())
        throw DecodeError(QStringLiteral("%1 is not an object").arg(QLatin1String(record)));
}

QJsonValue JsonFields::required(const char *key) const
{
    const QJsonValue value = m_object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        throw DecodeError(QStringLiteral("%1.%2 is missing").arg(QLatin1String(m_record), QLatin1String(key)));
    return value;
}

void JsonFields::wrongType(const char *key, const char *expected) const
{
    throw DecodeError(QStringLiteral("%1.%2 is not %3").arg(QLatin1String(m_record), QLatin1String(key), QLatin1String(expected)));
}

QString JsonFields::text(const char *key) const
{
    const QJsonValue value = required(key);
    if (!value.isString())
        wrongType(key, "text");
    return value.toString();
}

std::optional<QString> JsonFields::optionalText(const char *key) const
{
    const QJsonValue value = m_object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    return text(key);
}

qint64 JsonFields::integer(const char *key) const
{
    const QJsonValue value = required(key);
    if (!isInteger(value))
        wrongType(key, "an integer");
    return qint64(value.toDouble());
}

std::optional<qint64> JsonFields::optionalInteger(const char *key) const
{
    const QJsonValue value = m_object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    return integer(key);
}

bool JsonFields::boolean(const char *key) const
{
    const QJsonValue value = required(key);
    if (!value.isBool())
        wrongType(key, "a Boolean");
    return value.toBool();
}

QJsonArray JsonFields::array(const char *key) const
{
    const QJsonValue value = required(key);
    if (!value.isArray())
        wrongType(key, "a list");
    return value.toArray();
}

QStringList JsonFields::textArray(const char *key) const
{
    QStringList texts;
    for (const QJsonValue &element : array(key)) {
        if (!element.isString())
            wrongType(key, "a list of texts");
        texts.append(element.toString());
    }
    return texts;
}

QString JsonFields::uuid(const char *key) const
{
    const QString value = text(key);
    const QUuid parsed = QUuid::fromString(value);
    if (parsed.isNull() || value.size() != 36)
        wrongType(key, "a UUID");
    return parsed.toString(QUuid::WithoutBraces).toUpper();
}
