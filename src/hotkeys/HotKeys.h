#pragma once
// The global hotkey registry: one combination per action, kept in the settings under
// "hotKeyCombos", grabbed system-wide, with the refused ones retried every minute and their
// recovery announced. What an action does is up to `onAction`. Main thread only.

#include "hotkeys/HotKeyCombo.h"
#include "platform/GlobalKeyGrabber.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>
#include <set>

class SettingsStore;

class HotKeys final : public QObject {
    Q_OBJECT
public:
    enum class Action : quint32 {
        toggleAreaRecording = 1,
        toggleFullScreenRecording = 2,
        screenshot = 3,
        screenshotToClipboard = 4,
        quickRecord = 5,
        delayedScreenshot = 6,
        screenshotAnnotate = 7,
        gifRecording = 8,
        copyTextFromScreen = 9,
    };
    using Combos = QMap<Action, HotKeyCombo>;

    static constexpr quint32 signature = hotKeySignature("TVKH");
    static inline const QString settingsKey = QStringLiteral("hotKeyCombos");

    // In declaration order, the order of the settings window and of the defaults.
    static const QList<Action> &allActions();
    static std::optional<Action> action(quint32 rawValue);
    // The action's name in log lines, e.g. "quickRecord".
    static QString caseName(Action action);
    // The action's name as shown to the user (localised).
    static QString title(Action action);
    static HotKeyCombo defaultCombo(Action action);
    static Combos defaults();
    // The stored combinations over the defaults; undecodable data gives the defaults.
    static Combos load(const SettingsStore &settings);

    HotKeys(SettingsStore &settings, GlobalKeyGrabber &grabber, QObject *parent = nullptr);
    ~HotKeys() override;

    // Called (on a later turn of the event loop) with the action whose hotkey was pressed.
    std::function<void(Action)> onAction;

    const Combos &combos() const { return m_combos; }
    const std::set<Action> &failedActions() const { return m_failedActions; }

    // The combination's display text, or empty.
    QString display(Action action) const;
    std::optional<QKeySequence> keyboardShortcut(Action action) const;

    // Stores and persists the combination, grabs everything again; false when this one was refused.
    bool update(Action action, HotKeyCombo combo);
    void resetToDefaults();

    // Releases and grabs every combination; refused ones are logged and retried. Does nothing
    // while suspended.
    void registerAll();
    void unregisterAll();

    // While the settings window listens for a new combination: no grabs and no retries.
    bool isSuspended() const { return m_suspended; }
    void setSuspended(bool suspended) { m_suspended = suspended; }

    // Starts listening for presses; once, at start-up, before the first registerAll.
    void installHandlerIfNeeded();

    // One tick of the retry timer: grabs again and announces the actions that work again.
    void retryFailed();
    bool isRetryScheduled() const { return m_retryTimer.isActive(); }
    void setRetryInterval(std::chrono::milliseconds interval) { m_retryInterval = interval; }

signals:
    void combosChanged();
    void failedActionsChanged();

private:
    void persist();
    void scheduleRetryIfNeeded();
    bool handlePress(HotKeyId pressed);

    SettingsStore &m_settings;
    GlobalKeyGrabber &m_grabber;
    Combos m_combos;
    std::set<Action> m_failedActions;
    QMap<Action, GlobalKeyGrabber::Handle> m_hotKeyRefs;
    std::optional<int> m_handlerToken;
    bool m_suspended = false;
    QTimer m_retryTimer;
    std::chrono::milliseconds m_retryInterval = std::chrono::seconds(60);
};
