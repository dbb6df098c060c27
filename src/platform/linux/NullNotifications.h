#pragma once
// Stands in when notifications can't be posted; carries the reason.

#include "platform/DesktopNotifications.h"

class NullNotifications final : public DesktopNotifications {
public:
    explicit NullNotifications(QString reason) : m_reason(std::move(reason)) {}
    bool available() const override { return false; }
    QString unavailableReason() const override { return m_reason; }
    void post(const QString &, const QString &, const std::optional<QString> &) override {}

private:
    QString m_reason;
};
