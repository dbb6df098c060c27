#include "server/ClientVersion.h"

#include <QRegularExpression>

namespace ClientVersion {

std::optional<QVersionNumber> fromUserAgent(const QString &userAgent)
{
    // Other products may follow ours in the header (HTTP stacks append their own).
    static const QRegularExpression pattern(QStringLiteral("(?:^|\\s)Tovrika/(\\S+)"));
    const QRegularExpressionMatch match = pattern.match(userAgent);
    if (!match.hasMatch())
        return std::nullopt;
    return parse(match.captured(1));
}

std::optional<QVersionNumber> parse(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d+(\\.\\d+)*$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    return QVersionNumber::fromString(text);
}

} // namespace ClientVersion
