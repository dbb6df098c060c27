#include "server/QuizBook.h"

#include "server/Clock.h"
#include "server/Database.h"
#include "server/Directory.h"
#include "server/HttpError.h"
#include "server/JsonBody.h"
#include "server/ServerOptions.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

namespace {

constexpr qint64 kMaxQuestionCount = 20;

struct Question {
    QString text;
    QStringList options;
    int correctIndex = 0;
};

// Moves the right answer around so it is not always the first choice.
Question rotated(Question question, qint64 seed)
{
    const int shift = static_cast<int>(seed % question.options.size());
    for (int i = 0; i < shift; ++i)
        question.options.append(question.options.takeFirst());
    question.correctIndex = static_cast<int>((question.correctIndex - shift + question.options.size()) % question.options.size());
    return question;
}

QString durationText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1-second").arg(seconds);
    return QStringLiteral("%1-minute").arg((seconds + 30) / 60);
}

} // namespace

QuizBook::QuizBook(ServiceContext &context)
    : m_context(context)
{
}

void QuizBook::start(qint64 videoId)
{
    m_context.db.transaction([&] {
        m_context.db.run("UPDATE videos SET quiz_started_at = coalesce(quiz_started_at, ?) WHERE id = ?", m_context.clock.nowMs(), videoId);
    });
}

std::optional<QString> QuizBook::owner(qint64 videoId) const
{
    return m_context.db.transaction([&]() -> std::optional<QString> {
        SqlStatement row = m_context.db.query("SELECT l.owner_id FROM videos v JOIN links l ON l.slug = v.slug WHERE v.id = ?", videoId);
        return row.next() ? std::optional(row.text(0)) : std::nullopt;
    });
}

QuizBook::State QuizBook::advance(qint64 videoId)
{
    start(videoId);
    return m_context.db.transaction([&] {
        SqlStatement row = m_context.db.query("SELECT l.content_type, v.quiz_started_at, v.quiz_confirmed_at, v.quiz_written, v.quiz_auto_confirm, v.quiz_use_recommended "
                                              "FROM videos v JOIN links l ON l.slug = v.slug WHERE v.id = ?",
                                              videoId);
        if (!row.next())
            throw HttpError::notFound(QStringLiteral("There is no video %1.").arg(videoId));
        if (!row.text(0).startsWith(QLatin1String("video/")))
            return State::Failed;
        if (row.optionalInteger(2))
            return State::Confirmed;
        if (m_context.clock.nowMs() < row.integer(1) + m_context.options.quizDelaySeconds * 1000LL)
            return State::Pending;
        const bool autoConfirm = row.boolean(4);
        const bool useRecommended = row.boolean(5);
        if (!row.boolean(3))
            writeQuestions(videoId);
        if (autoConfirm) {
            sendQuiz(videoId, useRecommended, {});
            return State::Confirmed;
        }
        return State::Ready;
    });
}

