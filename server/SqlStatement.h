#pragma once
// One prepared SQLite statement: bind values by position, step through rows, read columns.
// Errors throw std::runtime_error carrying SQLite's message and the statement.

#include <QString>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

class SqlStatement {
public:
    SqlStatement(sqlite3 *db, const char *sql);
    ~SqlStatement();
    SqlStatement(const SqlStatement &) = delete;
    SqlStatement &operator=(const SqlStatement &) = delete;
    SqlStatement(SqlStatement &&other) noexcept;
    SqlStatement &operator=(SqlStatement &&) = delete;

    SqlStatement &bind(int index, const QString &value);
    SqlStatement &bind(int index, const char *value);
    SqlStatement &bind(int index, qint64 value);
    SqlStatement &bind(int index, int value) { return bind(index, static_cast<qint64>(value)); }
    SqlStatement &bind(int index, bool value) { return bind(index, static_cast<qint64>(value ? 1 : 0)); }
    SqlStatement &bind(int index, std::nullptr_t);
    template <typename T>
    SqlStatement &bind(int index, const std::optional<T> &value)
    {
        return value ? bind(index, *value) : bind(index, nullptr);
    }

    // Binds every argument in order, starting at the first parameter.
    template <typename... Args>
    SqlStatement &bindAll(const Args &...args)
    {
        int index = 0;
        (bind(++index, args), ...);
        return *this;
    }

    // Advances to the next row; false once there are no more.
    bool next();
    // Runs a statement that returns no rows.
    void run();

    bool isNull(int column) const;
    QString text(int column) const;
    qint64 integer(int column) const;
    bool boolean(int column) const { return integer(column) != 0; }
    std::optional<QString> optionalText(int column) const;
    std::optional<qint64> optionalInteger(int column) const;

private:
    [[noreturn]] void fail(const char *what) const;

    sqlite3 *m_db;
    sqlite3_stmt *m_statement = nullptr;
};
