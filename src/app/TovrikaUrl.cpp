#include "app/TovrikaUrl.h"

namespace TovrikaUrl {

bool isRecordRequest(const QUrl &url)
{
    if (url.scheme().toLower() != QLatin1String("tovrika"))
        return false;
    QString target = url.host();
    if (target.isEmpty()) {
        // tovrika:record has no host; its path names the action.
        target = url.path();
        while (target.startsWith(QLatin1Char('/')))
            target.remove(0, 1);
        while (target.endsWith(QLatin1Char('/')))
            target.chop(1);
    }
    return target.toLower() == QLatin1String("record");
}

} // namespace TovrikaUrl
