#pragma once
// Small secrets kept by the desktop's credential store, one per account name.

#include <QByteArray>
#include <QString>
#include <optional>

class CredentialStore {
public:
    struct Failure {
        int code = 0;
        QString message;
    };
    // Data present: found. Neither data nor failure: no such item.
    struct Lookup {
        std::optional<QByteArray> data;
        std::optional<Failure> failure;
    };

    virtual ~CredentialStore() = default;
    virtual Lookup read(const QString &account) = 0;
    virtual std::optional<Failure> write(const QString &account, const QByteArray &data) = 0;
    // Removing a missing item is not an error.
    virtual void remove(const QString &account) = 0;
};
