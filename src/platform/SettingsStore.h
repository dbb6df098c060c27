#pragma once
// The per-user settings store: a typed key/value map. A value keeps the type it was written
// with, so a reader asking for another type sees nothing (a wrong type counts as absent).

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>
#include <variant>

using SettingValue = std::variant<bool, qint64, QString, QByteArray>;

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    virtual std::optional<SettingValue> value(const QString &key) const = 0;
    virtual void setValue(const QString &key, const SettingValue &value) = 0;
    virtual void remove(const QString &key) = 0;

    std::optional<bool> boolValue(const QString &key) const { return typed<bool>(key); }
    std::optional<qint64> intValue(const QString &key) const { return typed<qint64>(key); }
    std::optional<QString> textValue(const QString &key) const { return typed<QString>(key); }
    std::optional<QByteArray> dataValue(const QString &key) const { return typed<QByteArray>(key); }

private:
    template <typename T>
    std::optional<T> typed(const QString &key) const
    {
        const auto stored = value(key);
        if (!stored || !std::holds_alternative<T>(*stored))
            return std::nullopt;
        return std::get<T>(*stored);
    }
};
