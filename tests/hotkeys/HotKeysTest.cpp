#include "TestSupport.h"
#include "fakes/FakeKeyGrabber.h"
#include "fakes/FakePlatform.h"
#include "hotkeys/EscapeCatcher.h"
#include "hotkeys/HotKeys.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using Action = HotKeys::Action;
using TestSupport::PrivateHome;
using TestSupport::waitUntil;

namespace {

constexpr quint32 optShift = HotKeyCombo::option | HotKeyCombo::shift;

std::pair<quint32, quint32> defaultKey(Action action)
{
    const HotKeyCombo combo = HotKeys::defaultCombo(action);
    return {combo.keyCode, combo.modifiers};
}

QStringList logLinesWith(const PrivateHome &home, const QString &needle)
{
    QStringList found;
    for (const QString &line : home.readLog().split(QLatin1Char('\n'))) {
        if (line.contains(needle))
            found.append(line.section(QLatin1Char(' '), 1));
    }
    return found;
}

} // namespace

TEST(HotKeys, StartsWithTheDefaultsAndGrabsNothingYet)
{
    FakeSettingsStore settings;
    FakeKeyGrabber grabber;
    HotKeys hotKeys(settings, grabber);
    EXPECT_EQ(hotKeys.combos(), HotKeys::defaults());
    EXPECT_EQ(hotKeys.display(Action::toggleAreaRecording), QStringLiteral("⌥⇧6"));
    EXPECT_EQ(hotKeys.display(Action::copyTextFromScreen), QStringLiteral("⌥⇧2"));
    EXPECT_TRUE(grabber.live.isEmpty());
    EXPECT_EQ(settings.writes, 0);

    EXPECT_EQ(HotKeys::action(0), std::nullopt);
    EXPECT_EQ(HotKeys::action(10), std::nullopt);
    EXPECT_EQ(HotKeys::action(5), Action::quickRecord);
    EXPECT_EQ(HotKeys::title(Action::gifRecording), QStringLiteral("Record GIF (10s)"));
}

TEST(HotKeys, LoadsStoredCombinationsOverTheDefaults)
{
    HotKeys::Combos screenshotIsCtrlCmdA = HotKeys::defaults();
    screenshotIsCtrlCmdA.insert(Action::screenshot, HotKeyCombo{0, 0x1100});
    const struct {
        const char *name;
        std::optional<SettingValue> stored;
        HotKeys::Combos expected;
    } cases[] = {
        {"one entry", QByteArray(R"({"3":{"keyCode":0,"modifiers":4352}})"), screenshotIsCtrlCmdA},
        {"unknown keys ignored",
         QByteArray(R"({"3":{"keyCode":0,"modifiers":4352},"12":{"keyCode":1,"modifiers":256},"abc":{"keyCode":2,"modifiers":256},"03":{"keyCode":3,"modifiers":256}})"),
         screenshotIsCtrlCmdA},
        {"not JSON", QByteArray("{\"3\": {"), HotKeys::defaults()},
        {"not an object", QByteArray("[1,2]"), HotKeys::defaults()},
        {"one bad entry spoils all", QByteArray(R"({"3":{"keyCode":0,"modifiers":4352},"4":{"keyCode":"x","modifiers":0}})"), HotKeys::defaults()},
        {"wrong setting type", QString::fromLatin1(R"({"3":{"keyCode":0,"modifiers":4352}})"), HotKeys::defaults()},
        {"nothing stored", std::nullopt, HotKeys::defaults()},
    };
    for (const auto &c : cases) {
        FakeSettingsStore settings;
        if (c.stored)
            settings.setValue(HotKeys::settingsKey, *c.stored);
        FakeKeyGrabber grabber;
        HotKeys hotKeys(settings, grabber);
        EXPECT_EQ(hotKeys.combos(), c.expected) << c.name;
    }

    FakeSettingsStore settings;
    settings.setValue(HotKeys::settingsKey, QByteArray(R"({"3":{"keyCode":0,"modifiers":4352}})"));
    FakeKeyGrabber grabber;
    EXPECT_EQ(HotKeys(settings, grabber).display(Action::screenshot), QStringLiteral("⌃⌘A"));
}

