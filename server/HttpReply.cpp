#include "server/HttpReply.h"

#include <QJsonDocument>
#include <cstdio>

namespace HttpReply {

void json(httplib::Response &res, int status, const QJsonObject &body)
{
    res.status = status;
    res.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

void json(httplib::Response &res, int status, const QJsonArray &body)
{
    res.status = status;
    res.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

void html(httplib::Response &res, int status, const QString &page)
{
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(page.toStdString(), "text/html; charset=utf-8");
}

void noContent(httplib::Response &res)
{
    res.status = 204;
    res.body.clear();
}

void error(httplib::Response &res, const HttpError &error)
{
    QJsonObject body{{QStringLiteral("title"), error.title()}, {QStringLiteral("status"), error.status()}};
    if (!error.code().isEmpty())
        body.insert(QStringLiteral("code"), error.code());
    json(res, error.status(), body);
}

Handler guarded(Handler handler)
{
    return [handler = std::move(handler)](const httplib::Request &req, httplib::Response &res) {
        try {
            handler(req, res);
        } catch (const HttpError &failure) {
            error(res, failure);
        } catch (const std::exception &failure) {
            std::fprintf(stderr, "tovrika-server: %s %s failed: %s\n", req.method.c_str(), req.path.c_str(), failure.what());
            error(res, HttpError(500, QStringLiteral("The server could not complete the request: %1").arg(QString::fromUtf8(failure.what())),
                                 QStringLiteral("internal_error")));
        }
    };
}

QString capture(const httplib::Request &req, int index)
{
    return QString::fromStdString(req.matches[index].str());
}

} // namespace HttpReply
