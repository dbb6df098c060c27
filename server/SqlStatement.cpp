#include "server/SqlStatement.h"

#include <sqlite3.h>
#include <stdexcept>
#include <string>

SqlStatement::SqlStatement(sqlite3 *db, const char *sql)
    : m_db(db)
{
    if (sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr) != SQLITE_OK)
        fail("prepare");
}

SqlStatement::~SqlStatement()
{
    sqlite3_finalize(m_statement);
}

SqlStatement::SqlStatement(SqlStatement &&other) noexcept
    : m_db(other.m_db)
    , m_statement(other.m_statement)
{
    other.m_statement = nullptr;
}

void SqlStatement::fail(const char *what) const
{
    const char *sql = m_statement ? sqlite3_sql(m_statement) : "";
    throw std::runtime_error(std::string("database ") + what + " failed: " + sqlite3_errmsg(m_db) + " [" + sql + "]");
}

SqlStatement &SqlStatement::bind(int index, const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    if (sqlite3_bind_text(m_statement, index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT) != SQLITE_OK)
        fail("bind");
    return *this;
}

SqlStatement &SqlStatement::bind(int index, const char *value)
{
    return bind(index, QString::fromUtf8(value));
}

SqlStatement &SqlStatement::bind(int index, qint64 value)
{
    if (sqlite3_bind_int64(m_statement, index, value) != SQLITE_OK)
        fail("bind");
    return *this;
}

SqlStatement &SqlStatement::bind(int index, std::nullptr_t)
{
    if (sqlite3_bind_null(m_statement, index) != SQLITE_OK)
        fail("bind");
    return *this;
}

bool SqlStatement::next()
{
    const int result = sqlite3_step(m_statement);
    if (result == SQLITE_ROW)
        return true;
    if (result == SQLITE_DONE)
        return false;
    fail("step");
}

void SqlStatement::run()
{
    while (next()) {
    }
}

bool SqlStatement::isNull(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

QString SqlStatement::text(int column) const
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return data ? QString::fromUtf8(data, sqlite3_column_bytes(m_statement, column)) : QString();
}

qint64 SqlStatement::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

std::optional<QString> SqlStatement::optionalText(int column) const
{
    return isNull(column) ? std::nullopt : std::optional(text(column));
}

std::optional<qint64> SqlStatement::optionalInteger(int column) const
{
    return isNull(column) ? std::nullopt : std::optional(integer(column));
}
