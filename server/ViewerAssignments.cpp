#include "server/ViewerAssignments.h"

#include "server/Clock.h"
#include "server/Database.h"
#include "server/Directory.h"
#include "server/HttpError.h"
#include "server/JsonBody.h"
#include "server/QuizBook.h"

#include <QRegularExpression>

namespace {

bool isUuid(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}$"));
    return pattern.match(text).hasMatch();
}

bool isEmailAddress(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[^@\\s]+@[^@\\s]+$"));
    return text.size() <= 254 && pattern.match(text).hasMatch();
}

} // namespace

ViewerSelection ViewerSelection::fromBody(const JsonBody &body, bool allKeysRequired)
{
    ViewerSelection selection;
    const auto texts = [&](const char *key) { return allKeysRequired || body.has(key) ? body.textArray(key) : QStringList(); };
    const auto flag = [&](const char *key, bool fallback) { return allKeysRequired ? body.boolean(key) : body.optionalBoolean(key).value_or(fallback); };
    selection.individualUserIds = texts("individualUserIds");
    selection.groupIds = texts("groupIds");
    selection.customerEmails = texts("customerEmails");
    selection.askSeenProof = flag("askSeenProof", false);
    selection.askQuiz = flag("askQuiz", false);
    selection.notifyOnStart = flag("notifyOnStart", false);
    selection.questionCount = allKeysRequired ? body.integer("questionCount") : body.optionalInteger("questionCount").value_or(5);
    return selection;
}

ViewerAssignments::ViewerAssignments(ServiceContext &context, QuizBook &quizzes)
    : m_context(context)
    , m_quizzes(quizzes)
{
}

void ViewerAssignments::validate(const ViewerSelection &selection) const
{
    for (const QString &id : selection.individualUserIds) {
        if (!isUuid(id) || !m_context.directory.person(id))
            throw HttpError::badRequest(QStringLiteral("Nobody in the directory has the id \u201C%1\u201D.").arg(id));
    }
    for (const QString &id : selection.groupIds) {
        const auto group = isUuid(id) ? m_context.directory.group(id) : std::nullopt;
        if (!group)
            throw HttpError::badRequest(QStringLiteral("There is no group with the id \u201C%1\u201D.").arg(id));
        if (group->isExclusionList)
            throw HttpError::badRequest(QStringLiteral("\u201C%1\u201D lists people to leave out; it cannot be asked to watch.").arg(group->name));
    }
    for (const QString &email : selection.customerEmails) {
        if (!isEmailAddress(email.trimmed()))
            throw HttpError::badRequest(QStringLiteral("\u201C%1\u201D is not an e-mail address.").arg(email));
    }
    // The count only matters when a quiz is asked for; without one any count is ignored.
    if (selection.askQuiz && (selection.questionCount < 1 || selection.questionCount > kMaxQuestionCount))
        throw HttpError::badRequest(QStringLiteral("\"questionCount\" must be from 1 to %1.").arg(kMaxQuestionCount));
}

qint64 ViewerAssignments::assign(const QString &slug, const QString &ownerId, const ViewerSelection &selection)
{
    validate(selection);
    Database &db = m_context.db;
    const Directory &directory = m_context.directory;
    const qint64 now = m_context.clock.nowMs();
    return db.transaction([&] {
        SqlStatement existing = db.query("SELECT id FROM videos WHERE slug = ?", slug);
        qint64 videoId = 0;
        if (existing.next()) {
            videoId = existing.integer(0);
        } else {
            db.run("INSERT INTO videos (slug, created_at) VALUES (?, ?)", slug, now);
            videoId = db.lastInsertId();
        }
        db.run("UPDATE links SET ask_seen_proof = ?, ask_quiz = ?, question_count = ?, notify_on_start = ? WHERE slug = ?", selection.askSeenProof, selection.askQuiz,
               selection.questionCount, selection.notifyOnStart, slug);

        const auto addPerson = [&](const DirectoryPerson &person, const std::optional<QString> &viaGroup) {
            db.run("INSERT OR IGNORE INTO viewer_assignments (video_id, viewer_key, user_id, email, via_group, assigned_at) VALUES (?, ?, ?, ?, ?, ?)", videoId,
                   QStringLiteral("user:") + person.id, person.id, person.email, viaGroup, now);
        };
        for (const QString &id : selection.individualUserIds)
            addPerson(*directory.person(id), std::nullopt);
        // Groups never reach people on an exclusion list, nor the owner.
        const QStringList excluded = directory.excludedIds();
        for (const QString &groupId : selection.groupIds) {
            for (const QString &memberId : directory.memberIds(groupId)) {
                if (!excluded.contains(memberId) && memberId != ownerId)
                    addPerson(*directory.person(memberId), groupId.toLower());
            }
        }
        for (const QString &address : selection.customerEmails) {
            const QString email = address.trimmed().toLower();
            if (const auto person = directory.findByLogin(email); person && person->email.compare(email, Qt::CaseInsensitive) == 0)
                addPerson(*person, std::nullopt);
            else
                db.run("INSERT OR IGNORE INTO viewer_assignments (video_id, viewer_key, email, assigned_at) VALUES (?, ?, ?, ?)", videoId,
                       QStringLiteral("email:") + email, email, now);
        }
        if (selection.askQuiz)
            m_quizzes.start(videoId);
        return videoId;
    });
}
