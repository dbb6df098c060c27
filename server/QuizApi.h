#pragma once
// The quiz of a reviewed video, for its owner.
//   GET  /api/videos/{videoId}/quiz -> QuizStatus
//   POST /api/videos/{videoId}/quiz {"includedIds", "useRecommended", "autoConfirm",
//                                    "customQuestions"?} -> QuizStatus

#include <QtGlobal>
#include <httplib.h>

class ApiRouter;
class QuizBook;

class QuizApi {
public:
    explicit QuizApi(QuizBook &quizzes);
    void registerRoutes(ApiRouter &router);

private:
    // The video of the address, if the caller owns it; throws HttpError 404 otherwise.
    qint64 ownedVideo(const QString &userId, const httplib::Request &req) const;

    QuizBook &m_quizzes;
};