TEST(HotKeys, UpdatePersistsAllNineAndReportsRefusal)
{
    PrivateHome home;
    FakeSettingsStore settings;
    FakeKeyGrabber grabber;
    HotKeys hotKeys(settings, grabber);
    int combosSignals = 0;
    QObject::connect(&hotKeys, &HotKeys::combosChanged, [&] { ++combosSignals; });

    EXPECT_TRUE(hotKeys.update(Action::quickRecord, HotKeyCombo{15, HotKeyCombo::command | HotKeyCombo::shift}));
    EXPECT_EQ(combosSignals, 1);
    const QJsonObject stored = QJsonDocument::fromJson(*settings.dataValue(HotKeys::settingsKey)).object();
    EXPECT_EQ(stored.keys(), QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9"}));
    EXPECT_EQ(stored.value("5").toObject(), (QJsonObject{{"keyCode", 15}, {"modifiers", 0x0300}}));
    EXPECT_EQ(HotKeys::load(settings), hotKeys.combos());
    EXPECT_EQ(grabber.live.size(), 9);
    EXPECT_TRUE(grabber.holds(15, 0x0300));

    grabber.takenElsewhere.insert({3, HotKeyCombo::control});
    EXPECT_FALSE(hotKeys.update(Action::screenshot, HotKeyCombo{3, HotKeyCombo::control}));
    // Stored anyway, and retried like any refused combination.
    EXPECT_EQ(HotKeys::load(settings).value(Action::screenshot), HotKeyCombo({3, HotKeyCombo::control}));
    EXPECT_EQ(hotKeys.failedActions(), std::set<Action>{Action::screenshot});
    EXPECT_TRUE(hotKeys.isRetryScheduled());

    hotKeys.resetToDefaults();
    EXPECT_EQ(hotKeys.combos(), HotKeys::defaults());
    EXPECT_EQ(HotKeys::load(settings), HotKeys::defaults());
    EXPECT_TRUE(hotKeys.failedActions().empty());
    EXPECT_FALSE(hotKeys.isRetryScheduled());
}

TEST(HotKeys, RefusedCombinationsAreLoggedRetriedAndAnnouncedOneTickAtATime)
{
    PrivateHome home;
    FakePlatform fake;
    FakeKeyGrabber grabber;
    HotKeys hotKeys(fake.settings, grabber);
    grabber.takenElsewhere = {defaultKey(Action::toggleAreaRecording), defaultKey(Action::gifRecording)};

    hotKeys.registerAll();
    EXPECT_EQ(hotKeys.failedActions(), (std::set<Action>{Action::toggleAreaRecording, Action::gifRecording}));
    EXPECT_EQ(grabber.live.size(), 7);
    EXPECT_EQ(logLinesWith(home, QStringLiteral("could not be registered")),
              QStringList({QStringLiteral("hotkey ⌥⇧6 for Record Selected Area could not be registered (status 10)"),
                           QStringLiteral("hotkey ⌥⇧1 for Record GIF (10s) could not be registered (status 10)")}));
    EXPECT_TRUE(hotKeys.isRetryScheduled());

    // A tick that recovers nothing says nothing.
    hotKeys.retryFailed();
    EXPECT_TRUE(fake.notifications.posted.isEmpty());

    grabber.takenElsewhere.remove(defaultKey(Action::gifRecording));
    hotKeys.retryFailed();
    ASSERT_EQ(fake.notifications.posted.size(), 1);
    EXPECT_EQ(fake.notifications.posted[0].title, QStringLiteral("Hotkeys restored"));
    EXPECT_EQ(fake.notifications.posted[0].body, QStringLiteral("Record GIF (10s) work now — the other app released the combination."));
    EXPECT_EQ(fake.notifications.posted[0].imagePath, std::nullopt);
    EXPECT_EQ(logLinesWith(home, QStringLiteral("hotkeys recovered")), QStringList{QStringLiteral("hotkeys recovered: Record GIF (10s)")});
    EXPECT_EQ(hotKeys.failedActions(), std::set<Action>{Action::toggleAreaRecording});
    EXPECT_TRUE(hotKeys.isRetryScheduled());

    grabber.takenElsewhere.clear();
    hotKeys.retryFailed();
    ASSERT_EQ(fake.notifications.posted.size(), 2);
    EXPECT_TRUE(fake.notifications.posted[1].body.startsWith(QStringLiteral("Record Selected Area work now")));
    EXPECT_TRUE(hotKeys.failedActions().empty());
    EXPECT_FALSE(hotKeys.isRetryScheduled());
    EXPECT_EQ(grabber.live.size(), 9);
}

TEST(HotKeys, SeveralRecoveriesInOneTickAreNamedInTitleOrder)
{
    PrivateHome home;
    FakePlatform fake;
    FakeKeyGrabber grabber;
    HotKeys hotKeys(fake.settings, grabber);
    grabber.takenElsewhere = {defaultKey(Action::screenshotToClipboard), defaultKey(Action::toggleFullScreenRecording),
                              defaultKey(Action::delayedScreenshot)};
    hotKeys.registerAll();
    grabber.takenElsewhere = {defaultKey(Action::delayedScreenshot)};
    hotKeys.retryFailed();
    ASSERT_EQ(fake.notifications.posted.size(), 1);
    EXPECT_EQ(fake.notifications.posted[0].body,
              QStringLiteral("Record Full Screen, Screenshot to Clipboard work now — the other app released the combination."));
}

TEST(HotKeys, TheRetryTimerRecoversOnItsOwn)
{
    PrivateHome home;
    FakePlatform fake;
    FakeKeyGrabber grabber;
    HotKeys hotKeys(fake.settings, grabber);
    hotKeys.setRetryInterval(std::chrono::milliseconds(20));
    grabber.takenElsewhere = {defaultKey(Action::screenshot)};
    hotKeys.registerAll();
    grabber.takenElsewhere.clear();
    EXPECT_TRUE(waitUntil([&] { return hotKeys.failedActions().empty(); }));
    EXPECT_EQ(fake.notifications.posted.size(), 1);
    EXPECT_FALSE(hotKeys.isRetryScheduled());
}

TEST(HotKeys, SuspendedRegistryNeitherGrabsNorRetries)
{
    PrivateHome home;
    FakePlatform fake;
    FakeKeyGrabber grabber;
    HotKeys hotKeys(fake.settings, grabber);
    grabber.takenElsewhere = {defaultKey(Action::screenshot)};
    hotKeys.registerAll();

    hotKeys.setSuspended(true);
    hotKeys.unregisterAll();
    EXPECT_TRUE(grabber.live.isEmpty());
    EXPECT_EQ(hotKeys.failedActions(), std::set<Action>{Action::screenshot}); // kept by unregisterAll
    grabber.takenElsewhere.clear();
    const int calls = grabber.registerCalls;
    hotKeys.registerAll();
    hotKeys.retryFailed();
    EXPECT_EQ(grabber.registerCalls, calls);
    EXPECT_TRUE(fake.notifications.posted.isEmpty());

    hotKeys.setSuspended(false);
    hotKeys.registerAll();
    EXPECT_EQ(grabber.live.size(), 9);
    EXPECT_TRUE(hotKeys.failedActions().empty());
}

TEST(HotKeys, PressReachesOnActionAfterTheEventIsAnswered)
{
    FakeSettingsStore settings;
    FakeKeyGrabber grabber;
    HotKeys hotKeys(settings, grabber);
    QList<Action> pressed;
    hotKeys.onAction = [&](Action action) { pressed.append(action); };
    hotKeys.installHandlerIfNeeded();
    hotKeys.installHandlerIfNeeded();
    EXPECT_EQ(grabber.handlerCount(), 1);
    hotKeys.registerAll();

    EXPECT_TRUE(grabber.press(26, optShift));
    EXPECT_TRUE(pressed.isEmpty());
    ASSERT_TRUE(waitUntil([&] { return !pressed.isEmpty(); }));
    EXPECT_EQ(pressed, QList<Action>{Action::toggleFullScreenRecording});

    // A press carrying another signature is left to the next handler.
    QList<HotKeyId> others;
    grabber.addPressHandler([&](HotKeyId id) {
        others.append(id);
        return true;
    });
    grabber.registerHotKey(40, HotKeyCombo::control, HotKeyId{hotKeySignature("XXXX"), 3});
    EXPECT_TRUE(grabber.press(40, HotKeyCombo::control));
    EXPECT_EQ(others, QList<HotKeyId>({HotKeyId{hotKeySignature("XXXX"), 3}}));
    // An id outside the actions is dropped.
    grabber.registerHotKey(41, HotKeyCombo::control, HotKeyId{HotKeys::signature, 12});
    EXPECT_TRUE(grabber.press(41, HotKeyCombo::control));
    TestSupport::spin(50);
    EXPECT_EQ(pressed.size(), 1);
}

TEST(EscapeCatcher, OnlyTheNewestArmedCatcherIsCalled)
{
    FakeSettingsStore settings;
    FakeKeyGrabber grabber;
    HotKeys hotKeys(settings, grabber);
    QList<Action> actions;
    hotKeys.onAction = [&](Action action) { actions.append(action); };
    hotKeys.installHandlerIfNeeded();
    hotKeys.registerAll();

    QStringList calls;
    auto first = std::make_unique<EscapeCatcher>(grabber, [&] { calls.append("first"); });
    // A hotkey pressed while a catcher is armed still reaches the registry.
    EXPECT_TRUE(grabber.press(22, optShift));
    ASSERT_TRUE(waitUntil([&] { return !actions.isEmpty(); }));
    EXPECT_TRUE(calls.isEmpty());

    EXPECT_TRUE(grabber.press(HotKeyCombo::escapeKeyCode, 0));
    ASSERT_TRUE(waitUntil([&] { return calls.size() == 1; }));
    EXPECT_EQ(actions.size(), 1);

    EscapeCatcher second(grabber, [&] { calls.append("second"); });
    EXPECT_EQ(EscapeCatcher::active(), &second);
    grabber.press(HotKeyCombo::escapeKeyCode, 0);
    ASSERT_TRUE(waitUntil([&] { return calls.size() == 2; }));
    EXPECT_EQ(calls, QStringList({"first", "second"}));

    // Disarming the newest leaves nothing to call, even though the older one still holds Escape.
    second.disarm();
    second.disarm();
    EXPECT_EQ(EscapeCatcher::active(), nullptr);
    grabber.press(HotKeyCombo::escapeKeyCode, 0);
    TestSupport::spin(50);
    EXPECT_EQ(calls.size(), 2);

    // A press queued before the disarm is not delivered after it.
    EscapeCatcher third(grabber, [&] { calls.append("third"); });
    grabber.press(HotKeyCombo::escapeKeyCode, 0);
    third.disarm();
    TestSupport::spin(50);
    EXPECT_EQ(calls.size(), 2);

    first.reset();
    EXPECT_FALSE(grabber.holds(HotKeyCombo::escapeKeyCode, 0));
    EXPECT_EQ(grabber.handlerCount(), 1); // the registry's
}
