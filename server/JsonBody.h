#pragma once
// A JSON request body read field by field. Every accessor names the field in its error, so a
// malformed request is answered with a 400 whose title says exactly what was wrong.

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>

class JsonBody {
public:
    // Throws HttpError 400 unless `body` is a JSON object.
    static JsonBody parse(const std::string &body);

    bool has(const char *key) const;

    QString text(const char *key) const;
    std::optional<QString> optionalText(const char *key) const;
    bool boolean(const char *key) const;
    std::optional<bool> optionalBoolean(const char *key) const;
    qint64 integer(const char *key) const;
    std::optional<qint64> optionalInteger(const char *key) const;
    // The key must be present; null is a value of its own (answered as nullopt).
    std::optional<qint64> integerOrNull(const char *key) const;
    QStringList textArray(const char *key) const;
    QList<qint64> integerArray(const char *key) const;
    QList<JsonBody> objectArray(const char *key) const;

    const QJsonObject &object() const { return m_object; }

private:
    explicit JsonBody(QJsonObject object, QString where);
    QJsonValue required(const char *key) const;
    QString name(const char *key) const;
    [[noreturn]] void wrongType(const char *key, const char *expected) const;

    QJsonObject m_object;
    QString m_where;
};
