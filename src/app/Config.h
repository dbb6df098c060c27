#pragma once
// Where the program keeps captures and which web service and sign-in authority it talks to.
// Service addresses come from $XDG_CONFIG_HOME/Tovrika/config.json, overridden by
// TOVRIKA_API_BASE and TOVRIKA_AUTHORITY; the defaults point at the local reference service.

#include <QString>
#include <QStringList>
#include <QUrl>

namespace Config {

struct Service {
    QUrl apiBase;        // origin + "/api"
    QUrl authority;      // origin + "/" + tenant UUID
    QString clientId;    // the desktop client's registration at the authority (a UUID)
    QString apiAppId;    // the API's application id, used in the scope (a UUID)
    QUrl updateFeed;     // JSON feed of released versions
    QStringList problems; // what was ignored and why, for the log
};

// Reads the configuration: file values over defaults, environment over both. Plain http is
// only accepted for loopback hosts; anything else unusable keeps the default and is reported.
Service readService(const QString &configFilePath, const QString &apiBaseEnv, const QString &authorityEnv);

// The configuration of this run, read once.
const Service &service();
// Replaces the configuration of this run (tests point it at their own servers).
void setService(const Service &service);

QString configFilePath();
// "Movies/Tovrika" under the user's real home folder (TOVRIKA_CAPTURES_DIR overrides it).
QString capturesFolder();
QString postersFolder();
QUrl apiBase();
QUrl authorizeUrl();
QUrl tokenUrl();

} // namespace Config
