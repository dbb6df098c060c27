#include "server/ServerOptions.h"

#include "server/ClientVersion.h"

#include <QCommandLineParser>

ServerOptions ServerOptions::fromArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Tovrika reference web service and sign-in authority (listens on 127.0.0.1 only)."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("TCP port on 127.0.0.1 (default 8321; 0 picks a free one)."), QStringLiteral("N"), QStringLiteral("8321"));
    const QCommandLineOption data(QStringLiteral("data"), QStringLiteral("Folder for the database and the uploaded files (created when missing)."), QStringLiteral("DIR"));
    const QCommandLineOption hooks(QStringLiteral("test-hooks"), QStringLiteral("Enable the fault-injection and inspection endpoints under /_test/."));
    const QCommandLineOption autoApprove(QStringLiteral("auto-approve"), QStringLiteral("Approve every sign-in at once as this directory user (user name, e-mail or id)."), QStringLiteral("USER"));
    const QCommandLineOption minVersion(QStringLiteral("min-client-version"), QStringLiteral("Refuse API calls from clients older than this version."), QStringLiteral("X.Y.Z"));
    const QCommandLineOption quizDelay(QStringLiteral("quiz-delay-seconds"), QStringLiteral("Seconds before a requested quiz is ready (default 5)."), QStringLiteral("N"), QStringLiteral("5"));
    parser.addOptions({port, data, hooks, autoApprove, minVersion, quizDelay});
    if (!parser.parse(arguments))
        throw std::invalid_argument(parser.errorText().toStdString());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty())
        throw std::invalid_argument("unexpected argument: " + parser.positionalArguments().first().toStdString());

    ServerOptions options;
    bool ok = false;
    options.port = parser.value(port).toInt(&ok);
    if (!ok || options.port < 0 || options.port > 65535)
        throw std::invalid_argument("--port needs a number from 0 to 65535, not \"" + parser.value(port).toStdString() + "\"");
    options.dataDir = parser.value(data);
    if (options.dataDir.isEmpty())
        throw std::invalid_argument("--data DIR is required: the folder that holds the service's database and files");
    options.testHooks = parser.isSet(hooks);
    options.autoApproveUser = parser.value(autoApprove);
    if (parser.isSet(minVersion)) {
        options.minClientVersion = ClientVersion::parse(parser.value(minVersion));
        if (!options.minClientVersion)
            throw std::invalid_argument("--min-client-version needs a dotted version such as 1.4.0, not \"" + parser.value(minVersion).toStdString() + "\"");
    }
    options.quizDelaySeconds = parser.value(quizDelay).toInt(&ok);
    if (!ok || options.quizDelaySeconds < 0)
        throw std::invalid_argument("--quiz-delay-seconds needs a whole number of seconds, not \"" + parser.value(quizDelay).toStdString() + "\"");
    return options;
}
