#include "hotkeys/HotKeyCombo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <gtest/gtest.h>

namespace {
constexpr quint32 cmd = HotKeyCombo::command;
constexpr quint32 shift = HotKeyCombo::shift;
constexpr quint32 opt = HotKeyCombo::option;
constexpr quint32 ctrl = HotKeyCombo::control;
} // namespace

TEST(HotKeyCombo, DisplayPutsModifiersInFixedOrderBeforeTheKeyName)
{
    const struct {
        HotKeyCombo combo;
        const char16_t *expected;
    } cases[] = {
        {{22, opt | shift}, u"⌥⇧6"},
        {{0, ctrl | cmd}, u"⌃⌘A"},
        {{1, cmd | shift}, u"⇧⌘S"},
        {{50, cmd | shift | opt | ctrl}, u"⌃⌥⇧⌘`"},
        {{53, opt}, u"⌥key53"},
        {{49, ctrl}, u"⌃Space"},
        {{36, cmd}, u"⌘↩"},
        {{111, 0}, u"F12"},
        {{4000000000u, cmd}, u"⌘key4000000000"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.combo.display(), QString::fromUtf16(c.expected)) << c.combo.keyCode;
}

TEST(HotKeyCombo, MenuShortcutOnlyForSingleCharacterNames)
{
    EXPECT_EQ(HotKeyCombo({22, opt | shift}).keyboardShortcut(), QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_6));
    EXPECT_EQ(HotKeyCombo({0, ctrl | cmd}).keyboardShortcut(), QKeySequence(Qt::CTRL | Qt::META | Qt::Key_A));
    EXPECT_EQ(HotKeyCombo({123, cmd}).keyboardShortcut(), QKeySequence(Qt::META | Qt::Key_Left));
    EXPECT_EQ(HotKeyCombo({42, opt}).keyboardShortcut(), QKeySequence(Qt::ALT | Qt::Key_Backslash));
    for (const quint32 noShortcut : {49u, 122u, 109u, 53u, 200u})
        EXPECT_EQ(HotKeyCombo({noShortcut, cmd}).keyboardShortcut(), std::nullopt) << noShortcut;
}

TEST(HotKeyCombo, FromKeyPressNeedsControlOptionOrCommand)
{
    EXPECT_EQ(HotKeyCombo::from(Qt::ShiftModifier, Qt::Key_A), std::nullopt);
    EXPECT_EQ(HotKeyCombo::from(Qt::NoModifier, Qt::Key_A), std::nullopt);
    EXPECT_EQ(HotKeyCombo::from(Qt::MetaModifier | Qt::ShiftModifier, Qt::Key_4), HotKeyCombo({21, 0x0300}));
    // With Shift held a US layout reports the shifted symbol; it still means the digit key.
    EXPECT_EQ(HotKeyCombo::from(Qt::MetaModifier | Qt::ShiftModifier, Qt::Key_Dollar), HotKeyCombo({21, 0x0300}));
    EXPECT_EQ(HotKeyCombo::from(Qt::ControlModifier | Qt::AltModifier, Qt::Key_A), HotKeyCombo({0, 0x1800}));
    EXPECT_EQ(HotKeyCombo::from(Qt::AltModifier, Qt::Key_F5), HotKeyCombo({96, opt}));
    EXPECT_EQ(HotKeyCombo::from(Qt::AltModifier, Qt::Key_MediaPlay), std::nullopt);

    const QKeyEvent event(QEvent::KeyPress, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(HotKeyCombo::from(event), HotKeyCombo({49, ctrl}));
}

TEST(HotKeyCombo, EveryNamedKeyComesBackFromItsQtKey)
{
    int named = 0;
    for (quint32 code = 0; code < 256; ++code) {
        if (!HotKeyCombo::keyName(code))
            continue;
        ++named;
        const auto shortcut = HotKeyCombo({code, 0}).keyboardShortcut();
        if (shortcut) {
            EXPECT_EQ(HotKeyCombo::keyCodeForQtKey((*shortcut)[0].key()), code) << code;
        }
    }
    EXPECT_EQ(named, 67);
}

TEST(HotKeyCombo, JsonHasTwoUnsignedFieldsAndRejectsAnythingElse)
{
    const HotKeyCombo combo{25, 0x0A00};
    EXPECT_EQ(QJsonDocument(combo.toJson()).toJson(QJsonDocument::Compact), QByteArray(R"({"keyCode":25,"modifiers":2560})"));
    EXPECT_EQ(HotKeyCombo::fromJson(combo.toJson()), combo);
    EXPECT_EQ(HotKeyCombo::fromJson(QJsonObject{{"keyCode", 4294967295.0}, {"modifiers", 0}}), HotKeyCombo({4294967295u, 0}));

    const QJsonValue bad[] = {
        QJsonObject{{"keyCode", 1}},
        QJsonObject{{"keyCode", -1}, {"modifiers", 0}},
        QJsonObject{{"keyCode", 1.5}, {"modifiers", 0}},
        QJsonObject{{"keyCode", 4294967296.0}, {"modifiers", 0}},
        QJsonObject{{"keyCode", "1"}, {"modifiers", 0}},
        QJsonValue(3),
        QJsonArray({1, 2}),
    };
    for (const QJsonValue &value : bad)
        EXPECT_EQ(HotKeyCombo::fromJson(value), std::nullopt) << QJsonDocument::fromVariant(value.toVariant()).toJson().constData();
}
