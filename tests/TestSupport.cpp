#include "TestSupport.h"

#include "support/FileLog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace TestSupport {

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

void spin(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
}

bool run(QCoro::Task<> task, int timeoutMs)
{
    bool done = false;
    auto wrapper = [&]() -> QCoro::Task<> {
        co_await std::move(task);
        done = true;
    };
    auto running = wrapper();
    return waitUntil([&] { return done; }, timeoutMs);
}

std::optional<QString> failureOf(QCoro::Task<> task, int timeoutMs)
{
    std::optional<QString> failure;
    const bool finished = run([](QCoro::Task<> task, std::optional<QString> *failure) -> QCoro::Task<> {
        try {
            co_await std::move(task);
        } catch (const std::exception &error) {
            *failure = QString::fromUtf8(error.what());
        }
    }(std::move(task), &failure), timeoutMs);
    return finished ? failure : std::optional(QStringLiteral("timed out"));
}

PrivateHome::PrivateHome()
{
    const QString root = m_dir.path();
    const QList<std::pair<QByteArray, QString>> values = {
        {"HOME", root},
        {"XDG_CONFIG_HOME", root + QStringLiteral("/config")},
        {"XDG_STATE_HOME", root + QStringLiteral("/state")},
        {"XDG_DATA_HOME", root + QStringLiteral("/data")},
        {"TOVRIKA_CAPTURES_DIR", root + QStringLiteral("/Movies/Tovrika")},
    };
    for (const auto &[name, value] : values) {
        m_saved.append({name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt});
        qputenv(name, value.toUtf8());
    }
}

PrivateHome::~PrivateHome()
{
    for (const auto &[name, value] : m_saved) {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
}

QString PrivateHome::logPath() const
{
    return m_dir.path() + QStringLiteral("/state/Tovrika/Tovrika.log");
}

QString PrivateHome::readLog() const
{
    return QString::fromUtf8(readFile(logPath()));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(contents);
}

} // namespace TestSupport
