#include "server/Directory.h"

#include "server/Database.h"

namespace {
constexpr const char *kPersonColumns = "SELECT id, display_name, email, user_name, stale_password FROM users ";
constexpr const char *kGroupColumns = "SELECT id, name, description, owner_id, is_exclusion_list FROM viewer_groups ";

DirectoryPerson readPerson(const SqlStatement &row)
{
    return {row.text(0), row.text(1), row.text(2), row.text(3), row.boolean(4)};
}

DirectoryGroup readGroup(const SqlStatement &row)
{
    return {row.text(0), row.text(1), row.optionalText(2), row.optionalText(3), row.boolean(4)};
}

QList<DirectoryPerson> readPeople(SqlStatement statement)
{
    QList<DirectoryPerson> people;
    while (statement.next())
        people << readPerson(statement);
    return people;
}
} // namespace

Directory::Directory(Database &db)
    : m_db(db)
{
}

QList<DirectoryPerson> Directory::everyone() const
{
    return m_db.transaction([&] { return readPeople(m_db.prepare((QByteArray(kPersonColumns) + "ORDER BY display_name").constData())); });
}

std::optional<DirectoryPerson> Directory::person(const QString &id) const
{
    return m_db.transaction([&]() -> std::optional<DirectoryPerson> {
        SqlStatement row = m_db.query((QByteArray(kPersonColumns) + "WHERE id = lower(?)").constData(), id);
        return row.next() ? std::optional(readPerson(row)) : std::nullopt;
    });
}

std::optional<DirectoryPerson> Directory::findByLogin(const QString &login) const
{
    const QString text = login.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    return m_db.transaction([&]() -> std::optional<DirectoryPerson> {
        SqlStatement row = m_db.query((QByteArray(kPersonColumns) + "WHERE user_name = ?1 OR email = ?1 OR id = lower(?1)").constData(), text);
        return row.next() ? std::optional(readPerson(row)) : std::nullopt;
    });
}

QList<DirectoryPerson> Directory::search(const QString &text, int limit) const
{
    const QString needle = text.trimmed();
    if (needle.isEmpty())
        return {};
    // Compared in Qt rather than SQL so that letter case is ignored beyond ASCII too.
    QList<DirectoryPerson> found;
    for (const DirectoryPerson &person : everyone()) {
        if (found.size() >= limit)
            break;
        if (person.displayName.contains(needle, Qt::CaseInsensitive) || person.email.contains(needle, Qt::CaseInsensitive)
            || person.userName.contains(needle, Qt::CaseInsensitive))
            found << person;
    }
    return found;
}

QList<DirectoryGroup> Directory::groups() const
{
    return m_db.transaction([&] {
        SqlStatement rows = m_db.prepare((QByteArray(kGroupColumns) + "ORDER BY sort_order").constData());
        QList<DirectoryGroup> groups;
        while (rows.next())
            groups << readGroup(rows);
        return groups;
    });
}

std::optional<DirectoryGroup> Directory::group(const QString &id) const
{
    return m_db.transaction([&]() -> std::optional<DirectoryGroup> {
        SqlStatement row = m_db.query((QByteArray(kGroupColumns) + "WHERE id = lower(?)").constData(), id);
        return row.next() ? std::optional(readGroup(row)) : std::nullopt;
    });
}

QStringList Directory::memberIds(const QString &groupId) const
{
    return m_db.transaction([&] {
        SqlStatement rows = m_db.query(
            "SELECT m.user_id FROM group_members m JOIN users u ON u.id = m.user_id WHERE m.group_id = lower(?) ORDER BY u.display_name", groupId);
        QStringList ids;
        while (rows.next())
            ids << rows.text(0);
        return ids;
    });
}

QStringList Directory::excludedIds() const
{
    return m_db.transaction([&] {
        SqlStatement rows = m_db.prepare(
            "SELECT DISTINCT m.user_id FROM group_members m JOIN viewer_groups g ON g.id = m.group_id WHERE g.is_exclusion_list = 1");
        QStringList ids;
        while (rows.next())
            ids << rows.text(0);
        return ids;
    });
}
