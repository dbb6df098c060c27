#include "platform/linux/JsonSettingsStore.h"

#include "support/FileLog.h"
#include "support/XdgPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <cmath>

namespace {
const QString kDataKey = QStringLiteral("data");

std::optional<SettingValue> fromJson(const QJsonValue &json)
{
    if (json.isBool())
        return json.toBool();
    if (json.isString())
        return json.toString();
    if (json.isDouble()) {
        const double number = json.toDouble();
        // Only whole numbers that survive the round trip are integers.
        if (std::isfinite(number) && std::trunc(number) == number && std::abs(number) <= 9007199254740992.0)
            return static_cast<qint64>(number);
        return std::nullopt;
    }
    if (json.isObject()) {
        const QJsonObject object = json.toObject();
        const QJsonValue data = object.value(kDataKey);
        if (object.size() == 1 && data.isString()) {
            auto decoded = QByteArray::fromBase64Encoding(data.toString().toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors);
            if (decoded)
                return *decoded;
        }
    }
    return std::nullopt;
}

QJsonValue toJson(const SettingValue &value)
{
    return std::visit(
        [](const auto &v) -> QJsonValue {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, QByteArray>)
                return QJsonObject{{kDataKey, QString::fromLatin1(v.toBase64())}};
            else
                return QJsonValue(v);
        },
        value);
}
} // namespace

JsonSettingsStore::JsonSettingsStore(QString filePath)
    : m_filePath(std::move(filePath))
{
    QFile file(m_filePath);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        FileLog::write(QStringLiteral("settings: couldn't read %1: %2").arg(m_filePath, file.errorString()));
        return;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        // Start from defaults but leave the file alone until the user changes a setting.
        FileLog::write(QStringLiteral("settings: ignoring unreadable %1: %2")
                           .arg(m_filePath, error.error != QJsonParseError::NoError ? error.errorString()
                                                                                   : QStringLiteral("not an object")));
        return;
    }
    m_values = document.object();
}

QString JsonSettingsStore::defaultPath()
{
    return XdgPaths::configHome() + QStringLiteral("/Tovrika/settings.json");
}

std::optional<SettingValue> JsonSettingsStore::value(const QString &key) const
{
    const auto it = m_values.constFind(key);
    if (it == m_values.constEnd())
        return std::nullopt;
    return fromJson(*it);
}

void JsonSettingsStore::setValue(const QString &key, const SettingValue &value)
{
    m_values.insert(key, toJson(value));
    save();
}

void JsonSettingsStore::remove(const QString &key)
{
    if (!m_values.contains(key))
        return;
    m_values.remove(key);
    save();
}

void JsonSettingsStore::save() const
{
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QJsonDocument(m_values).toJson(QJsonDocument::Indented)) < 0
        || !file.commit()) {
        FileLog::write(QStringLiteral("settings: couldn't save %1: %2").arg(m_filePath, file.errorString()));
    }
}
