#pragma once
// One key combination: a virtual key code in the stored numbering (0 = A, 18 = 1, 53 = Escape,
// ...) and a modifier mask (command 0x0100, shift 0x0200, option 0x0800, control 0x1000).
// Command is the Super key here, option is Alt.

#include <QJsonObject>
#include <QJsonValue>
#include <QKeySequence>
#include <QString>
#include <optional>

class QKeyEvent;

struct HotKeyCombo {
    static constexpr quint32 command = 0x0100;
    static constexpr quint32 shift = 0x0200;
    static constexpr quint32 option = 0x0800;
    static constexpr quint32 control = 0x1000;

    static constexpr quint32 escapeKeyCode = 53;

    quint32 keyCode = 0;
    quint32 modifiers = 0;

    bool operator==(const HotKeyCombo &) const = default;

    // "⌃⌥⇧⌘" in that order for the held modifiers, then the key's name or "key<code>".
    QString display() const;
    // A menu shortcut when the key's name is a single character; nothing otherwise.
    std::optional<QKeySequence> keyboardShortcut() const;

    // The combination a key press makes; nothing unless control, option or command is held.
    static std::optional<HotKeyCombo> from(const QKeyEvent &event);
    static std::optional<HotKeyCombo> from(Qt::KeyboardModifiers held, int qtKey);

    QJsonObject toJson() const;
    // Nothing unless both fields are unsigned 32-bit integers.
    static std::optional<HotKeyCombo> fromJson(const QJsonValue &value);

    // The key-name table: letters, digits, punctuation, Space, Return, Tab, Delete, arrows, F1–F12.
    static std::optional<QString> keyName(quint32 keyCode);
    // The virtual key a Qt key stands for; shifted symbols of a US layout count as their key.
    static std::optional<quint32> keyCodeForQtKey(int qtKey);
};
