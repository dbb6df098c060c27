#pragma once
// Interface texts: written in English in the code and looked up, with the English text as the
// key, in one translation table chosen once per run from the JSON files of the "locales" folder.
// Placeholders such as "{slug}" are filled after the lookup.

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

class SettingsStore;

namespace L10n {
using Table = QHash<QString, QString>;
using Values = QList<std::pair<QString, QString>>;

// The translated text, or the English text when the table has none.
QString tr(const QString &english);
// Looks `english` up and fills its placeholders: text("Copy Last Link ({slug})", {{"slug", "abc"}}).
QString text(const QString &english, const Values &values = {});
// Replaces every "{name}" of `text` by its value.
QString fill(QString text, const Values &values);

// The languages offered in the menu: code and native name, in menu order.
const QList<std::pair<QString, QString>> &offeredLanguages();

// Where the language override comes from; set once at start-up before the first lookup.
void useSettings(const SettingsStore *settings);

// The pieces of loading, for tests and for the lazy load above.
QString localesFolder();
std::optional<QString> best(const QString &language, const QStringList &availableCodes);
Table loadTable(const QString &folder, const QString &languageOverride, const QStringList &systemLanguages);
QString lookup(const Table &table, const QString &english);
} // namespace L10n
