#include "app/Config.h"

#include "support/FileLog.h"
#include "support/XdgPaths.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
const QString kDefaultTenant = QStringLiteral("5f0c3b9e-8a41-4d2b-9c7e-1a6f2e4d8b30");

Config::Service defaults()
{
    Config::Service service;
    service.apiBase = QUrl(QStringLiteral("http://127.0.0.1:8321/api"));
    service.authority = QUrl(QStringLiteral("http://127.0.0.1:8321/") + kDefaultTenant);
    service.clientId = QStringLiteral("b7e4a1d2-3c5f-4e8a-9b6d-0f2c4a8e1d57");
    service.apiAppId = QStringLiteral("e2a9c4f1-7b3d-4a6e-8c5b-9d1f0e3a7c24");
    service.updateFeed = QUrl(QStringLiteral("http://127.0.0.1:8321/updates/feed.json"));
    return service;
}

bool isLoopback(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

// A usable service address: absolute, https, or http on this machine only.
std::optional<QUrl> serviceUrl(const QString &text, const QString &name, QStringList &problems)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("https") && scheme != QLatin1String("http"))) {
        problems << QStringLiteral("config: ignoring %1 \"%2\": not a web address").arg(name, text);
        return std::nullopt;
    }
    if (scheme == QLatin1String("http") && !isLoopback(url.host())) {
        problems << QStringLiteral("config: ignoring %1 \"%2\": plain http is only allowed for loopback hosts").arg(name, text);
        return std::nullopt;
    }
    QUrl clean = url;
    clean.setPath(url.path().endsWith(QLatin1Char('/')) ? url.path().chopped(1) : url.path());
    return clean;
}
} // namespace

namespace Config {

Service readService(const QString &configFilePath, const QString &apiBaseEnv, const QString &authorityEnv)
{
    Service service = defaults();
    QFile file(configFilePath);
    if (file.open(QIODevice::ReadOnly)) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
        if (!document.isObject()) {
            service.problems << QStringLiteral("config: ignoring %1: %2").arg(configFilePath, error.errorString());
        } else {
            const QJsonObject object = document.object();
            const auto text = [&](const char *key) { return object.value(QLatin1String(key)).toString(); };
            if (!text("apiBase").isEmpty())
                service.apiBase = serviceUrl(text("apiBase"), QStringLiteral("apiBase"), service.problems).value_or(service.apiBase);
            if (!text("authority").isEmpty())
                service.authority = serviceUrl(text("authority"), QStringLiteral("authority"), service.problems).value_or(service.authority);
            if (!text("updateFeed").isEmpty())
                service.updateFeed = serviceUrl(text("updateFeed"), QStringLiteral("updateFeed"), service.problems).value_or(service.updateFeed);
            if (!text("clientId").isEmpty())
                service.clientId = text("clientId");
            if (!text("apiAppId").isEmpty())
                service.apiAppId = text("apiAppId");
        }
    }
    if (!apiBaseEnv.isEmpty())
        service.apiBase = serviceUrl(apiBaseEnv, QStringLiteral("TOVRIKA_API_BASE"), service.problems).value_or(service.apiBase);
    if (!authorityEnv.isEmpty())
        service.authority = serviceUrl(authorityEnv, QStringLiteral("TOVRIKA_AUTHORITY"), service.problems).value_or(service.authority);
    return service;
}

namespace {
Service &current()
{
    static Service service = [] {
        Service read = readService(configFilePath(), qEnvironmentVariable("TOVRIKA_API_BASE"),
                                   qEnvironmentVariable("TOVRIKA_AUTHORITY"));
        for (const QString &problem : std::as_const(read.problems))
            FileLog::write(problem);
        return read;
    }();
    return service;
}
} // namespace

const Service &service()
{
    return current();
}

void setService(const Service &service)
{
    current() = service;
}

QString configFilePath()
{
    return XdgPaths::configHome() + QStringLiteral("/Tovrika/config.json");
}

QString capturesFolder()
{
    const QString overridden = qEnvironmentVariable("TOVRIKA_CAPTURES_DIR");
    if (!overridden.isEmpty())
        return overridden;
    return XdgPaths::realHome() + QStringLiteral("/Movies/Tovrika");
}

QString postersFolder()
{
    return capturesFolder() + QStringLiteral("/.posters");
}

QUrl apiBase()
{
    return service().apiBase;
}

QUrl authorizeUrl()
{
    QUrl url = service().authority;
    url.setPath(url.path() + QStringLiteral("/oauth2/v2.0/authorize"));
    return url;
}

QUrl tokenUrl()
{
    QUrl url = service().authority;
    url.setPath(url.path() + QStringLiteral("/oauth2/v2.0/token"));
    return url;
}

} // namespace Config
