#pragma once
// Base of the program's typed errors. They travel as exceptions from the service that detects
// them, through co_await, to the operation that started the work, and carry the text shown to
// the user (already localised).

#include <QString>
#include <exception>
#include <string>

class UserFacingError : public std::exception {
public:
    explicit UserFacingError(QString description)
        : m_description(std::move(description))
        , m_utf8(m_description.toStdString())
    {
    }

    const QString &description() const noexcept { return m_description; }
    const char *what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_description;
    std::string m_utf8;
};
