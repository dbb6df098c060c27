#include "server/GifConversions.h"

#include "server/Crypto.h"
#include "server/MediaTools.h"

#include <QFile>
#include <QFileInfo>

GifConversions::GifConversions(BlobStore &blobs)
    : m_blobs(blobs)
    , m_worker([this] { work(); })
{
}

GifConversions::~GifConversions()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_worker.join();
}

std::shared_future<GifConversions::Outcome> GifConversions::convert(const BlobRecord &source)
{
    // The same name with other bytes (a repeated upload) is another conversion.
    const QString key = source.name + QLatin1Char(':') + QString::number(source.sizeBytes.value_or(0));
    std::lock_guard lock(m_mutex);
    if (const auto found = m_results.find(key); found != m_results.end())
        return found->second;
    Job job{source, key, {}};
    std::shared_future<Outcome> result = job.promise.get_future().share();
    m_results.emplace(key, result);
    m_queue.push_back(std::move(job));
    m_wake.notify_one();
    return result;
}

void GifConversions::work()
{
    for (;;) {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_stopping) {
            for (Job &job : m_queue)
                job.promise.set_value({std::nullopt, QStringLiteral("The service is stopping.")});
            return;
        }
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();

        Outcome outcome;
        try {
            outcome = run(job.source);
        } catch (const std::exception &error) {
            outcome.problem = QStringLiteral("The GIF conversion failed: %1").arg(QString::fromUtf8(error.what()));
        }
        lock.lock();
        // A failed conversion may be asked for again.
        if (!outcome.gifBlobName)
            m_results.erase(job.key);
        lock.unlock();
        job.promise.set_value(std::move(outcome));
    }
}

GifConversions::Outcome GifConversions::run(const BlobRecord &source)
{
    const QString made = m_blobs.incomingFolder() + QStringLiteral("/gif-") + Crypto::randomToken(9) + QStringLiteral(".gif");
    const QString problem = MediaTools::makeGif(m_blobs.path(source.name), made);
    if (!problem.isEmpty())
        return {std::nullopt, QStringLiteral("The video could not be converted to a GIF: %1").arg(problem)};
    const QString name = m_blobs.create(source.ownerId, QStringLiteral("image/gif"), source.name);
    if (!QFile::rename(made, m_blobs.path(name))) {
        QFile::remove(made);
        return {std::nullopt, QStringLiteral("The converted GIF could not be stored.")};
    }
    m_blobs.markUploaded(name, QFileInfo(m_blobs.path(name)).size());
    return {name, QString()};
}