void QuizBook::writeQuestions(qint64 videoId)
{
    Database &db = m_context.db;
    SqlStatement row = db.query("SELECT l.title, l.duration_seconds, l.owner_id, l.created_at, l.spoken_language, l.question_count "
                                "FROM videos v JOIN links l ON l.slug = v.slug WHERE v.id = ?",
                                videoId);
    row.next();
    const QString title = row.text(0);
    const std::optional<qint64> duration = row.optionalInteger(1);
    const QString ownerId = row.text(2);
    const QDate created = QDateTime::fromMSecsSinceEpoch(row.integer(3), Qt::UTC).date();
    const qint64 questionCount = row.integer(5);

    const QList<DirectoryPerson> people = m_context.directory.everyone();
    QString ownerName = QStringLiteral("the owner");
    QStringList others;
    for (const DirectoryPerson &person : people) {
        if (person.id == ownerId)
            ownerName = person.displayName;
        else if (others.size() < 3)
            others << person.displayName;
    }
    const QLocale english(QLocale::English);
    const auto day = [&](int offset) { return english.toString(created.addDays(offset), QStringLiteral("d MMMM yyyy")); };

    QList<Question> questions;
    questions << Question{QStringLiteral("What is the title of this recording?"),
                          {title, QStringLiteral("Quarterly planning kickoff"), QStringLiteral("Office move: what changes"), QStringLiteral("Travel expense policy update")},
                          0};
    if (duration) {
        const int bucket = *duration < 60 ? 0 : *duration < 300 ? 1 : *duration < 900 ? 2 : 3;
        questions << Question{QStringLiteral("About how long is the recording?"),
                              {QStringLiteral("Under a minute"), QStringLiteral("One to five minutes"), QStringLiteral("Five to fifteen minutes"),
                               QStringLiteral("More than fifteen minutes")},
                              bucket};
    }
    if (others.size() == 3)
        questions << Question{QStringLiteral("Who recorded this video?"), {ownerName, others.at(0), others.at(1), others.at(2)}, 0};
    questions << Question{QStringLiteral("On which day was it recorded?"), {day(0), day(-1), day(-7), day(1)}, 0};
    questions << Question{QStringLiteral("Where can you watch it again later?"),
                          {QStringLiteral("At its share link"), QStringLiteral("Only in the invitation e-mail"), QStringLiteral("Nowhere: it plays once"),
                           QStringLiteral("Only on the owner's computer")},
                          0};
    questions << Question{QStringLiteral("What does the service tell the owner?"),
                          {QStringLiteral("Who opened the video and who finished it"), QStringLiteral("Nothing at all"), QStringLiteral("Only the number of downloads"),
                           QStringLiteral("Which other videos viewers watched")},
                          0};

    const qint64 recommended = qMin<qint64>(questionCount, questions.size());
    for (int i = 0; i < questions.size(); ++i) {
        const Question question = rotated(questions.at(i), videoId + i);
        db.run("INSERT INTO quiz_questions (video_id, position, text, options, correct_index, included, recommended, is_custom) VALUES (?, ?, ?, ?, ?, ?, ?, 0)",
               videoId, i + 1, question.text, QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(question.options)).toJson(QJsonDocument::Compact)),
               question.correctIndex, i < recommended, i < recommended);
    }
    const QString summary = duration ? QStringLiteral("A %1 recording by %2, \u201C%3\u201D.").arg(durationText(*duration), ownerName, title)
                                     : QStringLiteral("A recording by %1, \u201C%2\u201D.").arg(ownerName, title);
    db.run("UPDATE videos SET quiz_written = 1, quiz_summary = ? WHERE id = ?", summary, videoId);
}

void QuizBook::sendQuiz(qint64 videoId, bool useRecommended, const QList<qint64> &includedIds)
{
    Database &db = m_context.db;
    if (useRecommended) {
        db.run("UPDATE quiz_questions SET included = (recommended OR is_custom) WHERE video_id = ?", videoId);
    } else {
        db.run("UPDATE quiz_questions SET included = is_custom WHERE video_id = ?", videoId);
        for (qint64 id : includedIds)
            db.run("UPDATE quiz_questions SET included = 1 WHERE video_id = ? AND id = ?", videoId, id);
    }
    SqlStatement count = db.query("SELECT count(*) FROM quiz_questions WHERE video_id = ? AND included = 1", videoId);
    count.next();
    if (count.integer(0) == 0)
        throw HttpError::badRequest(QStringLiteral("Choose at least one question for the quiz."));
    db.run("UPDATE videos SET quiz_confirmed_at = ? WHERE id = ?", m_context.clock.nowMs(), videoId);
}

QJsonObject QuizBook::status(qint64 videoId)
{
    return reply(videoId, advance(videoId));
}

