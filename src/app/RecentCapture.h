#pragma once
// One entry of the recents list kept in settings: a published capture and its share link.
// Stored as a JSON array of {"slug", "url", "filePath"?, "isScreenshot", "date"} with the date
// as seconds since 1 January 2001 (UTC).

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

struct RecentCapture {
    QString slug; // the share link's slug, also the entry's identity
    QString url;
    std::optional<QString> filePath; // absent for files that lived in the temporary folder
    bool isScreenshot = false;
    QDateTime date;

    bool operator==(const RecentCapture &) const = default;

    static QByteArray listToJson(const QList<RecentCapture> &captures);
    // Nothing when any entry is malformed: the stored list is used whole or not at all.
    static std::optional<QList<RecentCapture>> listFromJson(const QByteArray &json);

    static double secondsSinceReferenceDate(const QDateTime &date);
    static QDateTime fromSecondsSinceReferenceDate(double seconds);
};
