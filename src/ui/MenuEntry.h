#pragma once
// One entry of the tray menu, described as data so that the menu's content can be checked
// without showing it.

#include <QList>
#include <QString>
#include <functional>

struct MenuEntry {
    enum class Kind { button, toggle, submenu, text, separator };

    Kind kind = Kind::separator;
    QString title;
    QString shortcutHint;
    QString toolTip;
    bool checked = false;          // toggles and picker rows
    QList<MenuEntry> children;     // submenus
    std::function<void(bool checked)> action;

    static MenuEntry button(QString title, std::function<void()> action, QString shortcutHint = {})
    {
        MenuEntry entry = make(Kind::button, std::move(title));
        entry.shortcutHint = std::move(shortcutHint);
        entry.action = [action = std::move(action)](bool) { action(); };
        return entry;
    }
    static MenuEntry toggle(QString title, bool checked, std::function<void(bool)> action)
    {
        MenuEntry entry = make(Kind::toggle, std::move(title));
        entry.checked = checked;
        entry.action = std::move(action);
        return entry;
    }
    static MenuEntry submenu(QString title, QList<MenuEntry> children)
    {
        MenuEntry entry = make(Kind::submenu, std::move(title));
        entry.children = std::move(children);
        return entry;
    }
    static MenuEntry text(QString title) { return make(Kind::text, std::move(title)); }
    static MenuEntry separator() { return MenuEntry{}; }

private:
    static MenuEntry make(Kind kind, QString title)
    {
        MenuEntry entry;
        entry.kind = kind;
        entry.title = std::move(title);
        return entry;
    }
};
