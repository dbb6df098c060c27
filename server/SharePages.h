#pragma once
// What a share link opens in a browser:
//   GET  /v/{slug}            the page: plays the video or shows the picture; records the open
//   GET  /v/{slug}/media      the published file, with byte ranges for seeking
//   GET  /v/{slug}/poster     the poster picture of a video
//   GET  /v/{slug}/thumb.jpg  a small thumbnail, made on first request and kept
//   POST /v/{slug}/events     {"event": "finished"} from the page's player
// A viewer signed in through the authority in this browser is recognised by the session
// cookie, so their assignment records when they opened and finished the video.

#include "server/ServiceContext.h"

#include <httplib.h>
#include <mutex>

class BlobStore;
class LinkStore;
class TokenService;
struct LinkRecord;

class SharePages {
public:
    SharePages(ServiceContext &context, LinkStore &links, BlobStore &blobs, const TokenService &tokens);
    void registerRoutes(httplib::Server &server);

private:
    void page(const httplib::Request &req, httplib::Response &res);
    void media(const httplib::Request &req, httplib::Response &res);
    void poster(const httplib::Request &req, httplib::Response &res);
    void thumbnail(const httplib::Request &req, httplib::Response &res);
    void event(const httplib::Request &req, httplib::Response &res);

    // The published link of the address; throws HttpError 404 otherwise.
    LinkRecord publishedLink(const httplib::Request &req) const;
    void record(const LinkRecord &link, const QString &event, const httplib::Request &req);
    static void streamFile(const QString &path, const QString &contentType, httplib::Response &res);

    ServiceContext &m_context;
    LinkStore &m_links;
    BlobStore &m_blobs;
    const TokenService &m_tokens;
    std::mutex m_thumbnailMutex;
};
