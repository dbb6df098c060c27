#pragma once
// The HTML of the authority's sign-in page (pick or type a person of the directory, or
// cancel) and of its error page for requests that cannot be sent back to the program.

#include "server/Directory.h"

#include <QList>
#include <QString>

namespace SignInPage {

struct Content {
    QString formAction;    // where the form posts (the authorize path)
    QString requestId;     // the stored authorisation request the form answers
    QList<DirectoryPerson> people;
    QString typedLogin;    // prefilled: the login hint or what was typed before
    QString message;       // a problem with the last attempt, shown above the form
    QString signedInUserId; // the browser's current session, marked in the list
    bool forcedLogin = false;
};

QString render(const Content &content);
QString errorPage(const QString &title, const QString &detail);

} // namespace SignInPage
