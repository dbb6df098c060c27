#include "app/SingleInstance.h"

#include "support/FileLog.h"
#include "support/XdgPaths.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>

namespace {
constexpr qsizetype kMaxMessageBytes = 64 * 1024;
}

SingleInstance::SingleInstance(QString folder, QObject *parent)
    : QObject(parent)
    , m_folder(std::move(folder))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultFolder()
{
    return XdgPaths::runtimeDir() + QStringLiteral("/tovrika");
}

QString SingleInstance::socketPath() const
{
    return m_folder + QStringLiteral("/instance.sock");
}

bool SingleInstance::tryLock()
{
    QDir().mkpath(m_folder);
    QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_lock = std::make_unique<QLockFile>(m_folder + QStringLiteral("/instance.lock"));
    m_lock->setStaleLockTime(0); // only a dead owner makes the lock stale, never its age
    if (m_lock->tryLock(0))
        return true;
    m_lock.reset();
    return false;
}

bool SingleInstance::listen()
{
    m_server = std::make_unique<QLocalServer>();
    connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessages(socket); });
        }
    });
    QLocalServer::removeServer(socketPath()); // left behind by a crashed instance
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (m_server->listen(socketPath()))
        return true;
    FileLog::write(QStringLiteral("single instance: couldn't listen on %1: %2").arg(socketPath(), m_server->errorString()));
    return false;
}

bool SingleInstance::handOver(const QList<QUrl> &urls, int timeoutMs) const
{
    QJsonObject message;
    if (urls.isEmpty()) {
        message.insert(QStringLiteral("reopen"), true);
    } else {
        QJsonArray list;
        for (const QUrl &url : urls)
            list.append(url.toString(QUrl::FullyEncoded));
        message.insert(QStringLiteral("urls"), list);
    }

    // The running instance may still be starting: retry the connection for a while.
    QLocalSocket socket;
    for (int attempt = 0; attempt < 10; ++attempt) {
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(timeoutMs / 10))
            break;
        socket.abort();
    }
    if (socket.state() != QLocalSocket::ConnectedState)
        return false;
    socket.write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return true;
}

void SingleInstance::readMessages(QLocalSocket *socket)
{
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine(kMaxMessageBytes);
        const QJsonObject message = QJsonDocument::fromJson(line).object();
        if (message.value(QStringLiteral("reopen")).toBool()) {
            emit reopenRequested();
            continue;
        }
        QList<QUrl> urls;
        for (const QJsonValue &value : message.value(QStringLiteral("urls")).toArray()) {
            const QUrl url(value.toString(), QUrl::StrictMode);
            if (url.isValid())
                urls.append(url);
        }
        if (!urls.isEmpty())
            emit urlsReceived(urls);
    }
    // A client that sends an endless line is dropped rather than buffered.
    if (socket->bytesAvailable() > kMaxMessageBytes)
        socket->abort();
}
