#pragma once
// Whether the program starts when the user logs in.

#include <QString>
#include <optional>

class LoginItem {
public:
    virtual ~LoginItem() = default;
    virtual bool isEnabled() const = 0;
    // Answers the error text on failure.
    virtual std::optional<QString> setEnabled(bool on) = 0;
};
