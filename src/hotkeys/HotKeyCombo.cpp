#include "hotkeys/HotKeyCombo.h"

#include <QHash>
#include <QKeyEvent>
#include <cmath>
#include <limits>

namespace {

struct KeyEntry {
    quint32 keyCode;
    const char16_t *name;
    Qt::Key qtKey;
};

// The named keys of the display text, with the Qt key each stands for.
constexpr KeyEntry namedKeys[] = {
    {0, u"A", Qt::Key_A},   {11, u"B", Qt::Key_B},  {8, u"C", Qt::Key_C},   {2, u"D", Qt::Key_D},
    {14, u"E", Qt::Key_E},  {3, u"F", Qt::Key_F},   {5, u"G", Qt::Key_G},   {4, u"H", Qt::Key_H},
    {34, u"I", Qt::Key_I},  {38, u"J", Qt::Key_J},  {40, u"K", Qt::Key_K},  {37, u"L", Qt::Key_L},
    {46, u"M", Qt::Key_M},  {45, u"N", Qt::Key_N},  {31, u"O", Qt::Key_O},  {35, u"P", Qt::Key_P},
    {12, u"Q", Qt::Key_Q},  {15, u"R", Qt::Key_R},  {1, u"S", Qt::Key_S},   {17, u"T", Qt::Key_T},
    {32, u"U", Qt::Key_U},  {9, u"V", Qt::Key_V},   {13, u"W", Qt::Key_W},  {7, u"X", Qt::Key_X},
    {16, u"Y", Qt::Key_Y},  {6, u"Z", Qt::Key_Z},
    {29, u"0", Qt::Key_0},  {18, u"1", Qt::Key_1},  {19, u"2", Qt::Key_2},  {20, u"3", Qt::Key_3},
    {21, u"4", Qt::Key_4},  {23, u"5", Qt::Key_5},  {22, u"6", Qt::Key_6},  {26, u"7", Qt::Key_7},
    {28, u"8", Qt::Key_8},  {25, u"9", Qt::Key_9},
    {27, u"-", Qt::Key_Minus},        {24, u"=", Qt::Key_Equal},       {33, u"[", Qt::Key_BracketLeft},
    {30, u"]", Qt::Key_BracketRight}, {41, u";", Qt::Key_Semicolon},   {39, u"'", Qt::Key_Apostrophe},
    {43, u",", Qt::Key_Comma},        {47, u".", Qt::Key_Period},      {44, u"/", Qt::Key_Slash},
    {50, u"`", Qt::Key_QuoteLeft},    {42, u"\\", Qt::Key_Backslash},
    {49, u"Space", Qt::Key_Space},    {36, u"↩", Qt::Key_Return},      {48, u"⇥", Qt::Key_Tab},
    {51, u"⌫", Qt::Key_Backspace},
    {123, u"←", Qt::Key_Left},        {124, u"→", Qt::Key_Right},      {125, u"↓", Qt::Key_Down},
    {126, u"↑", Qt::Key_Up},
    {122, u"F1", Qt::Key_F1},  {120, u"F2", Qt::Key_F2},  {99, u"F3", Qt::Key_F3},   {118, u"F4", Qt::Key_F4},
    {96, u"F5", Qt::Key_F5},   {97, u"F6", Qt::Key_F6},   {98, u"F7", Qt::Key_F7},   {100, u"F8", Qt::Key_F8},
    {101, u"F9", Qt::Key_F9},  {109, u"F10", Qt::Key_F10}, {103, u"F11", Qt::Key_F11}, {111, u"F12", Qt::Key_F12},
};

// Keys without a name that a press can still produce: the symbols Shift gives on a US layout,
// and keys whose stored code is known but which display as "key<code>".
constexpr std::pair<Qt::Key, quint32> extraQtKeys[] = {
    {Qt::Key_Exclam, 18},      {Qt::Key_At, 19},           {Qt::Key_NumberSign, 20}, {Qt::Key_Dollar, 21},
    {Qt::Key_Percent, 23},     {Qt::Key_AsciiCircum, 22},  {Qt::Key_Ampersand, 26},  {Qt::Key_Asterisk, 28},
    {Qt::Key_ParenLeft, 25},   {Qt::Key_ParenRight, 29},   {Qt::Key_Underscore, 27}, {Qt::Key_Plus, 24},
    {Qt::Key_BraceLeft, 33},   {Qt::Key_BraceRight, 30},   {Qt::Key_Colon, 41},      {Qt::Key_QuoteDbl, 39},
    {Qt::Key_Less, 43},        {Qt::Key_Greater, 47},      {Qt::Key_Question, 44},   {Qt::Key_AsciiTilde, 50},
    {Qt::Key_Bar, 42},         {Qt::Key_Backtab, 48},      {Qt::Key_Enter, 36},
    {Qt::Key_Escape, HotKeyCombo::escapeKeyCode},          {Qt::Key_Delete, 117},    {Qt::Key_Home, 115},
    {Qt::Key_End, 119},        {Qt::Key_PageUp, 116},      {Qt::Key_PageDown, 121},
};

struct Tables {
    QHash<quint32, QString> names;
    QHash<quint32, Qt::Key> qtKeyOfCode;
    QHash<int, quint32> codeOfQtKey;
};

const Tables &tables()
{
    static const Tables built = [] {
        Tables t;
        for (const KeyEntry &entry : namedKeys) {
            t.names.insert(entry.keyCode, QString::fromUtf16(entry.name));
            t.qtKeyOfCode.insert(entry.keyCode, entry.qtKey);
            t.codeOfQtKey.insert(entry.qtKey, entry.keyCode);
        }
        for (const auto &[qtKey, keyCode] : extraQtKeys)
            t.codeOfQtKey.insert(qtKey, keyCode);
        return t;
    }();
    return built;
}

std::optional<quint32> unsigned32(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number < 0 || number > double(std::numeric_limits<quint32>::max()) || std::floor(number) != number)
        return std::nullopt;
    return quint32(number);
}

} // namespace

