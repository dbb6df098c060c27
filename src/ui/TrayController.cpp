#include "ui/TrayController.h"

#include "app/AppState.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/FileLog.h"
#include "support/L10n.h"
#include "ui/BrandIcon.h"
#include "ui/MenuContent.h"

#include <QMenu>
#include <QSystemTrayIcon>

TrayController::TrayController(AppState &app, QObject *parent)
    : QObject(parent)
    , m_app(app)
    , m_menu(std::make_unique<QMenu>())
{
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
    refresh();
    if (m_tray)
        m_tray->show();
}

TrayController::~TrayController() = default;

void TrayController::refresh()
{
    m_menu->clear();
    for (QMenu *submenu : m_menu->findChildren<QMenu *>(Qt::FindDirectChildrenOnly))
        submenu->deleteLater();
    fill(*m_menu, MenuContent::build(m_app));

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

void TrayController::fill(QMenu &menu, const QList<MenuEntry> &entries)
{
    for (const MenuEntry &entry : entries) {
        switch (entry.kind) {
        case MenuEntry::Kind::separator:
            menu.addSeparator();
            break;
        case MenuEntry::Kind::text:
            menu.addAction(entry.title)->setEnabled(false);
            break;
        case MenuEntry::Kind::submenu: {
            auto *submenu = new QMenu(entry.title, &menu);
            fill(*submenu, entry.children);
            menu.addMenu(submenu);
            break;
        }
        case MenuEntry::Kind::button:
        case MenuEntry::Kind::toggle: {
            QAction *action = menu.addAction(entry.title);
            action->setToolTip(entry.toolTip);
            if (!entry.shortcutHint.isEmpty())
                action->setShortcut(QKeySequence(entry.shortcutHint));
            if (entry.kind == MenuEntry::Kind::toggle) {
                action->setCheckable(true);
                action->setChecked(entry.checked);
            }
            // Actions may rebuild this very menu, so they run once the click is over.
            QObject::connect(action, &QAction::triggered, action, [run = entry.action](bool checked) {
                QMetaObject::invokeMethod(qApp, [run, checked] { run(checked); }, Qt::QueuedConnection);
            });
            break;
        }
        }
    }
}
