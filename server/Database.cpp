#include "server/Database.h"

#include <sqlite3.h>
#include <stdexcept>
#include <string>

Database::Database(const QString &path)
{
    const QByteArray file = path.toUtf8();
    if (sqlite3_open_v2(file.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        throw std::runtime_error("cannot open database " + file.toStdString() + ": " + message);
    }
    sqlite3_busy_timeout(m_db, 5000);
    exec("PRAGMA journal_mode=WAL");
    exec("PRAGMA foreign_keys=ON");
}

Database::~Database()
{
    sqlite3_close(m_db);
}

SqlStatement Database::prepare(const char *sql)
{
    return SqlStatement(m_db, sql);
}

void Database::exec(const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : sqlite3_errmsg(m_db);
        sqlite3_free(error);
        throw std::runtime_error("database statement failed: " + message + " [" + sql + "]");
    }
}

qint64 Database::lastInsertId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

void Database::finish(bool commit)
{
    if (--m_depth > 0)
        return;
    if (!commit) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return;
    }
    char *error = nullptr;
    if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : sqlite3_errmsg(m_db);
        sqlite3_free(error);
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw std::runtime_error("database commit failed: " + message);
    }
}
