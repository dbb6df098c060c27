#pragma once
// The tray item: the brand icon for the phase, the elapsed time in its tooltip while
// recording, and the menu rebuilt from the application state whenever it changes (also while
// it is open, so the elapsed time and upload percentage move).

#include <QObject>
#include <memory>

class AppState;
class QMenu;
class QSystemTrayIcon;
struct MenuEntry;

class TrayController final : public QObject {
    Q_OBJECT
public:
    explicit TrayController(AppState &app, QObject *parent = nullptr);
    ~TrayController() override;

    // False when no tray host is running (or the tray was turned off for tests).
    bool trayAvailable() const { return m_tray != nullptr; }
    QMenu *menu() const { return m_menu.get(); }

private:
    void refresh();
    static void fill(QMenu &menu, const QList<MenuEntry> &entries);

    AppState &m_app;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
};
