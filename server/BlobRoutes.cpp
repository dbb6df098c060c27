#include "server/BlobRoutes.h"

#include "server/BlobStore.h"
#include "server/Crypto.h"
#include "server/FaultInjector.h"
#include "server/HttpReply.h"

#include <QFile>

namespace {

const char *kBlobPattern = R"(/blobs/([^/]+))";

QString param(const httplib::Request &req, const char *name)
{
    return QString::fromStdString(req.get_param_value(name));
}

// Reads and discards the rest of a refused body, so the client receives the refusal
// instead of a connection reset.
void drain(const httplib::ContentReader *reader)
{
    if (reader)
        (*reader)([](const char *, size_t) { return true; });
}

} // namespace

BlobRoutes::BlobRoutes(BlobStore &blobs, FaultInjector *faults)
    : m_blobs(blobs)
    , m_faults(faults)
{
}

void BlobRoutes::registerRoutes(httplib::Server &server)
{
    server.Put(kBlobPattern, [this](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader) { put(req, res, &reader); });
    // A body-less PUT (an empty blob) arrives without a reader.
    server.Put(kBlobPattern, [this](const httplib::Request &req, httplib::Response &res) { put(req, res, nullptr); });
    const auto refuse = HttpReply::guarded([](const httplib::Request &, httplib::Response &) {
        throw HttpError(405, QStringLiteral("Blobs are written here with PUT only."), QStringLiteral("method_not_allowed"));
    });
    server.Get(kBlobPattern, refuse);
    server.Post(kBlobPattern, refuse);
    server.Patch(kBlobPattern, refuse);
    server.Delete(kBlobPattern, refuse);
}

int BlobRoutes::expectContinue(const httplib::Request &req, httplib::Response &res)
{
    if (req.method != "PUT" || req.path.rfind("/blobs/", 0) != 0)
        return 100;
    // Asked before routing, so the blob's name is taken from the path here.
    const QString name = QString::fromStdString(req.path.substr(std::string("/blobs/").size()));
    try {
        authorise(name, req);
        return 100;
    } catch (const HttpError &error) {
        HttpReply::error(res, error);
        // This early reply is written without the usual framing; the body that was held back
        // never comes, so the connection ends with it.
        res.set_header("Content-Length", std::to_string(res.body.size()));
        res.set_header("Connection", "close");
        return error.status();
    }
}

void BlobRoutes::authorise(const QString &name, const httplib::Request &req) const
{
    if (!BlobStore::isValidName(name))
        throw HttpError::notFound(QStringLiteral("This is not the address of a blob."));
    switch (m_blobs.checkSignature(name, param(req, "expires"), param(req, "signature"))) {
    case BlobStore::Signature::Invalid:
        throw HttpError(403, QStringLiteral("The upload address is not valid: its signature does not match."), QStringLiteral("bad_signature"));
    case BlobStore::Signature::Expired:
        throw HttpError(403, QStringLiteral("The upload address has expired. Ask for a new one."), QStringLiteral("expired_address"));
    case BlobStore::Signature::Valid:
        break;
    }
    if (!m_blobs.find(name))
        throw HttpError::notFound(QStringLiteral("The blob \u201C%1\u201D does not exist.").arg(name));
    if (req.get_header_value("x-ms-blob-type") != "BlockBlob")
        throw HttpError(400, QStringLiteral("The header \"x-ms-blob-type: BlockBlob\" is required."), QStringLiteral("missing_header"));
    if (req.has_header("Content-Length") && req.get_header_value<uint64_t>("Content-Length") > static_cast<uint64_t>(kMaxBlobBytes))
        throw HttpError(413, QStringLiteral("A blob can hold at most 4 GB."), QStringLiteral("request_body_too_large"));
}

void BlobRoutes::put(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader *reader)
{
    std::optional<qint64> dropAfterBytes;
    if (m_faults) {
        if (const auto fault = m_faults->take(req)) {
            if (fault->dropAfterBytes && *fault->dropAfterBytes > 0 && reader) {
                dropAfterBytes = fault->dropAfterBytes;
            } else if (FaultInjector::apply(*fault, req, res) != FaultInjector::Outcome::Continue) {
                if (res.status > 0)
                    drain(reader);
                return;
            }
        }
    }
    const QString name = HttpReply::capture(req, 1);
    try {
        authorise(name, req);
    } catch (const HttpError &error) {
        if (error.status() != 413)
            drain(reader);
        else
            res.set_header("Connection", "close");
        HttpReply::error(res, error);
        return;
    }

    // Written beside the blob and renamed when complete, so a broken upload never leaves a
    // half file under the blob's name.
    QFile incoming(m_blobs.incomingFolder() + QLatin1Char('/') + name + QLatin1Char('.') + Crypto::randomToken(6));
    if (!incoming.open(QIODevice::WriteOnly)) {
        drain(reader);
        HttpReply::error(res, HttpError(500, QStringLiteral("The blob store cannot write: %1").arg(incoming.errorString()), QStringLiteral("internal_error")));
        return;
    }
    qint64 received = 0;
    bool writeFailed = false;
    bool tooLarge = false;
    bool dropped = false;
    const bool complete = !reader || (*reader)([&](const char *data, size_t length) {
        if (incoming.write(data, static_cast<qint64>(length)) != static_cast<qint64>(length)) {
            writeFailed = true;
            return false;
        }
        received += static_cast<qint64>(length);
        if (received > kMaxBlobBytes) {
            tooLarge = true;
            return false;
        }
        if (dropAfterBytes && received >= *dropAfterBytes) {
            FaultInjector::dropConnection(req);
            dropped = true;
            return false;
        }
        return true;
    });
    incoming.close();
    if (!complete || dropped) {
        incoming.remove();
        if (writeFailed)
            HttpReply::error(res, HttpError(500, QStringLiteral("The blob store could not write the body: %1").arg(incoming.errorString()), QStringLiteral("internal_error")));
        else if (tooLarge)
            HttpReply::error(res, HttpError(413, QStringLiteral("A blob can hold at most 4 GB."), QStringLiteral("request_body_too_large")));
        else
            HttpReply::error(res, HttpError(400, QStringLiteral("The upload ended before its body was complete."), QStringLiteral("incomplete_body")));
        res.set_header("Connection", "close");
        return;
    }
    QFile::remove(m_blobs.path(name));
    if (!incoming.rename(m_blobs.path(name))) {
        incoming.remove();
        HttpReply::error(res, HttpError(500, QStringLiteral("The blob store could not keep the upload: %1").arg(incoming.errorString()), QStringLiteral("internal_error")));
        return;
    }
    m_blobs.markUploaded(name, received);
    res.status = 201;
    res.set_header("ETag", ("\"" + Crypto::randomToken(12) + "\"").toStdString());
}
