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
    // Where the error comes from and its number, for log lines.
    virtual QString domain() const { return QStringLiteral("Tovrika"); }
    virtual int code() const { return 0; }
    const char *what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_description;
    std::string m_utf8;
};
