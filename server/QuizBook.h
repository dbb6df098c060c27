#pragma once
// The quiz of a reviewed video. Asking for one starts the "writing"; for a short while its
// status is "pending", then questions exist ("ready") until the owner sends the quiz
// ("confirmed"). Pictures cannot have a quiz ("failed"). Questions are written from what
// the service knows of the recording: title, length, owner, date and language.

#include "server/ServiceContext.h"

#include <QJsonObject>
#include <optional>

class JsonBody;

class QuizBook {
public:
    explicit QuizBook(ServiceContext &context);

    // Starts writing the quiz of `videoId` unless it has been started already.
    void start(qint64 videoId);
    // The owner of the video, or nothing for an unknown video.
    std::optional<QString> owner(qint64 videoId) const;
    // The QuizStatus reply.
    QJsonObject status(qint64 videoId);
    // Keeps the chosen and custom questions and sends the quiz, or (while pending, with
    // "autoConfirm") sends the recommended questions once written. Throws HttpError.
    QJsonObject confirm(qint64 videoId, const JsonBody &body);

private:
    enum class State { Pending, Ready, Failed, Confirmed };

    // Moves the quiz on as time passes; answers where it stands now.
    State advance(qint64 videoId);
    void writeQuestions(qint64 videoId);
    void sendQuiz(qint64 videoId, bool useRecommended, const QList<qint64> &includedIds);
    QJsonObject reply(qint64 videoId, State state);

    ServiceContext &m_context;
};
