#include "app/TovrikaUrl.h"

namespace TovrikaUrl {

namespace {
// The action a "tovrika:" URL names: its host, or its path when it has no host.
QString action(const QUrl &url)
{
    if (url.scheme().toLower() != QLatin1String("tovrika"))
        return {};
    QString target = url.host();
    if (target.isEmpty()) {
        // tovrika:record has no host; its path names the action.
        target = url.path();
        while (target.startsWith(QLatin1Char('/')))
            target.remove(0, 1);
        while (target.endsWith(QLatin1Char('/')))
            target.chop(1);
    }
    return target.toLower();
}
} // namespace

bool isRecordRequest(const QUrl &url)
{
    return action(url) == QLatin1String("record");
}

bool isAuthRedirect(const QUrl &url)
{
    return action(url) == QLatin1String("auth");
}

} // namespace TovrikaUrl
