#include "server/TestHookRoutes.h"

#include "server/Clock.h"
#include "server/Database.h"
#include "server/FaultInjector.h"
#include "server/HttpReply.h"
#include "server/JsonBody.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

QJsonValue optionalText(const SqlStatement &row, int column)
{
    return row.isNull(column) ? QJsonValue() : QJsonValue(row.text(column));
}

QJsonValue optionalInteger(const SqlStatement &row, int column)
{
    return row.isNull(column) ? QJsonValue() : QJsonValue(row.integer(column));
}

QJsonValue optionalTime(const SqlStatement &row, int column)
{
    return row.isNull(column) ? QJsonValue() : QJsonValue(Clock::isoText(row.integer(column)));
}

QJsonValue jsonText(const SqlStatement &row, int column)
{
    return row.isNull(column) ? QJsonValue() : QJsonDocument::fromJson(row.text(column).toUtf8()).array();
}

// One JSON array built from every row of a query, each row turned into an object by `read`.
template <typename Read>
QJsonArray rows(Database &db, const char *sql, Read read)
{
    SqlStatement statement = db.prepare(sql);
    QJsonArray list;
    while (statement.next())
        list.append(read(statement));
    return list;
}

qint64 count(Database &db, const char *sql)
{
    SqlStatement statement = db.prepare(sql);
    return statement.next() ? statement.integer(0) : 0;
}

} // namespace

TestHookRoutes::TestHookRoutes(ServiceContext &context, FaultInjector &faults)
    : m_context(context)
    , m_faults(faults)
{
}

void TestHookRoutes::registerRoutes(httplib::Server &server)
{
    server.Post("/_test/faults", HttpReply::guarded([this](const auto &req, auto &res) { addFault(req, res); }));
    server.Get("/_test/faults", HttpReply::guarded([this](const auto &, auto &res) { HttpReply::json(res, 200, m_faults.describe()); }));
    server.Delete("/_test/faults", HttpReply::guarded([this](const auto &, auto &res) {
        m_faults.clear();
        HttpReply::noContent(res);
    }));
    server.Post("/_test/clock", HttpReply::guarded([this](const auto &req, auto &res) { advanceClock(req, res); }));
    server.Get("/_test/state", HttpReply::guarded([this](const auto &, auto &res) { HttpReply::json(res, 200, state()); }));
}

void TestHookRoutes::addFault(const httplib::Request &req, httplib::Response &res)
{
    const JsonBody body = JsonBody::parse(req.body);
    Fault fault;
    fault.pathPrefix = body.optionalText("pathPrefix").value_or(QStringLiteral("/"));
    fault.method = body.optionalText("method").value_or(QString());
    fault.remaining = static_cast<int>(body.optionalInteger("count").value_or(1));
    fault.delayMs = static_cast<int>(body.optionalInteger("delayMs").value_or(0));
    if (const auto status = body.optionalInteger("status"))
        fault.status = static_cast<int>(*status);
    fault.body = body.optionalText("body").value_or(QString()).toUtf8();
    fault.contentType = body.optionalText("contentType").value_or(QString());
    fault.dropAfterBytes = body.optionalInteger("dropAfterBytes");
    if (!fault.pathPrefix.startsWith(QLatin1Char('/')))
        throw HttpError::badRequest(QStringLiteral("\"pathPrefix\" must start with \"/\"."));
    if (fault.remaining < 1)
        throw HttpError::badRequest(QStringLiteral("\"count\" must be at least 1."));
    if (fault.delayMs < 0 || fault.delayMs > 120000)
        throw HttpError::badRequest(QStringLiteral("\"delayMs\" must be from 0 to 120000."));
    if (fault.status && (*fault.status < 100 || *fault.status > 599))
        throw HttpError::badRequest(QStringLiteral("\"status\" must be an HTTP status from 100 to 599."));
    if (fault.dropAfterBytes && *fault.dropAfterBytes < 0)
        throw HttpError::badRequest(QStringLiteral("\"dropAfterBytes\" cannot be negative."));
    if (!fault.status && !fault.dropAfterBytes && fault.delayMs == 0)
        throw HttpError::badRequest(QStringLiteral("A fault needs a \"status\", a \"dropAfterBytes\" or a \"delayMs\"."));
    HttpReply::json(res, 201, QJsonObject{{QStringLiteral("id"), m_faults.add(fault)}});
}

