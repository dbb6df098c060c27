#pragma once
// The organisation's people and viewer groups, as stored in the database.

#include <QList>
#include <QString>
#include <optional>

class Database;

struct DirectoryPerson {
    QString id;
    QString displayName;
    QString email;
    QString userName;
    bool stalePassword = false;
};

struct DirectoryGroup {
    QString id;
    QString name;
    std::optional<QString> description;
    std::optional<QString> ownerId;
    bool isExclusionList = false;
};

class Directory {
public:
    explicit Directory(Database &db);

    QList<DirectoryPerson> everyone() const;
    std::optional<DirectoryPerson> person(const QString &id) const;
    // A person by user name, e-mail address or id, ignoring letter case.
    std::optional<DirectoryPerson> findByLogin(const QString &login) const;
    // People whose name, e-mail or user name contains `text` (ignoring case), by name.
    QList<DirectoryPerson> search(const QString &text, int limit) const;

    QList<DirectoryGroup> groups() const;
    std::optional<DirectoryGroup> group(const QString &id) const;
    QStringList memberIds(const QString &groupId) const;
    // Everyone on any exclusion list: never assigned through a group.
    QStringList excludedIds() const;

private:
    Database &m_db;
};
