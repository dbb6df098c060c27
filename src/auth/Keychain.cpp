#include "auth/Keychain.h"

#include "platform/CredentialStore.h"
#include "support/FileLog.h"

#include <QStringDecoder>

namespace {
CredentialStore *g_store = nullptr;

void logFailure(const char *what, const QString &account, const CredentialStore::Failure &failure)
{
    FileLog::write(QStringLiteral("keychain %1 %2 failed: %3 %4")
                       .arg(QLatin1String(what), account, QString::number(failure.code), failure.message));
}
} // namespace

namespace Keychain {

void setStore(CredentialStore *store)
{
    g_store = store;
}

std::optional<QString> read(const QString &account)
{
    if (!g_store) {
        logFailure("read", account, {0, QStringLiteral("no credential store")});
        return std::nullopt;
    }
    const CredentialStore::Lookup lookup = g_store->read(account);
    if (lookup.failure) {
        logFailure("read", account, *lookup.failure);
        return std::nullopt;
    }
    if (!lookup.data)
        return std::nullopt;
    auto decoder = QStringDecoder(QStringDecoder::Utf8);
    const QString text = decoder(*lookup.data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

void write(const QString &account, const QString &value)
{
    const auto failure = g_store ? g_store->write(account, value.toUtf8())
                                 : std::optional(CredentialStore::Failure{0, QStringLiteral("no credential store")});
    if (failure)
        logFailure("write", account, *failure);
}

void remove(const QString &account)
{
    if (g_store)
        g_store->remove(account);
}

} // namespace Keychain
