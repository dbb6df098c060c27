#pragma once
// Converts uploaded videos to GIFs on a background thread, one at a time, so that a request
// only waits for its result and several requests for the same video share one conversion.

#include "server/BlobStore.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <thread>

class GifConversions {
public:
    struct Outcome {
        std::optional<QString> gifBlobName;
        QString problem;
    };

    explicit GifConversions(BlobStore &blobs);
    ~GifConversions();
    GifConversions(const GifConversions &) = delete;
    GifConversions &operator=(const GifConversions &) = delete;

    // The conversion of `source` (an uploaded video): started now, or the one already
    // running or finished for the same bytes.
    std::shared_future<Outcome> convert(const BlobRecord &source);

private:
    struct Job {
        BlobRecord source;
        QString key;
        std::promise<Outcome> promise;
    };

    void work();
    Outcome run(const BlobRecord &source);

    BlobStore &m_blobs;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    std::map<QString, std::shared_future<Outcome>> m_results;
    bool m_stopping = false;
    std::thread m_worker;
};
