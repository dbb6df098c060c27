#pragma once
// What the program reports about itself; both are kept for the people who support it.
//   POST /api/support/desktop-logs {"platform", "version", "log", "automatic"} -> 204
//   POST /api/support/desktop-auth {"platform", "version", "event", "code", "hint"} -> 204
//        (sent without signing in, and taken from any version: it is how sign-in trouble,
//         including that of outdated programs, becomes visible)

#include "server/ServiceContext.h"

#include <httplib.h>

class ApiRouter;

class SupportApi {
public:
    static constexpr int kMaxLogBytes = 1024 * 1024;

    explicit SupportApi(ServiceContext &context);
    void registerRoutes(ApiRouter &router);

private:
    ServiceContext &m_context;
};
