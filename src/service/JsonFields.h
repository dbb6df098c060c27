#pragma once
// Strict reading of wire records: a required field that is missing, null or of the wrong type
// throws DecodeError; an optional one that is missing or null is absent; unknown keys are
// ignored.

#include "service/DecodeError.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <cmath>
#include <optional>

class JsonFields {
public:
    // `value` must be an object; `record` names it in error texts.
    JsonFields(const QJsonValue &value, const char *record);

    QString text(const char *key) const;
    std::optional<QString> optionalText(const char *key) const;
    qint64 integer(const char *key) const;
    std::optional<qint64> optionalInteger(const char *key) const;
    bool boolean(const char *key) const;
    // A UUID in the 8-4-4-4-12 form, answered in upper case.
    QString uuid(const char *key) const;
    QStringList textArray(const char *key) const;
    QJsonArray array(const char *key) const;

    // Lists of records: the value must be an array and every element must decode.
    template <typename T>
    static QList<T> list(const QJsonValue &value, const char *what)
    {
        if (!value.isArray())
            throw DecodeError(QStringLiteral("%1 is not a list").arg(QLatin1String(what)));
        QList<T> items;
        for (const QJsonValue &element : value.toArray())
            items.append(T::fromJson(element));
        return items;
    }

private:
    QJsonValue required(const char *key) const;
    [[noreturn]] void wrongType(const char *key, const char *expected) const;

    QJsonObject m_object;
    const char *m_record;
};
