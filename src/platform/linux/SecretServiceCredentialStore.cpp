#include "platform/linux/SecretServiceCredentialStore.h"

// libsecret's headers use "signals" as an identifier, which Qt defines as a keyword.
#undef signals
#include <libsecret/secret.h>
#define signals Q_SIGNALS

namespace {
constexpr const char *kService = "com.brisvale.tovrika";

const SecretSchema *schema()
{
    static const SecretSchema schema = [] {
        SecretSchema made{};
        made.name = "com.brisvale.tovrika.Credential";
        made.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        made.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        made.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return made;
    }();
    return &schema;
}

CredentialStore::Failure failureFrom(GError *error)
{
    CredentialStore::Failure failure{error->code, QString::fromUtf8(error->message)};
    g_error_free(error);
    return failure;
}
} // namespace

CredentialStore::Lookup SecretServiceCredentialStore::read(const QString &account)
{
    const QByteArray accountUtf8 = account.toUtf8();
    GError *error = nullptr;
    SecretValue *value = secret_password_lookup_binary_sync(schema(), nullptr, &error, "service", kService, "account",
                                                            accountUtf8.constData(), nullptr);
    if (error)
        return {std::nullopt, failureFrom(error)};
    if (!value)
        return {};
    gsize length = 0;
    const gchar *bytes = secret_value_get(value, &length);
    QByteArray data(bytes, qsizetype(length));
    secret_value_unref(value);
    return {data, std::nullopt};
}

std::optional<CredentialStore::Failure> SecretServiceCredentialStore::write(const QString &account, const QByteArray &data)
{
    const QByteArray accountUtf8 = account.toUtf8();
    const QByteArray label = "Tovrika " + accountUtf8;
    SecretValue *value = secret_value_new(data.constData(), data.size(), "text/plain");
    GError *error = nullptr;
    // Storing under the same attributes replaces the earlier item in place.
    secret_password_store_binary_sync(schema(), SECRET_COLLECTION_DEFAULT, label.constData(), value, nullptr, &error,
                                      "service", kService, "account", accountUtf8.constData(), nullptr);
    secret_value_unref(value);
    if (error)
        return failureFrom(error);
    return std::nullopt;
}

void SecretServiceCredentialStore::remove(const QString &account)
{
    const QByteArray accountUtf8 = account.toUtf8();
    GError *error = nullptr;
    secret_password_clear_sync(schema(), nullptr, &error, "service", kService, "account", accountUtf8.constData(), nullptr);
    if (error)
        g_error_free(error);
}
