#include "server/FaultInjector.h"

#include <QDir>
#include <QJsonObject>
#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

int FaultInjector::add(Fault fault)
{
    std::lock_guard lock(m_mutex);
    fault.id = m_nextId++;
    m_faults.push_back(fault);
    return fault.id;
}

void FaultInjector::clear()
{
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

QJsonArray FaultInjector::describe() const
{
    std::lock_guard lock(m_mutex);
    QJsonArray list;
    for (const Fault &fault : m_faults) {
        QJsonObject item{{QStringLiteral("id"), fault.id},
                         {QStringLiteral("pathPrefix"), fault.pathPrefix},
                         {QStringLiteral("method"), fault.method},
                         {QStringLiteral("remaining"), fault.remaining},
                         {QStringLiteral("delayMs"), fault.delayMs}};
        if (fault.status)
            item.insert(QStringLiteral("status"), *fault.status);
        if (fault.dropAfterBytes)
            item.insert(QStringLiteral("dropAfterBytes"), *fault.dropAfterBytes);
        list.append(item);
    }
    return list;
}

std::optional<Fault> FaultInjector::take(const httplib::Request &req)
{
    const QString path = QString::fromStdString(req.path);
    const QString method = QString::fromStdString(req.method);
    std::lock_guard lock(m_mutex);
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if (!path.startsWith(it->pathPrefix) || (!it->method.isEmpty() && it->method.compare(method, Qt::CaseInsensitive) != 0))
            continue;
        Fault fault = *it;
        if (--it->remaining <= 0)
            m_faults.erase(it);
        return fault;
    }
    return std::nullopt;
}

FaultInjector::Outcome FaultInjector::apply(const Fault &fault, const httplib::Request &req, httplib::Response &res)
{
    if (fault.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(fault.delayMs));
    if (fault.dropAfterBytes) {
        dropConnection(req);
        return Outcome::Dropped;
    }
    if (!fault.status)
        return Outcome::Continue;
    res.status = *fault.status;
    // Marks the reply as chosen by a test, so the generic error body is not added to it.
    res.set_header("X-Tovrika-Fault", std::to_string(fault.id));
    if (!fault.body.isEmpty())
        res.set_content(fault.body.toStdString(), fault.contentType.isEmpty() ? "application/json" : fault.contentType.toStdString());
    return Outcome::Answered;
}

void FaultInjector::dropConnection(const httplib::Request &req)
{
    // The library does not hand out the socket, so find it by its two loopback ports.
    const QStringList descriptors = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : descriptors) {
        const int fd = name.toInt();
        sockaddr_in peer{};
        sockaddr_in local{};
        socklen_t peerSize = sizeof(peer);
        socklen_t localSize = sizeof(local);
        if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerSize) != 0 || peer.sin_family != AF_INET)
            continue;
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localSize) != 0)
            continue;
        if (ntohs(peer.sin_port) == req.remote_port && ntohs(local.sin_port) == req.local_port) {
            // Shutting down (not closing) leaves the descriptor to the library, which then
            // fails its next read or write and closes it itself.
            shutdown(fd, SHUT_RDWR);
            return;
        }
    }
}
