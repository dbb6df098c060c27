#pragma once
// Launch at login through an XDG autostart entry: $XDG_CONFIG_HOME/autostart/tovrika.desktop.

#include "platform/LoginItem.h"

class XdgAutostartLoginItem final : public LoginItem {
public:
    bool isEnabled() const override;
    std::optional<QString> setEnabled(bool on) override;
    static QString entryPath();
};
