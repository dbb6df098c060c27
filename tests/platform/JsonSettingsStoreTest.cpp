#include "TestSupport.h"
#include "platform/linux/JsonSettingsStore.h"

#include <QFileInfo>
#include <gtest/gtest.h>

TEST(JsonSettingsStore, ValuesKeepTheirTypesAcrossRuns)
{
    TestSupport::PrivateHome home;
    const QString path = JsonSettingsStore::defaultPath();
    EXPECT_EQ(path, home.path() + QStringLiteral("/config/Tovrika/settings.json"));
    {
        JsonSettingsStore store(path);
        store.setValue(QStringLiteral("micEnabled"), false);
        store.setValue(QStringLiteral("screenshotDelaySeconds"), qint64(10));
        store.setValue(QStringLiteral("cameraCorner"), QStringLiteral("br"));
        store.setValue(QStringLiteral("lastSelection"), QByteArray("{\"displayID\":7}"));
        store.setValue(QStringLiteral("gone"), true);
        store.remove(QStringLiteral("gone"));
    }
    JsonSettingsStore store(path);
    EXPECT_EQ(store.boolValue(QStringLiteral("micEnabled")), false);
    EXPECT_EQ(store.intValue(QStringLiteral("screenshotDelaySeconds")), 10);
    EXPECT_EQ(store.textValue(QStringLiteral("cameraCorner")), QStringLiteral("br"));
    EXPECT_EQ(store.dataValue(QStringLiteral("lastSelection")), QByteArray("{\"displayID\":7}"));
    EXPECT_FALSE(store.value(QStringLiteral("gone")).has_value());
    // A reader asking for another type sees nothing.
    EXPECT_EQ(store.textValue(QStringLiteral("micEnabled")), std::nullopt);
    EXPECT_EQ(store.boolValue(QStringLiteral("screenshotDelaySeconds")), std::nullopt);
    EXPECT_EQ(store.textValue(QStringLiteral("lastSelection")), std::nullopt);
    EXPECT_EQ(store.dataValue(QStringLiteral("cameraCorner")), std::nullopt);
}

TEST(JsonSettingsStore, ForeignJsonValuesAreAbsentWhenTheyFitNoType)
{
    TestSupport::PrivateHome home;
    const QString path = home.path() + QStringLiteral("/settings.json");
    TestSupport::writeFile(path, R"({"delay": 2.5, "list": [1], "null": null, "blob": {"data": "!!"}, "ok": 3})");
    JsonSettingsStore store(path);
    for (const char *key : {"delay", "list", "null", "blob"})
        EXPECT_FALSE(store.value(QLatin1String(key)).has_value()) << key;
    EXPECT_EQ(store.intValue(QStringLiteral("ok")), 3);
}

TEST(JsonSettingsStore, UnreadableFileStartsEmptyAndIsKeptUntilTheNextChange)
{
    TestSupport::PrivateHome home;
    const QString path = home.path() + QStringLiteral("/settings.json");
    for (const QByteArray &contents : {QByteArray(), QByteArray("{\"micEnabled\": fal"), QByteArray("not json"),
                                       QByteArray("[true]")}) {
        TestSupport::writeFile(path, contents);
        {
            JsonSettingsStore store(path);
            EXPECT_FALSE(store.value(QStringLiteral("micEnabled")).has_value());
        }
        EXPECT_EQ(TestSupport::readFile(path), contents);
        JsonSettingsStore store(path);
        store.setValue(QStringLiteral("micEnabled"), true);
        EXPECT_EQ(JsonSettingsStore(path).boolValue(QStringLiteral("micEnabled")), true);
    }
    // A missing file (and folder) is created on the first change.
    const QString fresh = home.path() + QStringLiteral("/new/folder/settings.json");
    JsonSettingsStore store(fresh);
    EXPECT_FALSE(QFileInfo::exists(fresh));
    store.setValue(QStringLiteral("welcomeShown"), true);
    EXPECT_TRUE(QFileInfo::exists(fresh));
}
