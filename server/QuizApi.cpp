#include "server/QuizApi.h"

#include "server/ApiRouter.h"
#include "server/JsonBody.h"
#include "server/QuizBook.h"

QuizApi::QuizApi(QuizBook &quizzes)
    : m_quizzes(quizzes)
{
}

void QuizApi::registerRoutes(ApiRouter &router)
{
    router.get(R"(/videos/(\d+)/quiz)", [this](const QString &userId, const httplib::Request &req, httplib::Response &res) {
        HttpReply::json(res, 200, m_quizzes.status(ownedVideo(userId, req)));
    });
    router.post(R"(/videos/(\d+)/quiz)", [this](const QString &userId, const httplib::Request &req, httplib::Response &res) {
        const qint64 videoId = ownedVideo(userId, req);
        HttpReply::json(res, 200, m_quizzes.confirm(videoId, JsonBody::parse(req.body)));
    });
}

qint64 QuizApi::ownedVideo(const QString &userId, const httplib::Request &req) const
{
    bool ok = false;
    const qint64 videoId = HttpReply::capture(req, 1).toLongLong(&ok);
    if (!ok || m_quizzes.owner(videoId) != userId)
        throw HttpError::notFound(QStringLiteral("There is no video %1.").arg(HttpReply::capture(req, 1)));
    return videoId;
}
