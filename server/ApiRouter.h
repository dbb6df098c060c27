#pragma once
// Registers API endpoints under /api behind the ApiGate: each handler runs only for a current
// client with a valid access token, and receives the signed-in user's id.

#include "server/HttpReply.h"

#include <httplib.h>
#include <string>

class ApiGate;

class ApiRouter {
public:
    using UserHandler = std::function<void(const QString &userId, const httplib::Request &, httplib::Response &)>;

    ApiRouter(httplib::Server &server, const ApiGate &gate);

    // `pattern` is relative to /api and may hold regular-expression captures.
    void get(const std::string &pattern, UserHandler handler);
    void post(const std::string &pattern, UserHandler handler);
    void patch(const std::string &pattern, UserHandler handler);
    // For the one call the program makes without signing in (sign-in telemetry).
    void postWithoutSignIn(const std::string &pattern, HttpReply::Handler handler);

private:
    HttpReply::Handler gated(UserHandler handler) const;

    httplib::Server &m_server;
    const ApiGate &m_gate;
};
