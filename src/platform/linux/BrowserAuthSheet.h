#pragma once
// The sign-in page in the user's browser (TOVRIKA_BROWSER, or xdg-open). While the browser is
// out, a small "Signing in to Tovrika…" window with Cancel stands in for the sheet; the
// redirect comes back through the "tovrika:" URL hand-over.

#include "platform/WebAuthSheet.h"

#include <QPointer>
#include <QWidget>
#include <optional>

class SignInWaitWindow;

class BrowserAuthSheet final : public QObject, public WebAuthSheet {
    Q_OBJECT
public:
    BrowserAuthSheet();
    ~BrowserAuthSheet() override;

    QCoro::Task<QUrl> present(QUrl authorizeUrl) override;
    bool deliverRedirect(const QUrl &url) override;
    void cancel() override;

    // Starts the browser command with the URL; false when it can't be started.
    static bool openInBrowser(const QUrl &url);

signals:
    void finished();

private:
    void finish(std::optional<QUrl> redirect);

    bool m_waiting = false;
    std::optional<QUrl> m_redirect;
    QPointer<SignInWaitWindow> m_window;
};

// The small window shown while the browser is out.
class SignInWaitWindow final : public QWidget {
    Q_OBJECT
public:
    SignInWaitWindow();

signals:
    void cancelled();

protected:
    void closeEvent(QCloseEvent *event) override;
};
