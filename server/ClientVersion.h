#pragma once
// The program's version as its HTTP stack reports it in "User-Agent":
// "Tovrika/{short version} ({build})", for example "Tovrika/1.4.2 (311)".

#include <QString>
#include <QVersionNumber>
#include <optional>

namespace ClientVersion {

// The short version of a Tovrika User-Agent, or nothing for any other agent.
std::optional<QVersionNumber> fromUserAgent(const QString &userAgent);
// A version given on the command line: dotted numbers only ("2", "2.1", "2.1.0").
std::optional<QVersionNumber> parse(const QString &text);

} // namespace ClientVersion
