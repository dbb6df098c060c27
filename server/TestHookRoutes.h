#pragma once
// Endpoints for tests, present only with --test-hooks:
//   POST   /_test/faults  {"pathPrefix", "method", "count", "status", "body", "contentType",
//                          "delayMs", "dropAfterBytes"}  -> 201 {"id"}
//   GET    /_test/faults  -> the faults still waiting
//   DELETE /_test/faults  -> 204, all faults removed
//   POST   /_test/clock   {"advanceSeconds"} -> {"now"}: moves the service's clock forward
//   GET    /_test/state   -> what the service has stored (no secrets)

#include "server/ServiceContext.h"

#include <QJsonObject>
#include <httplib.h>

class FaultInjector;

class TestHookRoutes {
public:
    TestHookRoutes(ServiceContext &context, FaultInjector &faults);
    void registerRoutes(httplib::Server &server);

private:
    void addFault(const httplib::Request &req, httplib::Response &res);
    void advanceClock(const httplib::Request &req, httplib::Response &res);
    QJsonObject state() const;

    ServiceContext &m_context;
    FaultInjector &m_faults;
};
