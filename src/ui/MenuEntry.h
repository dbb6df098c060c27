#pragma once
// One entry of the tray menu, described as data so that the menu's content can be checked
// without showing it.

#include <QKeySequence>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

struct MenuEntry {
    // A picker is a submenu of `choice` rows: the row of the current value is checked, none is
    // when the value matches no row.
    enum class Kind { button, toggle, choice, submenu, text, separator };

    Kind kind = Kind::separator;
    QString title;
    std::optional<QKeySequence> shortcut; // the hotkey shown beside a button
    QString toolTip;
    bool checked = false;          // toggles and choices
    QList<MenuEntry> children;     // submenus
    std::function<void(bool checked)> action;

    static MenuEntry button(QString title, std::function<void()> action, std::optional<QKeySequence> shortcut = std::nullopt)
    {
        MenuEntry entry = make(Kind::button, std::move(title));
        entry.shortcut = std::move(shortcut);
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
    static MenuEntry choice(QString title, bool chosen, std::function<void()> choose)
    {
        MenuEntry entry = make(Kind::choice, std::move(title));
        entry.checked = chosen;
        entry.action = [choose = std::move(choose)](bool) { choose(); };
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
