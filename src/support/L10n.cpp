#include "support/L10n.h"

#include "platform/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <mutex>

namespace {
const SettingsStore *g_settings = nullptr;

QString baseOf(const QString &code)
{
    return code.section(QLatin1Char('-'), 0, 0);
}

std::optional<L10n::Table> readTable(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    L10n::Table table;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it->isString())
            return std::nullopt; // an object of texts, or nothing
        table.insert(it.key(), it->toString());
    }
    return table;
}

const L10n::Table &sharedTable()
{
    static std::once_flag once;
    static L10n::Table table;
    std::call_once(once, [] {
        const QString override = g_settings ? g_settings->textValue(QStringLiteral("languageOverride")).value_or(QString())
                                            : QString();
        table = L10n::loadTable(L10n::localesFolder(), override, QLocale::system().uiLanguages());
    });
    return table;
}
} // namespace

namespace L10n {

QString tr(const QString &english)
{
    return lookup(sharedTable(), english);
}

QString text(const QString &english, const Values &values)
{
    return fill(tr(english), values);
}

QString fill(QString text, const Values &values)
{
    for (const auto &[name, value] : values)
        text.replace(QLatin1Char('{') + name + QLatin1Char('}'), value);
    return text;
}

const QList<std::pair<QString, QString>> &offeredLanguages()
{
    static const QList<std::pair<QString, QString>> languages = {
        {QStringLiteral("en"), QStringLiteral("English")},
        {QStringLiteral("ar-SA"), QStringLiteral("العربية")},
        {QStringLiteral("de-DE"), QStringLiteral("Deutsch")},
        {QStringLiteral("es-ES"), QStringLiteral("Español")},
        {QStringLiteral("fr-FR"), QStringLiteral("Français")},
        {QStringLiteral("he-IL"), QStringLiteral("עברית")},
        {QStringLiteral("it-IT"), QStringLiteral("Italiano")},
        {QStringLiteral("ja-JP"), QStringLiteral("日本語")},
        {QStringLiteral("pt-BR"), QStringLiteral("Português (Brasil)")},
        {QStringLiteral("hi-IN"), QStringLiteral("हिन्दी")},
    };
    return languages;
}

void useSettings(const SettingsStore *settings)
{
    g_settings = settings;
}

QString localesFolder()
{
    const QString fromEnv = qEnvironmentVariable("TOVRIKA_LOCALES_DIR");
    if (!fromEnv.isEmpty())
        return fromEnv;
    // Installed and build trees both keep the data folder beside bin/.
    const QString besideBinary = QCoreApplication::applicationDirPath() + QStringLiteral("/../share/tovrika/locales");
    if (QFileInfo(besideBinary).isDir())
        return QDir::cleanPath(besideBinary);
    return QStringLiteral("/usr/share/tovrika/locales");
}

std::optional<QString> best(const QString &language, const QStringList &availableCodes)
{
    for (const QString &code : availableCodes) {
        if (code.compare(language, Qt::CaseInsensitive) == 0)
            return code;
    }
    const QString base = baseOf(language);
    if (base.toLower() == QLatin1String("en"))
        return QStringLiteral("en");
    for (const QString &code : availableCodes) {
        if (baseOf(code).compare(base, Qt::CaseInsensitive) == 0)
            return code;
    }
    return std::nullopt;
}

Table loadTable(const QString &folder, const QString &languageOverride, const QStringList &systemLanguages)
{
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return {};
    QStringList codes;
    for (const QFileInfo &entry : dir.entryInfoList(QDir::Files | QDir::Readable | QDir::Hidden, QDir::Name)) {
        if (entry.suffix() == QLatin1String("json"))
            codes.append(entry.completeBaseName());
    }

    const QStringList preferred = languageOverride.isEmpty() ? systemLanguages : QStringList{languageOverride};
    for (const QString &language : preferred) {
        const auto code = best(language, codes);
        if (!code)
            continue;
        if (code->toLower() == QLatin1String("en"))
            return {};
        if (auto table = readTable(dir.filePath(*code + QStringLiteral(".json"))))
            return *table;
    }
    return {};
}

QString lookup(const Table &table, const QString &english)
{
    return table.value(english, english);
}

} // namespace L10n
