#pragma once
// Stands in when there is no credential store: nothing is found, nothing is kept. Never a
// plain-text fallback.

#include "platform/CredentialStore.h"

class NullCredentialStore final : public CredentialStore {
public:
    explicit NullCredentialStore(QString reason) : m_reason(std::move(reason)) {}
    Lookup read(const QString &) override { return {std::nullopt, Failure{0, m_reason}}; }
    std::optional<Failure> write(const QString &, const QByteArray &) override { return Failure{0, m_reason}; }
    void remove(const QString &) override {}

private:
    QString m_reason;
};
