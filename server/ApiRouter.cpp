#include "server/ApiRouter.h"

#include "server/ApiGate.h"

ApiRouter::ApiRouter(httplib::Server &server, const ApiGate &gate)
    : m_server(server)
    , m_gate(gate)
{
}

HttpReply::Handler ApiRouter::gated(UserHandler handler) const
{
    // The router itself only lives while routes are registered; the gate outlives it.
    return HttpReply::guarded([&gate = m_gate, handler = std::move(handler)](const httplib::Request &req, httplib::Response &res) {
        gate.requireCurrentClient(req);
        QString userId;
        try {
            userId = gate.requireUser(req);
        } catch (const HttpError &) {
            res.set_header("WWW-Authenticate", "Bearer error=\"invalid_token\"");
            throw;
        }
        handler(userId, req, res);
    });
}

void ApiRouter::get(const std::string &pattern, UserHandler handler)
{
    m_server.Get("/api" + pattern, gated(std::move(handler)));
}

void ApiRouter::post(const std::string &pattern, UserHandler handler)
{
    m_server.Post("/api" + pattern, gated(std::move(handler)));
}

void ApiRouter::patch(const std::string &pattern, UserHandler handler)
{
    m_server.Patch("/api" + pattern, gated(std::move(handler)));
}

void ApiRouter::postWithoutSignIn(const std::string &pattern, HttpReply::Handler handler)
{
    m_server.Post("/api" + pattern, HttpReply::guarded(std::move(handler)));
}
