#pragma once
// Settings kept as one JSON object in a file, rewritten atomically on every change.
// Texts are JSON strings, Booleans JSON Booleans, integers integral JSON numbers and data
// an object {"data": base64}, so each value keeps its type across runs.

#include "platform/SettingsStore.h"

#include <QJsonObject>

class JsonSettingsStore final : public SettingsStore {
public:
    explicit JsonSettingsStore(QString filePath);

    // $XDG_CONFIG_HOME/Tovrika/settings.json
    static QString defaultPath();

    std::optional<SettingValue> value(const QString &key) const override;
    void setValue(const QString &key, const SettingValue &value) override;
    void remove(const QString &key) override;

    QString filePath() const { return m_filePath; }

private:
    void save() const;

    QString m_filePath;
    QJsonObject m_values;
};
