#pragma once
// Asking people to watch a link: the viewer selection a request carries, its checks, and the
// assignments it creates. The first assignment gives the link its video record (videoId),
// which viewer tracking and the quiz hang on.

#include "server/ServiceContext.h"

#include <QStringList>

class JsonBody;
class QuizBook;

struct ViewerSelection {
    QStringList individualUserIds;
    QStringList groupIds;
    QStringList customerEmails;
    bool askSeenProof = false;
    bool askQuiz = false;
    qint64 questionCount = 5;
    bool notifyOnStart = false;

    bool hasViewers() const { return !individualUserIds.isEmpty() || !groupIds.isEmpty() || !customerEmails.isEmpty(); }
    // With `allKeysRequired`, every one of the seven keys must be present; otherwise missing
    // ones take their defaults.
    static ViewerSelection fromBody(const JsonBody &body, bool allKeysRequired);
};

class ViewerAssignments {
public:
    static constexpr qint64 kMaxQuestionCount = 20;

    ViewerAssignments(ServiceContext &context, QuizBook &quizzes);

    // Throws HttpError 400 naming the first unknown person or group or malformed address.
    void validate(const ViewerSelection &selection) const;
    // Records the selection's choices on the link and assigns its viewers; answers the videoId.
    qint64 assign(const QString &slug, const QString &ownerId, const ViewerSelection &selection);

private:
    ServiceContext &m_context;
    QuizBook &m_quizzes;
};
