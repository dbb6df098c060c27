#pragma once
// The service's SQLite database: one connection shared by the request threads, used one
// request at a time, with transactions that roll back when their work throws.

#include "server/SqlStatement.h"

#include <QString>
#include <mutex>
#include <optional>
#include <type_traits>

class Database {
public:
    // Opens (creating when needed) the database file; throws std::runtime_error on failure.
    explicit Database(const QString &path);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Runs `work` holding the connection, inside one transaction; answers what `work` answers.
    template <typename Work>
    auto transaction(Work &&work) -> decltype(work())
    {
        std::lock_guard lock(m_mutex);
        if (m_depth == 0)
            exec("BEGIN IMMEDIATE");
        ++m_depth;
        if constexpr (std::is_void_v<decltype(work())>) {
            try {
                work();
            } catch (...) {
                finish(false);
                throw;
            }
            finish(true);
        } else {
            std::optional<decltype(work())> result;
            try {
                result.emplace(work());
            } catch (...) {
                finish(false);
                throw;
            }
            finish(true);
            return std::move(*result);
        }
    }

    // Statements must be used inside transaction(), which holds the connection.
    SqlStatement prepare(const char *sql);
    template <typename... Args>
    SqlStatement query(const char *sql, const Args &...args)
    {
        SqlStatement statement = prepare(sql);
        statement.bindAll(args...);
        return statement;
    }
    template <typename... Args>
    void run(const char *sql, const Args &...args)
    {
        query(sql, args...).run();
    }
    void exec(const char *sql);
    qint64 lastInsertId() const;

private:
    void finish(bool commit);

    sqlite3 *m_db = nullptr;
    std::recursive_mutex m_mutex;
    int m_depth = 0;
};