QJsonObject QuizBook::confirm(qint64 videoId, const JsonBody &body)
{
    const QList<qint64> includedIds = body.integerArray("includedIds");
    const bool useRecommended = body.boolean("useRecommended");
    const bool autoConfirm = body.boolean("autoConfirm");
    QList<JsonBody> custom;
    if (body.has("customQuestions"))
        custom = body.objectArray("customQuestions");
    struct Draft {
        QString text;
        QStringList options;
        qint64 correctIndex;
    };
    QList<Draft> drafts;
    for (const JsonBody &question : custom) {
        Draft draft{question.text("text").trimmed(), question.textArray("options"), question.integer("correctIndex")};
        for (QString &option : draft.options)
            option = option.trimmed();
        if (draft.text.isEmpty())
            throw HttpError::badRequest(QStringLiteral("Every custom question needs its text."));
        if (draft.options.size() < 2 || draft.options.contains(QString()))
            throw HttpError::badRequest(QStringLiteral("The question \u201C%1\u201D needs at least two choices, none of them empty.").arg(draft.text));
        if (draft.correctIndex < 0 || draft.correctIndex >= draft.options.size())
            throw HttpError::badRequest(QStringLiteral("The correct answer of \u201C%1\u201D must be one of its %2 choices.").arg(draft.text).arg(draft.options.size()));
        drafts << draft;
    }

    Database &db = m_context.db;
    const State state = advance(videoId);
    return db.transaction([&] {
        if (state == State::Failed)
            throw HttpError::conflict(QStringLiteral("No quiz could be written for this video."));
        if (state == State::Confirmed)
            throw HttpError::conflict(QStringLiteral("The quiz of this video has already been sent."));
        if (state == State::Pending && !autoConfirm)
            throw HttpError::conflict(QStringLiteral("The quiz questions are still being written; try again shortly."));
        for (qint64 id : includedIds) {
            if (!db.query("SELECT 1 FROM quiz_questions WHERE video_id = ? AND id = ?", videoId, id).next())
                throw HttpError::badRequest(QStringLiteral("Question %1 is not part of this video's quiz.").arg(id));
        }
        for (const Draft &draft : drafts) {
            db.run("INSERT INTO quiz_questions (video_id, position, text, options, correct_index, included, recommended, is_custom) "
                   "VALUES (?, 1000 + (SELECT count(*) FROM quiz_questions WHERE video_id = ?1), ?, ?, ?, 1, 0, 1)",
                   videoId, draft.text, QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(draft.options)).toJson(QJsonDocument::Compact)), draft.correctIndex);
        }
        if (state == State::Pending) {
            db.run("UPDATE videos SET quiz_auto_confirm = 1, quiz_use_recommended = ? WHERE id = ?", useRecommended, videoId);
            return reply(videoId, State::Pending);
        }
        sendQuiz(videoId, useRecommended, includedIds);
        return reply(videoId, State::Confirmed);
    });
}

QJsonObject QuizBook::reply(qint64 videoId, State state)
{
    static const char *names[] = {"pending", "ready", "failed", "confirmed"};
    Database &db = m_context.db;
    return db.transaction([&] {
        SqlStatement video = db.query("SELECT v.quiz_summary, l.question_count FROM videos v JOIN links l ON l.slug = v.slug WHERE v.id = ?", videoId);
        video.next();
        QJsonObject json{{QStringLiteral("status"), QLatin1String(names[static_cast<int>(state)])}};
        if (state == State::Ready || state == State::Confirmed) {
            if (const auto summary = video.optionalText(0))
                json.insert(QStringLiteral("summary"), *summary);
        }
        QJsonArray questions;
        qint64 included = 0;
        if (state != State::Failed) {
            SqlStatement rows = db.query("SELECT id, text, options, correct_index, included, recommended, is_custom FROM quiz_questions WHERE video_id = ? ORDER BY position", videoId);
            while (rows.next()) {
                included += rows.boolean(4) ? 1 : 0;
                questions.append(QJsonObject{{QStringLiteral("id"), rows.integer(0)},
                                             {QStringLiteral("text"), rows.text(1)},
                                             {QStringLiteral("options"), QJsonDocument::fromJson(rows.text(2).toUtf8()).array()},
                                             {QStringLiteral("correctIndex"), rows.integer(3)},
                                             {QStringLiteral("included"), rows.boolean(4)},
                                             {QStringLiteral("recommended"), rows.boolean(5)},
                                             {QStringLiteral("isCustom"), rows.boolean(6)}});
            }
        }
        // Once sent, the quiz asks exactly the questions kept; before, the count asked for.
        json.insert(QStringLiteral("questionCount"), state == State::Confirmed ? included : qMin(video.integer(1), kMaxQuestionCount));
        json.insert(QStringLiteral("questions"), questions);
        return json;
    });
}
