#pragma once
// The program's one plain-text log: "<UTC time, ISO 8601 to the second> <message>" per line,
// appended for ever (no levels, no rotation). Writing never fails towards the caller and may
// happen from any thread.

#include <QString>
#include <functional>

namespace FileLog {
// $XDG_STATE_HOME/Tovrika/Tovrika.log
QString path();

void write(const QString &message);

// The last `maxBytes` bytes of the log, decoded as UTF-8 with invalid sequences (such as a
// character cut in two at the start) replaced.
QString tail(qint64 maxBytes);

// Called with each written message (without the time stamp), on the writing thread.
using Observer = std::function<void(const QString &message)>;
void setOnWrite(Observer observer);
} // namespace FileLog
