#include "hotkeys/HotKeys.h"

#include "platform/SettingsStore.h"
#include "support/FileLog.h"
#include "support/L10n.h"
#include "ui/Notifier.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace {

struct ActionInfo {
    HotKeys::Action action;
    const char *caseName;
    const char *title;
    quint32 defaultKeyCode;
};

constexpr ActionInfo actionTable[] = {
    {HotKeys::Action::toggleAreaRecording, "toggleAreaRecording", "Record Selected Area", 22},
    {HotKeys::Action::toggleFullScreenRecording, "toggleFullScreenRecording", "Record Full Screen", 26},
    {HotKeys::Action::screenshot, "screenshot", "Screenshot Selected Area", 23},
    {HotKeys::Action::screenshotToClipboard, "screenshotToClipboard", "Screenshot to Clipboard", 28},
    {HotKeys::Action::quickRecord, "quickRecord", "Record Again (Last Selection)", 25},
    {HotKeys::Action::delayedScreenshot, "delayedScreenshot", "Delayed Screenshot", 29},
    {HotKeys::Action::screenshotAnnotate, "screenshotAnnotate", "Screenshot and Annotate", 21},
    {HotKeys::Action::gifRecording, "gifRecording", "Record GIF (10s)", 18},
    {HotKeys::Action::copyTextFromScreen, "copyTextFromScreen", "Copy Text from Screen", 19},
};

constexpr quint32 defaultModifiers = HotKeyCombo::option | HotKeyCombo::shift;

const ActionInfo &info(HotKeys::Action action)
{
    return actionTable[quint32(action) - 1];
}

} // namespace

const QList<HotKeys::Action> &HotKeys::allActions()
{
    static const QList<Action> all = [] {
        QList<Action> list;
        for (const ActionInfo &entry : actionTable)
            list.append(entry.action);
        return list;
    }();
    return all;
}

std::optional<HotKeys::Action> HotKeys::action(quint32 rawValue)
{
    if (rawValue < 1 || rawValue > std::size(actionTable))
        return std::nullopt;
    return Action(rawValue);
}

QString HotKeys::caseName(Action action)
{
    return QString::fromLatin1(info(action).caseName);
}

QString HotKeys::title(Action action)
{
    return L10n::tr(QString::fromUtf8(info(action).title));
}

HotKeyCombo HotKeys::defaultCombo(Action action)
{
    return HotKeyCombo{info(action).defaultKeyCode, defaultModifiers};
}

HotKeys::Combos HotKeys::defaults()
{
    Combos combos;
    for (const Action action : allActions())
        combos.insert(action, defaultCombo(action));
    return combos;
}

HotKeys::Combos HotKeys::load(const SettingsStore &settings)
{
    Combos combos = defaults();
    const auto stored = settings.dataValue(settingsKey);
    if (!stored)
        return combos;
    const QJsonDocument document = QJsonDocument::fromJson(*stored);
    if (!document.isObject())
        return combos;
    // Decoded as a whole: one malformed combination discards everything stored.
    const QJsonObject object = document.object();
    QList<std::pair<QString, HotKeyCombo>> decoded;
    for (auto it = object.begin(); it != object.end(); ++it) {
        const auto combo = HotKeyCombo::fromJson(it.value());
        if (!combo)
            return combos;
        decoded.append({it.key(), *combo});
    }
    for (const auto &[key, combo] : decoded) {
        bool isNumber = false;
        const uint raw = key.toUInt(&isNumber);
        const auto found = isNumber && key == QString::number(raw) ? action(raw) : std::nullopt;
        if (found)
            combos.insert(*found, combo);
    }
    return combos;
}

