#pragma once
// The organisation's directory as the viewer picker sees it.
//   GET /api/users/search?q={text} -> [DirectoryUser]
//   GET /api/groups                -> [VideoGroup]

#include <httplib.h>

class ApiRouter;
class Directory;

class DirectoryApi {
public:
    static constexpr int kMaxResults = 20;

    explicit DirectoryApi(const Directory &directory);
    void registerRoutes(ApiRouter &router);

private:
    const Directory &m_directory;
};
