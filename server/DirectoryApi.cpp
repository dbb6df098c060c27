#include "server/DirectoryApi.h"

#include "server/ApiRouter.h"
#include "server/Directory.h"

#include <QJsonArray>

DirectoryApi::DirectoryApi(const Directory &directory)
    : m_directory(directory)
{
}

void DirectoryApi::registerRoutes(ApiRouter &router)
{
    router.get("/users/search", [this](const QString &, const httplib::Request &req, httplib::Response &res) {
        if (!req.has_param("q"))
            throw HttpError::badRequest(QStringLiteral("The search needs a query parameter \"q\"."));
        QJsonArray people;
        for (const DirectoryPerson &person : m_directory.search(QString::fromStdString(req.get_param_value("q")), kMaxResults))
            people.append(QJsonObject{{QStringLiteral("id"), person.id}, {QStringLiteral("displayName"), person.displayName}, {QStringLiteral("email"), person.email}});
        HttpReply::json(res, 200, people);
    });
    router.get("/groups", [this](const QString &userId, const httplib::Request &, httplib::Response &res) {
        QJsonArray groups;
        for (const DirectoryGroup &group : m_directory.groups()) {
            QJsonObject json{{QStringLiteral("id"), group.id},
                             {QStringLiteral("name"), group.name},
                             {QStringLiteral("isOwner"), group.ownerId == userId},
                             {QStringLiteral("isExclusionList"), group.isExclusionList}};
            if (group.description)
                json.insert(QStringLiteral("description"), *group.description);
            groups.append(json);
        }
        HttpReply::json(res, 200, groups);
    });
}
