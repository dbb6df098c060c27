#include "support/FileLog.h"

#include "support/XdgPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <atomic>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {
std::atomic<std::shared_ptr<const FileLog::Observer>> g_onWrite;

int openForAppend(const QByteArray &path)
{
    return ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}
} // namespace

namespace FileLog {

QString path()
{
    return XdgPaths::stateHome() + QStringLiteral("/Tovrika/Tovrika.log");
}

void write(const QString &message)
{
    const QByteArray line = QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toUtf8() + ' '
                            + message.toUtf8() + '\n';
    const QString filePath = path();
    const QByteArray encodedPath = QFile::encodeName(filePath);

    // O_APPEND makes each line one append, so writers on several threads don't interleave.
    int fd = openForAppend(encodedPath);
    if (fd < 0 && errno == ENOENT) {
        QDir().mkpath(QFileInfo(filePath).absolutePath());
        fd = openForAppend(encodedPath);
    }
    if (fd >= 0) {
        qsizetype written = 0;
        while (written < line.size()) {
            const ssize_t n = ::write(fd, line.constData() + written, size_t(line.size() - written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            written += n;
        }
        ::close(fd);
    }

    if (const auto observer = g_onWrite.load(); observer && *observer)
        (*observer)(message);
}

QString tail(qint64 maxBytes)
{
    QFile file(path());
    if (maxBytes <= 0 || !file.open(QIODevice::ReadOnly))
        return {};
    const qint64 size = file.size();
    if (size > maxBytes)
        file.seek(size - maxBytes);
    return QString::fromUtf8(file.read(std::min(size, maxBytes)));
}

void setOnWrite(Observer observer)
{
    g_onWrite.store(observer ? std::make_shared<const Observer>(std::move(observer)) : nullptr);
}

} // namespace FileLog
