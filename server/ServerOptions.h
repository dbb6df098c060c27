#pragma once
// The command line of tovrika-server.

#include <QString>
#include <QStringList>
#include <QVersionNumber>
#include <optional>
#include <stdexcept>

struct ServerOptions {
    // 0 picks a free port; the chosen one is printed on standard output.
    int port = 8321;
    QString dataDir;
    bool testHooks = false;
    // Skips the sign-in page: every authorisation request is approved for this directory user.
    QString autoApproveUser;
    // Clients reporting an older version in their User-Agent are told to update.
    std::optional<QVersionNumber> minClientVersion;
    // How long quiz questions take to be "written" after a quiz is asked for.
    int quizDelaySeconds = 5;

    // Throws std::invalid_argument with a message for the user; --help prints and exits.
    static ServerOptions fromArguments(const QStringList &arguments);
};
