#include "fakes/FakePlatform.h"

#include "auth/Keychain.h"
#include "ui/Notifier.h"

std::optional<SettingValue> FakeSettingsStore::value(const QString &key) const
{
    const auto it = values.constFind(key);
    return it == values.constEnd() ? std::nullopt : std::optional(*it);
}

void FakeSettingsStore::setValue(const QString &key, const SettingValue &value)
{
    values.insert(key, value);
    ++writes;
}

void FakeSettingsStore::remove(const QString &key)
{
    values.remove(key);
    ++writes;
}

FakePlatform::FakePlatform()
{
    Notifier::setBackend(&notifications);
    Keychain::setStore(&credentials);
}

FakePlatform::~FakePlatform()
{
    Notifier::setBackend(nullptr);
    Keychain::setStore(nullptr);
}

Platform FakePlatform::platform()
{
    return Platform{settings, screens, notifications, clipboard, workspace, loginItem, credentials, webAuth,
                    screenCapture, media, keys, cameras};
}

QCoro::Task<QUrl> FakeWebAuthSheet::present(QUrl authorizeUrl)
{
    presented.append(authorizeUrl);
    co_return respond(authorizeUrl);
}
