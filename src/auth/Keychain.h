#pragma once
// Small secret texts (the refresh token) in the credential store, under the service
// "com.brisvale.tovrika". Never fails towards the caller: problems are logged.

#include <QString>
#include <optional>

class CredentialStore;

namespace Keychain {
// Installs the program-wide store; without one, nothing is found and writes are logged.
void setStore(CredentialStore *store);

std::optional<QString> read(const QString &account);
void write(const QString &account, const QString &value);
void remove(const QString &account);
} // namespace Keychain
