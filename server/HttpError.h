#pragma once
// A failure that ends a request: an HTTP status, a user-facing "title" and a short machine
// "code", sent as a JSON reply. Thrown from handlers and turned into a reply in one place.

#include <QString>
#include <stdexcept>

class HttpError : public std::runtime_error {
public:
    HttpError(int status, const QString &title, const QString &code = {});

    int status() const { return m_status; }
    const QString &title() const { return m_title; }
    const QString &code() const { return m_code; }

    static HttpError badRequest(const QString &title) { return {400, title, QStringLiteral("bad_request")}; }
    static HttpError notFound(const QString &title) { return {404, title, QStringLiteral("not_found")}; }
    static HttpError conflict(const QString &title) { return {409, title, QStringLiteral("conflict")}; }

private:
    int m_status;
    QString m_title;
    QString m_code;
};
