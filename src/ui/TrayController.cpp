#include "ui/TrayController.h"

#include "app/AppState.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/FileLog.h"
#include "support/L10n.h"
#include "ui/BrandIcon.h"
#include "ui/MenuContent.h"

#include <QActionGroup>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <algorithm>

namespace {
using Kind = MenuEntry::Kind;

bool sameKinds(const QList<MenuEntry> &a, const QList<MenuEntry> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const MenuEntry &x, const MenuEntry &y) { return x.kind == y.kind; });
}

// Everything of an entry that may change while its item stays.
void show(QAction &action, const MenuEntry &entry)
{
    switch (entry.kind) {
    case Kind::separator:
        return;
    case Kind::text:
    case Kind::submenu:
        action.setText(entry.title);
        return;
    case Kind::button:
    case Kind::toggle:
    case Kind::choice:
        action.setText(entry.title);
        action.setToolTip(entry.toolTip);
        action.setShortcut(entry.shortcut.value_or(QKeySequence()));
        if (action.isCheckable())
            action.setChecked(entry.checked);
        return;
    }
}
} // namespace

TrayController::TrayController(AppState &app, QObject *parent)
    : QObject(parent)
    , m_app(app)
    , m_menu(std::make_unique<QMenu>())
{
    m_menu->setToolTipsVisible(true);
    if (LinuxPlatform::forcedNull(QStringLiteral("tray"))) {
        FileLog::write(QStringLiteral("status item missing: turned off by TOVRIKA_NULL_BACKENDS"));
    } else {
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            FileLog::write(QStringLiteral("status item missing: no tray host yet"));
        // Shown even without a host: the icon appears once a tray host starts.
        m_tray = std::make_unique<QSystemTrayIcon>();
        m_tray->setContextMenu(m_menu.get());
    }
    connect(&m_app, &AppState::changed, this, &TrayController::refresh);
    // The hotkey warning and hints, and the screens and devices, which change without a
    // change of the state: the last two are read again each time the menu opens.
    connect(&m_app.hotKeys(), &HotKeys::failedActionsChanged, this, &TrayController::refresh);
    connect(&m_app.hotKeys(), &HotKeys::combosChanged, this, &TrayController::refresh);
    connect(m_menu.get(), &QMenu::aboutToShow, this, &TrayController::refresh);
    refresh();
    if (m_tray)
        m_tray->show();
}

TrayController::~TrayController() = default;

void TrayController::refresh()
{
    QList<MenuEntry> entries = MenuContent::build(m_app);
    sync(*m_menu, m_shown, entries, {});
    m_shown = std::move(entries);

    if (!m_tray)
        return;
    const bool recording = m_app.phase().is(AppPhase::Kind::recording);
    using State = BrandIcon::State;
    m_tray->setIcon(BrandIcon::icon(!recording ? State::idle : m_app.recordingPaused() ? State::paused : State::recording));
    const L10n::Values time{{QStringLiteral("time"), m_app.elapsed()}};
    m_tray->setToolTip(!recording ? QStringLiteral("Tovrika")
                       : m_app.recordingPaused() ? L10n::text(QStringLiteral("Paused at {time}"), time)
                                                 : L10n::text(QStringLiteral("Recording… {time}"), time));
}

void TrayController::sync(QMenu &menu, const QList<MenuEntry> &shown, const QList<MenuEntry> &entries, const Path &path)
{
    const QList<QAction *> actions = menu.actions();
    if (!sameKinds(shown, entries) || actions.size() != entries.size()) {
        fill(menu, entries, path);
        return;
    }
    for (qsizetype i = 0; i < entries.size(); ++i) {
        show(*actions[i], entries[i]);
        if (entries[i].kind == Kind::submenu)
            sync(*actions[i]->menu(), shown[i].children, entries[i].children, path + Path{int(i)});
    }
}

void TrayController::fill(QMenu &menu, const QList<MenuEntry> &entries, const Path &path)
{
    menu.clear();
    for (QMenu *submenu : menu.findChildren<QMenu *>(Qt::FindDirectChildrenOnly))
        submenu->deleteLater();

    for (qsizetype i = 0; i < entries.size(); ++i) {
        const MenuEntry &entry = entries[i];
        const Path here = path + Path{int(i)};
        switch (entry.kind) {
        case Kind::separator:
            menu.addSeparator();
            break;
        case Kind::text:
            menu.addAction(entry.title)->setEnabled(false);
            break;
        case Kind::submenu: {
            auto *submenu = new QMenu(entry.title, &menu);
            submenu->setToolTipsVisible(true);
            fill(*submenu, entry.children, here);
            menu.addMenu(submenu);
            break;
        }
        case Kind::button:
        case Kind::toggle:
        case Kind::choice: {
            QAction *action = menu.addAction(entry.title);
            if (entry.kind != Kind::button)
                action->setCheckable(true);
            if (entry.kind == Kind::choice) {
                // The rows of a picker: checking one unchecks the others, and choosing the
                // checked one again leaves it checked.
                auto *group = menu.findChild<QActionGroup *>(QString(), Qt::FindDirectChildrenOnly);
                if (!group)
                    group = new QActionGroup(&menu);
                group->addAction(action);
            }
            show(*action, entry);
            connect(action, &QAction::triggered, this, [this, here](bool checked) { trigger(here, checked); });
            break;
        }
        }
    }
}

void TrayController::trigger(const Path &path, bool checked)
{
    // The entry shown at this place now: its item may have outlived several rebuilds of the
    // entries, with other actions each time.
    const QList<MenuEntry> *level = &m_shown;
    const MenuEntry *entry = nullptr;
    for (const int index : path) {
        if (index >= level->size())
            return;
        entry = &level->at(index);
        level = &entry->children;
    }
    if (!entry || !entry->action)
        return;

    // Actions may rebuild this very menu, so they run once the click is over. Afterwards the
    // menu is brought up to date even when the state did not change, so that a toggle whose
    // change was refused shows the stored value again.
    QMetaObject::invokeMethod(
        this,
        [self = QPointer<TrayController>(this), run = entry->action, checked] {
            run(checked);
            if (self)
                self->refresh();
        },
        Qt::QueuedConnection);
}
