#include "SyntheticInput.h"
#include "TestSupport.h"
#include "fakes/FakePlatform.h"
#include "hotkeys/EscapeCatcher.h"
#include "hotkeys/HotKeys.h"
#include "platform/linux/X11KeyGrabber.h"

#include <QGuiApplication>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <gtest/gtest.h>

using Action = HotKeys::Action;
using TestSupport::PrivateHome;
using TestSupport::waitUntil;

namespace {

// Another X client, holding a key combination the way a second program would.
class OtherClient {
public:
    OtherClient()
        : m_connection(xcb_connect(nullptr, nullptr))
    {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    ~OtherClient() { xcb_disconnect(m_connection); }

    bool grab(xcb_keysym_t keysym, quint16 modifiers)
    {
        xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
        xcb_keycode_t *keycodes = xcb_key_symbols_get_keycode(symbols, keysym);
        const xcb_keycode_t keycode = keycodes ? keycodes[0] : 0;
        free(keycodes);
        xcb_key_symbols_free(symbols);
        xcb_generic_error_t *error = xcb_request_check(
            m_connection, xcb_grab_key_checked(m_connection, 0, m_root, modifiers, keycode, XCB_GRAB_MODE_ASYNC,
                                               XCB_GRAB_MODE_ASYNC));
        free(error);
        return keycode != 0 && !error;
    }

private:
    xcb_connection_t *m_connection;
    xcb_window_t m_root;
};

class X11Hotkeys : public ::testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_DISPLAY();
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    }
};

} // namespace

TEST_F(X11Hotkeys, PressesReachOnActionWhateverTheLockKeys)
{
    X11KeyGrabber grabber;
    FakeSettingsStore settings;
    HotKeys hotKeys(settings, grabber);
    QList<Action> pressed;
    hotKeys.onAction = [&](Action action) { pressed.append(action); };
    hotKeys.installHandlerIfNeeded();
    hotKeys.registerAll();
    ASSERT_TRUE(hotKeys.failedActions().empty());

    ASSERT_TRUE(SyntheticInput::key(QStringLiteral("alt+shift+6")));
    ASSERT_TRUE(waitUntil([&] { return pressed.size() == 1; }));
    EXPECT_EQ(pressed.last(), Action::toggleAreaRecording);

    // NumLock on must not turn the combination into another one.
    ASSERT_TRUE(SyntheticInput::key(QStringLiteral("Num_Lock")));
    ASSERT_TRUE(SyntheticInput::key(QStringLiteral("alt+shift+0")));
    ASSERT_TRUE(SyntheticInput::key(QStringLiteral("Num_Lock")));
    ASSERT_TRUE(waitUntil([&] { return pressed.size() == 2; }));
    EXPECT_EQ(pressed.last(), Action::delayedScreenshot);

    // A combination the user moved to Super (command) and Control.
    ASSERT_TRUE(hotKeys.update(Action::screenshot, HotKeyCombo{0, HotKeyCombo::command | HotKeyCombo::control}));
    ASSERT_TRUE(SyntheticInput::key(QStringLiteral("super+ctrl+a")));
    ASSERT_TRUE(waitUntil([&] { return pressed.size() == 3; }));
    EXPECT_EQ(pressed.last(), Action::screenshot);

    // Held down long enough to repeat, a hotkey still fires once.
    ASSERT_TRUE(SyntheticInput::xdotool({QStringLiteral("keydown"), QStringLiteral("alt+shift+9"), QStringLiteral("sleep"),
                                         QStringLiteral("1.2"), QStringLiteral("keyup"), QStringLiteral("alt+shift+9")}));
    ASSERT_TRUE(waitUntil([&] { return pressed.size() == 4; }));
    TestSupport::spin(200);
    EXPECT_EQ(pressed.mid(3), QList<Action>{Action::quickRecord});
    ASSERT_TRUE(SyntheticInput::key(QStringLiteral("alt+shift+9")));
    ASSERT_TRUE(waitUntil([&] { return pressed.size() == 5; }));

    // Once released, the old combination is free again for others.
    hotKeys.unregisterAll();
    OtherClient other;
    EXPECT_TRUE(other.grab('6', XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT));
}

TEST_F(X11Hotkeys, CombinationHeldByAnotherClientIsRefusedRetriedAndAnnounced)
{
    PrivateHome home;
    FakePlatform fake;
    X11KeyGrabber grabber;
    auto other = std::make_unique<OtherClient>();
    ASSERT_TRUE(other->grab('7', XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT));

    HotKeys hotKeys(fake.settings, grabber);
    QList<Action> pressed;
    hotKeys.onAction = [&](Action action) { pressed.append(action); };
    hotKeys.installHandlerIfNeeded();
    hotKeys.registerAll();
    EXPECT_EQ(hotKeys.failedActions(), std::set<Action>{Action::toggleFullScreenRecording});
    EXPECT_TRUE(home.readLog().contains(
        QStringLiteral("hotkey ⌥⇧7 for Record Full Screen could not be registered (status 10)")));
    EXPECT_TRUE(hotKeys.isRetryScheduled());

    hotKeys.retryFailed();
    EXPECT_TRUE(fake.notifications.posted.isEmpty());

    other.reset();
    hotKeys.retryFailed();
    EXPECT_TRUE(hotKeys.failedActions().empty());
    EXPECT_FALSE(hotKeys.isRetryScheduled());
    ASSERT_EQ(fake.notifications.posted.size(), 1);
    EXPECT_EQ(fake.notifications.posted[0].body,
              QStringLiteral("Record Full Screen work now — the other app released the combination."));

    ASSERT_TRUE(SyntheticInput::key(QStringLiteral("alt+shift+7")));
    ASSERT_TRUE(waitUntil([&] { return !pressed.isEmpty(); }));
    EXPECT_EQ(pressed, QList<Action>{Action::toggleFullScreenRecording});
}

TEST_F(X11Hotkeys, EscapeReachesOnlyTheNewestCatcher)
{
    X11KeyGrabber grabber;
    FakeSettingsStore settings;
    HotKeys hotKeys(settings, grabber);
    QList<Action> pressed;
    hotKeys.onAction = [&](Action action) { pressed.append(action); };
    hotKeys.installHandlerIfNeeded();
    hotKeys.registerAll();

    QStringList calls;
    EscapeCatcher older(grabber, [&] { calls.append(QStringLiteral("older")); });
    EscapeCatcher newer(grabber, [&] { calls.append(QStringLiteral("newer")); });
    ASSERT_TRUE(SyntheticInput::key(QStringLiteral("Escape")));
    ASSERT_TRUE(waitUntil([&] { return !calls.isEmpty(); }));
    EXPECT_EQ(calls, QStringList{QStringLiteral("newer")});

    ASSERT_TRUE(SyntheticInput::key(QStringLiteral("alt+shift+8")));
    ASSERT_TRUE(waitUntil([&] { return !pressed.isEmpty(); }));
    EXPECT_EQ(pressed, QList<Action>{Action::screenshotToClipboard});
    EXPECT_EQ(calls.size(), 1);

    newer.disarm();
    older.disarm();
    // Nothing holds Escape any more.
    OtherClient other;
    EXPECT_TRUE(other.grab(0xff1b, 0));
}
