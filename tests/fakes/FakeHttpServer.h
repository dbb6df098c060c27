#pragma once
// A scripted HTTP server on 127.0.0.1 for client tests: it answers requests with the replies
// queued in order (500 when none is left) and records what it was asked.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QTcpServer>
#include <QUrl>

class FakeHttpServer final : public QObject {
    Q_OBJECT
public:
    struct Request {
        QByteArray method;
        QByteArray path; // with the query
        QMap<QByteArray, QByteArray> headers; // names lower-cased
        QByteArray body;
    };
    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
        bool dropConnection = false; // close without answering once the headers arrived
    };

    FakeHttpServer();
    QUrl url(const QString &path = {}) const;
    void enqueue(int status, const QByteArray &body) { replies.append({status, body}); }
    void enqueueDrop() { replies.append({0, {}, {}, true}); }

    QList<Reply> replies;
    QList<Request> requests;

private:
    void serve(QTcpSocket *socket);
    QTcpServer m_server;
};