HotKeys::HotKeys(SettingsStore &settings, GlobalKeyGrabber &grabber, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_grabber(grabber)
    , m_combos(load(settings))
{
    connect(&m_retryTimer, &QTimer::timeout, this, &HotKeys::retryFailed);
}

HotKeys::~HotKeys()
{
    unregisterAll();
    if (m_handlerToken)
        m_grabber.removePressHandler(*m_handlerToken);
}

QString HotKeys::display(Action action) const
{
    const auto it = m_combos.constFind(action);
    return it == m_combos.constEnd() ? QString() : it->display();
}

std::optional<QKeySequence> HotKeys::keyboardShortcut(Action action) const
{
    const auto it = m_combos.constFind(action);
    return it == m_combos.constEnd() ? std::nullopt : it->keyboardShortcut();
}

bool HotKeys::update(Action action, HotKeyCombo combo)
{
    m_combos.insert(action, combo);
    emit combosChanged();
    persist();
    registerAll();
    return !m_failedActions.contains(action);
}

void HotKeys::resetToDefaults()
{
    m_combos = defaults();
    emit combosChanged();
    persist();
    registerAll();
}

void HotKeys::persist()
{
    QJsonObject object;
    for (auto it = m_combos.constBegin(); it != m_combos.constEnd(); ++it)
        object.insert(QString::number(quint32(it.key())), it->toJson());
    m_settings.setValue(settingsKey, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void HotKeys::registerAll()
{
    if (m_suspended)
        return;
    unregisterAll();
    std::set<Action> failed;
    for (auto it = m_combos.constBegin(); it != m_combos.constEnd(); ++it) {
        const Action action = it.key();
        const auto registration = m_grabber.registerHotKey(it->keyCode, it->modifiers, HotKeyId{signature, quint32(action)});
        if (registration.handle != 0) {
            m_hotKeyRefs.insert(action, registration.handle);
            continue;
        }
        failed.insert(action);
        FileLog::write(QStringLiteral("hotkey %1 for %2 could not be registered (status %3)")
                           .arg(it->display(), title(action), QString::number(registration.status)));
    }
    if (failed != m_failedActions) {
        m_failedActions = std::move(failed);
        emit failedActionsChanged();
    }
    scheduleRetryIfNeeded();
}

void HotKeys::unregisterAll()
{
    for (const GlobalKeyGrabber::Handle handle : std::as_const(m_hotKeyRefs))
        m_grabber.unregisterHotKey(handle);
    m_hotKeyRefs.clear();
}

void HotKeys::scheduleRetryIfNeeded()
{
    m_retryTimer.stop();
    if (m_failedActions.empty())
        return;
    m_retryTimer.start(m_retryInterval);
}

void HotKeys::retryFailed()
{
    if (m_suspended || m_failedActions.empty())
        return;
    const std::set<Action> before = m_failedActions;
    registerAll();
    QStringList recovered;
    for (const Action action : before) {
        if (!m_failedActions.contains(action))
            recovered.append(title(action));
    }
    if (recovered.isEmpty())
        return;
    std::sort(recovered.begin(), recovered.end());
    const QString joined = recovered.join(QStringLiteral(", "));
    FileLog::write(QStringLiteral("hotkeys recovered: ") + joined);
    Notifier::show(L10n::tr(QStringLiteral("Hotkeys restored")),
                   L10n::text(QStringLiteral("{hotkeys} work now — the other app released the combination."),
                              {{QStringLiteral("hotkeys"), joined}}));
}

void HotKeys::installHandlerIfNeeded()
{
    if (m_handlerToken)
        return;
    m_handlerToken = m_grabber.addPressHandler([this](HotKeyId pressed) { return handlePress(pressed); });
}

bool HotKeys::handlePress(HotKeyId pressed)
{
    if (pressed.signature != signature)
        return false;
    // The action runs after the key event has been answered.
    QMetaObject::invokeMethod(
        this,
        [this, id = pressed.id] {
            const auto pressedAction = action(id);
            if (pressedAction && onAction)
                onAction(*pressedAction);
        },
        Qt::QueuedConnection);
    return true;
}
