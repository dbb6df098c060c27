#include "server/SupportApi.h"

#include "server/ApiRouter.h"
#include "server/Clock.h"
#include "server/Database.h"
#include "server/JsonBody.h"

SupportApi::SupportApi(ServiceContext &context)
    : m_context(context)
{
}

void SupportApi::registerRoutes(ApiRouter &router)
{
    router.post("/support/desktop-logs", [this](const QString &userId, const httplib::Request &req, httplib::Response &res) {
        const JsonBody body = JsonBody::parse(req.body);
        const QString platform = body.text("platform");
        const QString version = body.text("version");
        const QString log = body.text("log");
        const bool automatic = body.boolean("automatic");
        if (log.toUtf8().size() > kMaxLogBytes)
            throw HttpError(413, QStringLiteral("A diagnostics log can be at most 1 MB."), QStringLiteral("request_body_too_large"));
        m_context.db.transaction([&] {
            m_context.db.run("INSERT INTO diagnostics (user_id, platform, version, log, automatic, received_at) VALUES (?, ?, ?, ?, ?, ?)", userId, platform, version, log,
                             automatic, m_context.clock.nowMs());
        });
        HttpReply::noContent(res);
    });
    router.postWithoutSignIn("/support/desktop-auth", [this](const httplib::Request &req, httplib::Response &res) {
        const JsonBody body = JsonBody::parse(req.body);
        const QString platform = body.text("platform");
        const QString version = body.text("version");
        const QString event = body.text("event");
        const QString code = body.text("code");
        const QString hint = body.text("hint");
        m_context.db.transaction([&] {
            m_context.db.run("INSERT INTO auth_events (platform, version, event, code, hint, received_at, remote_addr) VALUES (?, ?, ?, ?, ?, ?, ?)", platform, version,
                             event, code, hint, m_context.clock.nowMs(), QString::fromStdString(req.remote_addr));
        });
        HttpReply::noContent(res);
    });
}