QString HotKeyCombo::display() const
{
    QString text;
    if (modifiers & control)
        text += u'⌃';
    if (modifiers & option)
        text += u'⌥';
    if (modifiers & shift)
        text += u'⇧';
    if (modifiers & command)
        text += u'⌘';
    const auto name = keyName(keyCode);
    return text + (name ? *name : QStringLiteral("key") + QString::number(keyCode));
}

std::optional<QKeySequence> HotKeyCombo::keyboardShortcut() const
{
    const auto name = keyName(keyCode);
    if (!name || name->size() != 1)
        return std::nullopt;
    Qt::KeyboardModifiers held;
    if (modifiers & control)
        held |= Qt::ControlModifier;
    if (modifiers & option)
        held |= Qt::AltModifier;
    if (modifiers & shift)
        held |= Qt::ShiftModifier;
    if (modifiers & command)
        held |= Qt::MetaModifier;
    return QKeySequence(QKeyCombination(held, tables().qtKeyOfCode.value(keyCode)));
}

std::optional<HotKeyCombo> HotKeyCombo::from(const QKeyEvent &event)
{
    return from(event.modifiers(), event.key());
}

std::optional<HotKeyCombo> HotKeyCombo::from(Qt::KeyboardModifiers held, int qtKey)
{
    quint32 mask = 0;
    if (held & Qt::ControlModifier)
        mask |= control;
    if (held & Qt::AltModifier)
        mask |= option;
    if (held & Qt::MetaModifier)
        mask |= command;
    if (mask == 0)
        return std::nullopt;
    if (held & Qt::ShiftModifier)
        mask |= shift;
    const auto code = keyCodeForQtKey(qtKey);
    if (!code)
        return std::nullopt;
    return HotKeyCombo{*code, mask};
}

QJsonObject HotKeyCombo::toJson() const
{
    return QJsonObject{{QStringLiteral("keyCode"), qint64(keyCode)}, {QStringLiteral("modifiers"), qint64(modifiers)}};
}

std::optional<HotKeyCombo> HotKeyCombo::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const auto code = unsigned32(object.value(QStringLiteral("keyCode")));
    const auto mask = unsigned32(object.value(QStringLiteral("modifiers")));
    if (!code || !mask)
        return std::nullopt;
    return HotKeyCombo{*code, *mask};
}

std::optional<QString> HotKeyCombo::keyName(quint32 keyCode)
{
    const auto &names = tables().names;
    const auto it = names.constFind(keyCode);
    return it == names.constEnd() ? std::nullopt : std::optional(*it);
}

std::optional<quint32> HotKeyCombo::keyCodeForQtKey(int qtKey)
{
    const auto &codes = tables().codeOfQtKey;
    const auto it = codes.constFind(qtKey);
    return it == codes.constEnd() ? std::nullopt : std::optional(*it);
}
