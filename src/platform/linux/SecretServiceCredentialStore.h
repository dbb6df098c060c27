#pragma once
// Credentials in the freedesktop Secret Service through libsecret, as items with the
// attributes service = "com.brisvale.tovrika" and account = the caller's key.

#include "platform/CredentialStore.h"

class SecretServiceCredentialStore final : public CredentialStore {
public:
    Lookup read(const QString &account) override;
    std::optional<Failure> write(const QString &account, const QByteArray &data) override;
    void remove(const QString &account) override;
};
