#pragma once
// The publishing calls: upload targets, reserved links, GIF conversion and share links.
//   POST /api/recordings/upload-url   {"contentType"}                    -> UploadTicket
//   POST /api/recordings/reserve-link {"contentType", "titleIsDefault", "title"?} -> ReservedLink
//   POST /api/recordings/to-gif       {"blobName"}                       -> GifBlob
//   POST /api/recordings/share-link   {"blobName", "titleIsDefault", ...} -> ShareLink

#include "server/ServiceContext.h"

#include <httplib.h>

class ApiRouter;
class BlobStore;
class GifConversions;
class LinkStore;
class ViewerAssignments;

class PublishingApi {
public:
    PublishingApi(ServiceContext &context, BlobStore &blobs, LinkStore &links, ViewerAssignments &viewers, GifConversions &gifs);
    void registerRoutes(ApiRouter &router);

private:
    void uploadUrl(const QString &userId, const httplib::Request &req, httplib::Response &res);
    void reserveLink(const QString &userId, const httplib::Request &req, httplib::Response &res);
    void toGif(const QString &userId, const httplib::Request &req, httplib::Response &res);
    void shareLink(const QString &userId, const httplib::Request &req, httplib::Response &res);

    ServiceContext &m_context;
    BlobStore &m_blobs;
    LinkStore &m_links;
    ViewerAssignments &m_viewers;
    GifConversions &m_gifs;
};
