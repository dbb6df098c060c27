#pragma once
// The tray item: the brand icon for the phase, the elapsed time in its tooltip while
// recording, and the menu following the application state whenever it changes (also while
// it is open, so the elapsed time and upload percentage move).

#include "ui/MenuEntry.h"

#include <QList>
#include <QObject>
#include <memory>

class AppState;
class QMenu;
class QSystemTrayIcon;

class TrayController final : public QObject {
    Q_OBJECT
public:
    explicit TrayController(AppState &app, QObject *parent = nullptr);
    ~TrayController() override;

    // False when no tray host is running (or the tray was turned off for tests).
    bool trayAvailable() const { return m_tray != nullptr; }
    QMenu *menu() const { return m_menu.get(); }

    // Brings the menu up to date with the state. A menu level whose entries keep their kinds
    // keeps its items and only changes their texts, marks and hints, so an open menu neither
    // flickers nor loses the item under the pointer; other levels are made anew.
    void refresh();

private:
    using Path = QList<int>;

    void sync(QMenu &menu, const QList<MenuEntry> &shown, const QList<MenuEntry> &entries, const Path &path);
    void fill(QMenu &menu, const QList<MenuEntry> &entries, const Path &path);
    // Runs the action of the entry at `path` in the entries shown now.
    void trigger(const Path &path, bool checked);

    AppState &m_app;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QList<MenuEntry> m_shown;
};
