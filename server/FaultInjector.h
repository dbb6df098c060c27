#pragma once
// Faults that tests ask for through the test hooks: the next N requests (of one method, under
// one path prefix) answer a chosen status and body, are delayed, or lose their connection,
// optionally after part of an upload's body has arrived.

#include <QByteArray>
#include <QJsonArray>
#include <QString>
#include <httplib.h>
#include <mutex>
#include <optional>
#include <vector>

struct Fault {
    int id = 0;
    QString pathPrefix = QStringLiteral("/");
    QString method; // empty: any method
    int remaining = 1;
    int delayMs = 0;
    std::optional<int> status;
    QByteArray body;
    QString contentType;
    // Set: the connection is dropped, after this many bytes of the request body.
    std::optional<qint64> dropAfterBytes;
};

class FaultInjector {
public:
    enum class Outcome { Continue, Answered, Dropped };

    int add(Fault fault);
    void clear();
    QJsonArray describe() const;
    // Uses up one request of the first fault that matches, if any.
    std::optional<Fault> take(const httplib::Request &req);

    // Waits out the fault's delay, then answers, drops the connection or lets the request
    // go on. A drop "after N bytes" is left to handlers that read the body themselves.
    static Outcome apply(const Fault &fault, const httplib::Request &req, httplib::Response &res);
    // Closes the request's TCP connection under the HTTP library, as a network failure would.
    static void dropConnection(const httplib::Request &req);

private:
    mutable std::mutex m_mutex;
    std::vector<Fault> m_faults;
    int m_nextId = 1;
};
