#pragma once
// What every part of the service shares: its options, storage, clock and public address.

#include <QByteArray>
#include <QString>

class Clock;
class Database;
class Directory;
struct ServerOptions;

struct ServiceContext {
    const ServerOptions &options;
    Database &db;
    Clock &clock;
    Directory &directory;
    // Where the service is reached, such as "http://127.0.0.1:8321"; share and upload
    // addresses are built on it.
    QString origin;
    QString dataDir;
    QByteArray signingKey;
};
