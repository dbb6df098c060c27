#pragma once
// PUT /blobs/{name}?expires=...&signature=...: the blob store's one way in. A signed, unexpired
// address and "x-ms-blob-type: BlockBlob" are required; the body is streamed to disk.

#include <QString>
#include <httplib.h>

class BlobStore;
class FaultInjector;

class BlobRoutes {
public:
    static constexpr qint64 kMaxBlobBytes = 4LL * 1024 * 1024 * 1024;

    // `faults` is null unless test hooks are enabled.
    BlobRoutes(BlobStore &blobs, FaultInjector *faults);
    void registerRoutes(httplib::Server &server);
    // Answers a client that asked "Expect: 100-continue" before sending a body it would lose.
    int expectContinue(const httplib::Request &req, httplib::Response &res);

private:
    void put(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader *reader);
    // Throws HttpError unless the request may write the blob `name`.
    void authorise(const QString &name, const httplib::Request &req) const;

    BlobStore &m_blobs;
    FaultInjector *m_faults;
};