void TestHookRoutes::advanceClock(const httplib::Request &req, httplib::Response &res)
{
    const qint64 seconds = JsonBody::parse(req.body).integer("advanceSeconds");
    if (seconds < 0)
        throw HttpError::badRequest(QStringLiteral("The clock only moves forward."));
    m_context.clock.advance(seconds);
    HttpReply::json(res, 200, QJsonObject{{QStringLiteral("now"), Clock::isoText(m_context.clock.nowMs())}});
}

QJsonObject TestHookRoutes::state() const
{
    Database &db = m_context.db;
    return db.transaction([&] {
        QJsonObject state;
        state.insert(QStringLiteral("now"), Clock::isoText(m_context.clock.nowMs()));
        state.insert(QStringLiteral("people"), count(db, "SELECT count(*) FROM users"));
        state.insert(QStringLiteral("groups"), count(db, "SELECT count(*) FROM viewer_groups"));
        state.insert(QStringLiteral("tokens"),
                     QJsonObject{{QStringLiteral("accessTokens"), count(db, "SELECT count(*) FROM access_tokens")},
                                 {QStringLiteral("refreshTokens"), count(db, "SELECT count(*) FROM refresh_tokens")},
                                 {QStringLiteral("revokedRefreshTokens"), count(db, "SELECT count(*) FROM refresh_tokens WHERE revoked_at IS NOT NULL")},
                                 {QStringLiteral("authorizationCodes"), count(db, "SELECT count(*) FROM authorization_codes")},
                                 {QStringLiteral("signInSessions"), count(db, "SELECT count(*) FROM sign_in_sessions")}});
        state.insert(QStringLiteral("blobs"), rows(db, "SELECT name, owner_id, content_type, size_bytes, converted_from FROM blobs ORDER BY created_at", [](const SqlStatement &row) {
                         return QJsonObject{{QStringLiteral("name"), row.text(0)},
                                            {QStringLiteral("ownerId"), row.text(1)},
                                            {QStringLiteral("contentType"), row.text(2)},
                                            {QStringLiteral("sizeBytes"), optionalInteger(row, 3)},
                                            {QStringLiteral("convertedFrom"), optionalText(row, 4)}};
                     }));
        state.insert(QStringLiteral("links"),
                     rows(db,
                          "SELECT l.slug, l.owner_id, l.title, l.title_is_default, l.content_type, l.reserved_blob, l.blob_name, l.poster_blob, l.published_at, "
                          "l.folder_id, l.duration_seconds, l.notify_on_start, l.ask_seen_proof, l.ask_quiz, l.question_count, l.spoken_language, "
                          "l.caption_languages, l.voices, v.id FROM links l LEFT JOIN videos v ON v.slug = l.slug ORDER BY l.created_at",
                          [](const SqlStatement &row) {
                              return QJsonObject{{QStringLiteral("slug"), row.text(0)},
                                                 {QStringLiteral("ownerId"), row.text(1)},
                                                 {QStringLiteral("title"), row.text(2)},
                                                 {QStringLiteral("titleIsDefault"), row.boolean(3)},
                                                 {QStringLiteral("contentType"), row.text(4)},
                                                 {QStringLiteral("reservedBlobName"), optionalText(row, 5)},
                                                 {QStringLiteral("blobName"), optionalText(row, 6)},
                                                 {QStringLiteral("posterBlobName"), optionalText(row, 7)},
                                                 {QStringLiteral("publishedAt"), optionalTime(row, 8)},
                                                 {QStringLiteral("folderId"), optionalInteger(row, 9)},
                                                 {QStringLiteral("durationSeconds"), optionalInteger(row, 10)},
                                                 {QStringLiteral("notifyOnStart"), row.boolean(11)},
                                                 {QStringLiteral("askSeenProof"), row.boolean(12)},
                                                 {QStringLiteral("askQuiz"), row.boolean(13)},
                                                 {QStringLiteral("questionCount"), row.integer(14)},
                                                 {QStringLiteral("spokenLanguage"), optionalText(row, 15)},
                                                 {QStringLiteral("captionLanguages"), jsonText(row, 16)},
                                                 {QStringLiteral("voices"), jsonText(row, 17)},
                                                 {QStringLiteral("videoId"), optionalInteger(row, 18)}};
                          }));
        state.insert(QStringLiteral("assignments"),
                     rows(db, "SELECT video_id, viewer_key, user_id, email, via_group, opened_at, finished_at FROM viewer_assignments ORDER BY video_id, viewer_key",
                          [](const SqlStatement &row) {
                              return QJsonObject{{QStringLiteral("videoId"), row.integer(0)},
                                                 {QStringLiteral("viewer"), row.text(1)},
                                                 {QStringLiteral("userId"), optionalText(row, 2)},
                                                 {QStringLiteral("email"), row.text(3)},
                                                 {QStringLiteral("viaGroupId"), optionalText(row, 4)},
                                                 {QStringLiteral("openedAt"), optionalTime(row, 5)},
                                                 {QStringLiteral("finishedAt"), optionalTime(row, 6)}};
                          }));
        state.insert(QStringLiteral("linkEvents"), rows(db, "SELECT slug, event, viewer_id, at, user_agent FROM link_events ORDER BY id", [](const SqlStatement &row) {
                         return QJsonObject{{QStringLiteral("slug"), row.text(0)},
                                            {QStringLiteral("event"), row.text(1)},
                                            {QStringLiteral("viewerId"), optionalText(row, 2)},
                                            {QStringLiteral("at"), Clock::isoText(row.integer(3))},
                                            {QStringLiteral("userAgent"), optionalText(row, 4)}};
                     }));
        state.insert(QStringLiteral("folders"), rows(db, "SELECT id, owner_id, name, sort_order FROM folders ORDER BY id", [](const SqlStatement &row) {
                         return QJsonObject{{QStringLiteral("id"), row.integer(0)},
                                            {QStringLiteral("ownerId"), row.text(1)},
                                            {QStringLiteral("name"), row.text(2)},
                                            {QStringLiteral("sortOrder"), row.integer(3)}};
                     }));
        state.insert(QStringLiteral("diagnostics"), rows(db, "SELECT user_id, platform, version, log, automatic, received_at FROM diagnostics ORDER BY id", [](const SqlStatement &row) {
                         return QJsonObject{{QStringLiteral("userId"), row.text(0)},
                                            {QStringLiteral("platform"), row.text(1)},
                                            {QStringLiteral("version"), row.text(2)},
                                            {QStringLiteral("log"), row.text(3)},
                                            {QStringLiteral("automatic"), row.boolean(4)},
                                            {QStringLiteral("receivedAt"), Clock::isoText(row.integer(5))}};
                     }));
        state.insert(QStringLiteral("authEvents"), rows(db, "SELECT platform, version, event, code, hint, received_at FROM auth_events ORDER BY id", [](const SqlStatement &row) {
                         return QJsonObject{{QStringLiteral("platform"), row.text(0)},
                                            {QStringLiteral("version"), row.text(1)},
                                            {QStringLiteral("event"), row.text(2)},
                                            {QStringLiteral("code"), row.text(3)},
                                            {QStringLiteral("hint"), row.text(4)},
                                            {QStringLiteral("receivedAt"), Clock::isoText(row.integer(5))}};
                     }));
        return state;
    });
}
