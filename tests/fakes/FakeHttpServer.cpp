#include "fakes/FakeHttpServer.h"

#include <QTcpSocket>

FakeHttpServer::FakeHttpServer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QUrl FakeHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

void FakeHttpServer::serve(QTcpSocket *socket)
{
    QByteArray buffered = socket->property("buffered").toByteArray() + socket->readAll();
    const qsizetype headerEnd = buffered.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        socket->setProperty("buffered", buffered);
        return;
    }
    Request request;
    const QList<QByteArray> lines = buffered.left(headerEnd).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.path = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    if (!replies.isEmpty() && replies.first().dropConnection) {
        replies.removeFirst();
        request.body = buffered.mid(headerEnd + 4);
        requests.append(request);
        socket->abort();
        return;
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (buffered.size() < headerEnd + 4 + length) {
        socket->setProperty("buffered", buffered);
        return;
    }
    request.body = buffered.mid(headerEnd + 4, length);
    socket->setProperty("buffered", QByteArray());
    requests.append(request);

    const Reply reply = replies.isEmpty() ? Reply{500, "{}"} : replies.takeFirst();
    socket->write("HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\nContent-Type: " + reply.contentType
                  + "\r\nContent-Length: " + QByteArray::number(reply.body.size()) + "\r\nConnection: close\r\n\r\n"
                  + reply.body);
    socket->disconnectFromHost();
}
