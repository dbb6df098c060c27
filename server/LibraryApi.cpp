#include "server/LibraryApi.h"

#include "server/ApiRouter.h"
#include "server/Clock.h"
#include "server/Database.h"
#include "server/JsonBody.h"
#include "server/LinkStore.h"
#include "server/ViewerAssignments.h"

#include <QJsonArray>

namespace {

constexpr const char *kFolderQuery =
    "SELECT f.id, f.name, f.sort_order, (SELECT count(*) FROM links l WHERE l.folder_id = f.id AND l.blob_name IS NOT NULL) FROM folders f ";

QJsonObject readFolder(const SqlStatement &row)
{
    return QJsonObject{{QStringLiteral("id"), row.integer(0)},
                       {QStringLiteral("name"), row.text(1)},
                       {QStringLiteral("sortOrder"), row.integer(2)},
                       {QStringLiteral("itemCount"), row.integer(3)}};
}

} // namespace

LibraryApi::LibraryApi(ServiceContext &context, LinkStore &links, ViewerAssignments &viewers)
    : m_context(context)
    , m_links(links)
    , m_viewers(viewers)
{
}

void LibraryApi::registerRoutes(ApiRouter &router)
{
    router.get("/recordings/links", [this](const auto &user, const auto &, auto &res) { listLinks(user, res); });
    router.patch("/recordings/links/([^/]+)/folder", [this](const auto &user, const auto &req, auto &res) { setFolder(user, req, res); });
    router.post("/recordings/links/([^/]+)/viewers", [this](const auto &user, const auto &req, auto &res) { assignViewers(user, req, res); });
    router.get("/folders", [this](const auto &user, const auto &, auto &res) { listFolders(user, res); });
    router.post("/folders", [this](const auto &user, const auto &req, auto &res) { createFolder(user, req, res); });
}

void LibraryApi::listLinks(const QString &userId, httplib::Response &res)
{
    QJsonArray items;
    for (const LinkRecord &link : m_links.library(userId))
        items.append(m_links.libraryItemJson(link));
    HttpReply::json(res, 200, items);
}

void LibraryApi::setFolder(const QString &userId, const httplib::Request &req, httplib::Response &res)
{
    const LinkRecord link = m_links.requireOwned(HttpReply::capture(req, 1), userId);
    const std::optional<qint64> folderId = JsonBody::parse(req.body).integerOrNull("folderId");
    if (folderId && !folder(userId, *folderId))
        throw HttpError::notFound(QStringLiteral("There is no folder %1.").arg(*folderId));
    m_links.setFolder(link.slug, folderId);
    HttpReply::noContent(res);
}

void LibraryApi::assignViewers(const QString &userId, const httplib::Request &req, httplib::Response &res)
{
    const LinkRecord link = m_links.requireOwned(HttpReply::capture(req, 1), userId);
    const ViewerSelection selection = ViewerSelection::fromBody(JsonBody::parse(req.body), true);
    if (!link.isPublished())
        throw HttpError::conflict(QStringLiteral("\u201C%1\u201D has not been published yet.").arg(link.title));
    m_viewers.assign(link.slug, userId, selection);
    HttpReply::json(res, 200, m_links.shareLinkJson(*m_links.find(link.slug)));
}

void LibraryApi::listFolders(const QString &userId, httplib::Response &res)
{
    const QJsonArray folders = m_context.db.transaction([&] {
        SqlStatement rows = m_context.db.query((QByteArray(kFolderQuery) + "WHERE f.owner_id = ? ORDER BY f.sort_order, f.id").constData(), userId);
        QJsonArray list;
        while (rows.next())
            list.append(readFolder(rows));
        return list;
    });
    HttpReply::json(res, 200, folders);
}

void LibraryApi::createFolder(const QString &userId, const httplib::Request &req, httplib::Response &res)
{
    const QString name = JsonBody::parse(req.body).text("name").trimmed();
    if (name.isEmpty())
        throw HttpError::badRequest(QStringLiteral("A folder needs a name."));
    if (name.size() > kMaxFolderNameLength)
        throw HttpError::badRequest(QStringLiteral("A folder name can be at most %1 characters long.").arg(kMaxFolderNameLength));
    const qint64 id = m_context.db.transaction([&] {
        SqlStatement rows = m_context.db.query("SELECT name FROM folders WHERE owner_id = ?", userId);
        while (rows.next()) {
            if (rows.text(0).compare(name, Qt::CaseInsensitive) == 0)
                throw HttpError::conflict(QStringLiteral("You already have a folder named \u201C%1\u201D.").arg(rows.text(0)));
        }
        m_context.db.run("INSERT INTO folders (owner_id, name, sort_order, created_at) "
                         "VALUES (?, ?, (SELECT coalesce(max(sort_order), 0) + 1 FROM folders WHERE owner_id = ?1), ?)",
                         userId, name, m_context.clock.nowMs());
        return m_context.db.lastInsertId();
    });
    HttpReply::json(res, 201, *folder(userId, id));
}

std::optional<QJsonObject> LibraryApi::folder(const QString &userId, qint64 folderId) const
{
    return m_context.db.transaction([&]() -> std::optional<QJsonObject> {
        SqlStatement row = m_context.db.query((QByteArray(kFolderQuery) + "WHERE f.id = ? AND f.owner_id = ?").constData(), folderId, userId);
        return row.next() ? std::optional(readFolder(row)) : std::nullopt;
    });
}
