#include "TestSupport.h"
#include "support/L10n.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
struct Locales {
    Locales()
    {
        write("fr-FR", R"json({"Sign Out": "Se déconnecter", "Copy Last Link ({slug})": "Copier le lien ({slug})"})json");
        write("de-DE", R"json({"Sign Out": "Abmelden"})json");
        write("ja-JP", R"json({"Sign Out": "サインアウト"})json");
        write("it-IT", R"json({"Sign Out": )json"); // truncated
        TestSupport::writeFile(dir.path() + QStringLiteral("/es-ES.txt"), R"json({"Sign Out": "Cerrar sesión"})json");
    }
    void write(const char *code, const char *json)
    {
        TestSupport::writeFile(dir.path() + QLatin1Char('/') + QLatin1String(code) + QStringLiteral(".json"), json);
    }
    QString signOut(const QString &override, const QStringList &system) const
    {
        return L10n::lookup(L10n::loadTable(dir.path(), override, system), QStringLiteral("Sign Out"));
    }
    QTemporaryDir dir;
};
} // namespace

TEST(L10n, PicksTheLanguageFile)
{
    const Locales locales;
    struct Case {
        QString override;
        QStringList system;
        QString expected;
    };
    const QList<Case> cases = {
        {QStringLiteral("ja-JP"), {QStringLiteral("de-DE")}, QStringLiteral("サインアウト")},
        // No exact fr-CA: its base fr matches fr-FR.
        {QString(), {QStringLiteral("fr-CA"), QStringLiteral("en-US")}, QStringLiteral("Se déconnecter")},
        // English first wins even though other files exist.
        {QString(), {QStringLiteral("en-GB"), QStringLiteral("de-DE")}, QStringLiteral("Sign Out")},
        // A malformed override file is skipped, and with an override nothing else is tried.
        {QStringLiteral("it-IT"), {QStringLiteral("de-DE")}, QStringLiteral("Sign Out")},
        // Without an override, an unreadable file falls through to the next language.
        {QString(), {QStringLiteral("it-IT"), QStringLiteral("de")}, QStringLiteral("Abmelden")},
        // Files with another extension are not languages.
        {QString(), {QStringLiteral("es-ES")}, QStringLiteral("Sign Out")},
        {QString(), {}, QStringLiteral("Sign Out")},
        {QStringLiteral("DE-de"), {}, QStringLiteral("Abmelden")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(locales.signOut(c.override, c.system), c.expected)
            << c.override.toStdString() << " / " << c.system.join(QLatin1Char(',')).toStdString();
}

TEST(L10n, MissingFolderMeansEnglish)
{
    EXPECT_TRUE(L10n::loadTable(QStringLiteral("/nonexistent/locales"), QStringLiteral("fr-FR"), {}).isEmpty());
}

TEST(L10n, BestMatch)
{
    const QStringList codes = {QStringLiteral("de-DE"), QStringLiteral("pt-BR"), QStringLiteral("pt-PT")};
    EXPECT_EQ(L10n::best(QStringLiteral("pt-pt"), codes), QStringLiteral("pt-PT"));
    EXPECT_EQ(L10n::best(QStringLiteral("pt"), codes), QStringLiteral("pt-BR"));
    EXPECT_EQ(L10n::best(QStringLiteral("en-AU"), codes), QStringLiteral("en"));
    EXPECT_EQ(L10n::best(QStringLiteral("ja"), codes), std::nullopt);
}

TEST(L10n, FillsPlaceholdersAfterTheLookup)
{
    const Locales locales;
    const L10n::Table french = L10n::loadTable(locales.dir.path(), QStringLiteral("fr-FR"), {});
    const L10n::Values slug{{QStringLiteral("slug"), QStringLiteral("abc")}};
    EXPECT_EQ(L10n::fill(L10n::lookup(french, QStringLiteral("Copy Last Link ({slug})")), slug),
              QStringLiteral("Copier le lien (abc)"));
    // A key the translation lacks stays English, placeholders still filled.
    const L10n::Table german = L10n::loadTable(locales.dir.path(), QStringLiteral("de-DE"), {});
    EXPECT_EQ(L10n::fill(L10n::lookup(german, QStringLiteral("Copy Last Link ({slug})")), slug),
              QStringLiteral("Copy Last Link (abc)"));
    EXPECT_EQ(L10n::fill(QStringLiteral("{slug} and {slug}"), slug), QStringLiteral("abc and abc"));
    EXPECT_EQ(L10n::fill(QStringLiteral("No braces"), slug), QStringLiteral("No braces"));
}
