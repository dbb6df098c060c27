#pragma once
// Shows the sign-in authority's page to the user and hands back the redirect to
// "tovrika://auth?...".

#include <QUrl>
#include <qcorotask.h>

class WebAuthSheet {
public:
    virtual ~WebAuthSheet() = default;
    // Answers the redirect URL. Throws AuthError::flow when the page can't be shown
    // ("Could not open the sign-in window.") or the user cancels ("Sign-in was cancelled.").
    virtual QCoro::Task<QUrl> present(QUrl authorizeUrl) = 0;
    // A "tovrika://auth" URL handed to the program; false when no sheet waits for one.
    virtual bool deliverRedirect(const QUrl &url) = 0;
    // The user's cancel from elsewhere (the menu).
    virtual void cancel() = 0;
};
