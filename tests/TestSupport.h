#pragma once
// Helpers shared by the tests: bounded event-loop waits, coroutine runners and a private set
// of per-user folders for each test.

#include <QString>
#include <ostream>
#include <QTemporaryDir>
#include <functional>
#include <optional>
#include <qcorotask.h>

namespace TestSupport {

// Runs the event loop until `condition` holds or `timeoutMs` passes; answers the condition.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 5000);
// Runs the event loop for `ms` milliseconds.
void spin(int ms);

// Runs a coroutine to its end inside the event loop; a hang fails instead of blocking.
template <typename T>
std::optional<T> run(QCoro::Task<T> task, int timeoutMs = 10000)
{
    std::optional<T> result;
    bool done = false;
    auto wrapper = [&]() -> QCoro::Task<> {
        result = co_await std::move(task);
        done = true;
    };
    auto running = wrapper();
    waitUntil([&] { return done; }, timeoutMs);
    return result;
}
bool run(QCoro::Task<> task, int timeoutMs = 10000);

// Runs a coroutine to its end; answers the text of what it threw, or nothing when it
// succeeded (its value then lands in `result` when given). A hang counts as a failure.
template <typename T>
std::optional<QString> failureOf(QCoro::Task<T> task, T *result = nullptr, int timeoutMs = 20000)
{
    std::optional<QString> failure;
    const bool finished = run([](QCoro::Task<T> task, T *result, std::optional<QString> *failure) -> QCoro::Task<> {
        try {
            T value = co_await std::move(task);
            if (result)
                *result = value;
        } catch (const std::exception &error) {
            *failure = QString::fromUtf8(error.what());
        }
    }(std::move(task), result, &failure), timeoutMs);
    return finished ? failure : std::optional(QStringLiteral("timed out"));
}
std::optional<QString> failureOf(QCoro::Task<> task, int timeoutMs = 20000);

// Points HOME, the XDG folders, the captures folder and the log at a fresh temporary folder
// for as long as it lives, and puts the old values back afterwards.
class PrivateHome {
public:
    PrivateHome();
    ~PrivateHome();
    QString path() const { return m_dir.path(); }
    QString logPath() const;
    QString readLog() const;

private:
    QTemporaryDir m_dir;
    QList<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

// The contents of a file, or an empty array.
QByteArray readFile(const QString &path);
void writeFile(const QString &path, const QByteArray &contents);

} // namespace TestSupport

// Readable QString values in assertion messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
