#include "platform/linux/BrowserAuthSheet.h"

#include "auth/AuthError.h"
#include "support/FileLog.h"
#include "support/L10n.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <qcorosignal.h>

SignInWaitWindow::SignInWaitWindow()
{
    setWindowTitle(L10n::tr(QStringLiteral("Tovrika")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(L10n::tr(QStringLiteral("Signing in to Tovrika…")), this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    auto *hint = new QLabel(L10n::tr(QStringLiteral("Finish signing in in your browser.")), this);
    hint->setAlignment(Qt::AlignCenter);
    layout->addWidget(hint);
    auto *cancel = new QPushButton(L10n::tr(QStringLiteral("Cancel")), this);
    connect(cancel, &QPushButton::clicked, this, &SignInWaitWindow::cancelled);
    layout->addWidget(cancel, 0, Qt::AlignCenter);
    setFixedSize(380, 150);
}

void SignInWaitWindow::closeEvent(QCloseEvent *event)
{
    emit cancelled();
    event->accept();
}

BrowserAuthSheet::BrowserAuthSheet() = default;

BrowserAuthSheet::~BrowserAuthSheet()
{
    delete m_window;
}

bool BrowserAuthSheet::openInBrowser(const QUrl &url)
{
    QStringList command = QProcess::splitCommand(qEnvironmentVariable("TOVRIKA_BROWSER"));
    if (command.isEmpty())
        command = {QStringLiteral("xdg-open")};
    const QString program = command.takeFirst();
    return QProcess::startDetached(program, command << url.toString(QUrl::FullyEncoded));
}

QCoro::Task<QUrl> BrowserAuthSheet::present(QUrl authorizeUrl)
{
    if (m_waiting)
        finish(std::nullopt); // a newer sign-in replaces the one still waiting
    if (!openInBrowser(authorizeUrl))
        throw AuthError::flow(L10n::tr(QStringLiteral("Could not open the sign-in window.")));

    m_waiting = true;
    m_redirect.reset();
    m_window = new SignInWaitWindow;
    connect(m_window, &SignInWaitWindow::cancelled, this, &BrowserAuthSheet::cancel);
    const QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        m_window->move(screen->availableGeometry().center() - m_window->rect().center());
    m_window->show();
    m_window->raise();
    m_window->activateWindow();

    co_await qCoro(this, &BrowserAuthSheet::finished);
    if (!m_redirect)
        throw AuthError::flow(L10n::tr(QStringLiteral("Sign-in was cancelled.")));
    const QUrl redirect = *m_redirect;
    m_redirect.reset();
    co_return redirect;
}

bool BrowserAuthSheet::deliverRedirect(const QUrl &url)
{
    if (!m_waiting)
        return false;
    finish(url);
    return true;
}

void BrowserAuthSheet::cancel()
{
    if (m_waiting)
        finish(std::nullopt);
}

void BrowserAuthSheet::finish(std::optional<QUrl> redirect)
{
    m_waiting = false;
    m_redirect = std::move(redirect);
    if (m_window) {
        m_window->disconnect(this);
        m_window->hide();
        m_window->deleteLater();
    }
    emit finished();
}
