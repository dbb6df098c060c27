#pragma once
// The library calls: the user's links, their folders, and asking viewers to watch a link.
//   GET   /api/recordings/links                 -> [LibraryItem]
//   PATCH /api/recordings/links/{slug}/folder   {"folderId": integer or null} -> 204
//   POST  /api/recordings/links/{slug}/viewers  {seven viewer keys}          -> ShareLink
//   GET   /api/folders                          -> [VideoFolder]
//   POST  /api/folders                          {"name"}                      -> VideoFolder

#include "server/ServiceContext.h"

#include <QJsonObject>
#include <httplib.h>

class ApiRouter;
class LinkStore;
class ViewerAssignments;

class LibraryApi {
public:
    static constexpr int kMaxFolderNameLength = 80;

    LibraryApi(ServiceContext &context, LinkStore &links, ViewerAssignments &viewers);
    void registerRoutes(ApiRouter &router);

private:
    void listLinks(const QString &userId, httplib::Response &res);
    void setFolder(const QString &userId, const httplib::Request &req, httplib::Response &res);
    void assignViewers(const QString &userId, const httplib::Request &req, httplib::Response &res);
    void listFolders(const QString &userId, httplib::Response &res);
    void createFolder(const QString &userId, const httplib::Request &req, httplib::Response &res);
    std::optional<QJsonObject> folder(const QString &userId, qint64 folderId) const;

    ServiceContext &m_context;
    LinkStore &m_links;
    ViewerAssignments &m_viewers;
};
