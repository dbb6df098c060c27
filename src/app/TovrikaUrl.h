#pragma once
// The rules for "tovrika:" URLs handed to the program.

#include <QUrl>

namespace TovrikaUrl {
// tovrika://record and tovrika:record, in any letter case.
bool isRecordRequest(const QUrl &url);
// tovrika://auth?..., the sign-in authority's redirect.
bool isAuthRedirect(const QUrl &url);
} // namespace TovrikaUrl
