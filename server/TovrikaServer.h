#pragma once
// The whole service: storage under the data folder, the sign-in authority, the API, the blob
// store, the share pages and (when asked for) the test hooks, served on 127.0.0.1.

#include "server/Clock.h"
#include "server/ServerOptions.h"

#include <memory>

namespace httplib {
class Server;
}

class TovrikaServer {
public:
    static constexpr const char *kHost = "127.0.0.1";

    // Opens or creates the data folder and its database; throws std::runtime_error.
    explicit TovrikaServer(ServerOptions options);
    ~TovrikaServer();

    // Binds the port (0 picks a free one) and sets up every route; answers the port.
    int bind();
    // Serves requests until stop() is called; answers false if serving failed.
    bool serve();
    void stop();

private:
    struct Parts;

    void registerRoutes();
    void installFilters();

    ServerOptions m_options;
    Clock m_clock;
    std::unique_ptr<httplib::Server> m_http;
    std::unique_ptr<Parts> m_parts;
};
