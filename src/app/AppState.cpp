#include "app/AppState.h"

#include "app/Config.h"
#include "app/TovrikaUrl.h"
#include "auth/AuthService.h"
#include "auth/Keychain.h"
#include "service/ApiClient.h"
#include "platform/DesktopNotifications.h"
#include "platform/LoginItem.h"
#include "platform/SettingsStore.h"
#include "platform/Workspace.h"
#include "support/FileLog.h"
#include "support/L10n.h"
#include "support/UserFacingError.h"
#include "ui/Alerts.h"
#include "ui/Notifier.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>
#include <QPushButton>
#include <QProcess>
#include <qcorosignal.h>

namespace {
QPointer<AppState> g_shared;

const QStringList kCaptionLanguages = {
    QStringLiteral("en"), QStringLiteral("pt-BR"), QStringLiteral("pt-PT"), QStringLiteral("es"),
    QStringLiteral("fr"), QStringLiteral("de"), QStringLiteral("it"), QStringLiteral("ja"),
    QStringLiteral("hi"), QStringLiteral("ar"), QStringLiteral("he"),
};

constexpr int kSessionCheckIntervalMs = 21600 * 1000;

QString yourAccount()
{
    return L10n::tr(QStringLiteral("your account"));
}

} // namespace

AppState::AppState(Platform platform, QObject *parent)
    : AppState(platform, CaptureServices::live(platform), parent)
{
}

AppState::AppState(Platform platform, CaptureServices services, QObject *parent)
    : QObject(parent)
    , finishingStartedAt(QDateTime::currentDateTimeUtc())
    , m_platform(platform)
    , m_capture(std::move(services))
{
    m_launchAtLogin = m_platform.loginItem.isEnabled();
    m_auth = std::make_unique<AuthService>(m_platform.settings, m_platform.webAuth, m_network);
    m_hotKeys = std::make_unique<HotKeys>(m_platform.settings, m_platform.keys);

    readSettings();
    if (Keychain::read(QStringLiteral("refreshToken")))
        m_signedInAs = m_auth->displayName().value_or(yourAccount());

    QDir().mkpath(Config::capturesFolder()); // a failure shows up when a capture is written

    if (!m_platform.notifications.available())
        FileLog::write(QStringLiteral("notifications: unavailable (%1); notifications are only logged")
                           .arg(m_platform.notifications.unavailableReason()));

    if (m_platform.settings.boolValue(QStringLiteral("welcomeShown")) != true)
        QTimer::singleShot(1000, this, &AppState::showWelcome);

    m_auth->onSessionExpired = [self = QPointer<AppState>(this)] {
        if (self)
            self->setSignedInAs(std::nullopt);
    };
    m_auth->onAuthEvent = [self = QPointer<AppState>(this)](const QString &event, const QString &code) {
        if (self)
            self->api().reportAuthEvent(event, code, self->signedInAs().value_or(QString()));
    };

    verifySession(true);
    m_sessionCheckTimer.setInterval(kSessionCheckIntervalMs);
    connect(&m_sessionCheckTimer, &QTimer::timeout, this, [this] { verifySession(true); });
    m_sessionCheckTimer.start();

    // The elapsed time ticks every second, menus open or not (Qt timers run in every mode).
    m_elapsedTimer.setInterval(1000);
    connect(&m_elapsedTimer, &QTimer::timeout, this, &AppState::elapsedTick);
    m_capture.recorder->onExternalStop = [self = QPointer<AppState>(this)](std::optional<QString> file,
                                                                           std::optional<PlatformError> error) {
        if (self)
            self->handleExternalStop(file, error);
    };
    m_hotKeys->onAction = [self = QPointer<AppState>(this)](HotKeys::Action action) {
        if (self)
            self->dispatchHotKey(action);
    };
    m_hotKeys->installHandlerIfNeeded();
    m_hotKeys->registerAll();

    g_shared = this;
}

AppState::~AppState() = default;

AppState *AppState::shared()
{
    return g_shared.data();
}

ApiClient &AppState::api()
{
    if (!m_api)
        m_api = std::make_unique<ApiClient>(*m_auth, m_network, m_platform.settings);
    return *m_api;
}

void AppState::readSettings()
{
    const SettingsStore &store = m_platform.settings;
    m_micEnabled = store.boolValue(QStringLiteral("micEnabled")).value_or(true);
    m_systemAudioEnabled = store.boolValue(QStringLiteral("systemAudioEnabled")).value_or(false);
    m_askForCaptureName = store.boolValue(QStringLiteral("askForCaptureName")).value_or(false);
    m_askForViewers = store.boolValue(QStringLiteral("askForViewers")).value_or(false);
    m_notifyOnStart = store.boolValue(QStringLiteral("notifyOnStart")).value_or(false);
    m_annotateScreenshots = store.boolValue(QStringLiteral("annotateScreenshots")).value_or(false);
    m_useSystemScreenshotTool = store.boolValue(QStringLiteral("useSystemScreenshotTool")).value_or(false);
    m_screenshotDelaySeconds = int(store.intValue(QStringLiteral("screenshotDelaySeconds")).value_or(5));
    m_languageOverride = store.textValue(QStringLiteral("languageOverride")).value_or(QString());
    m_micDeviceID = store.textValue(QStringLiteral("micDeviceID"));
    m_cameraDeviceID = store.textValue(QStringLiteral("cameraDeviceID"));
    m_cameraCorner = store.textValue(QStringLiteral("cameraCorner")).value_or(QStringLiteral("off"));
    m_closedCaptions = store.boolValue(QStringLiteral("closedCaptions")).value_or(false);

    const QString caption = store.textValue(QStringLiteral("captionLanguage")).value_or(QStringLiteral("en"));
    m_captionLanguage = kCaptionLanguages.contains(caption) ? caption : QStringLiteral("en");
    const QString voice = store.textValue(QStringLiteral("voiceOver")).value_or(QStringLiteral("off"));
    m_voiceOver = (voice == QLatin1String("f") || voice == QLatin1String("m")) ? voice : QStringLiteral("off");

    // Undecodable records leave the field as it was; the stored value stays until the next write.
    if (const auto data = store.dataValue(QStringLiteral("lastSelection")))
        if (const auto selection = LastSelection::fromJson(*data))
            m_lastSelection = selection;
    if (const auto data = store.dataValue(QStringLiteral("recentCaptures")))
        if (const auto captures = RecentCapture::listFromJson(*data))
            m_recentCaptures = *captures;
}

// ---- Published fields ----

template <typename T>
void AppState::assign(T &field, const T &value)
{
    if (field == value)
        return;
    field = value;
    emit changed();
}

template <typename T>
void AppState::assignSetting(T &field, const T &value, const QString &key)
{
    // Written even when unchanged: assigning a setting again stores it again.
    field = value;
    writeSetting(key, value);
    emit changed();
}

void AppState::setPhase(const Phase &phase)
{
    const Phase oldPhase = m_phase;
    m_phase = phase;
    finishingPhaseChanged(oldPhase);
    emit phaseChanged(oldPhase);
    emit changed();
}

void AppState::setSignedInAs(const std::optional<QString> &name) { assign(m_signedInAs, name); }
void AppState::setSigningIn(bool on) { assign(m_signingIn, on); }
void AppState::setElapsed(const QString &text) { assign(m_elapsed, text); }
void AppState::setRecordingPaused(bool paused) { assign(m_recordingPaused, paused); }
void AppState::setLastLink(const std::optional<ShareLink> &link) { assign(m_lastLink, link); }

void AppState::setAnnotatingScreenshot(bool on)
{
    assign(m_annotatingScreenshot, on);
    refreshFinishingTimeout();
}

void AppState::setLastSelection(const std::optional<LastSelection> &selection)
{
    m_lastSelection = selection;
    if (selection)
        m_platform.settings.setValue(QStringLiteral("lastSelection"), selection->toJson());
    else
        m_platform.settings.remove(QStringLiteral("lastSelection"));
    emit changed();
}

void AppState::setRecentCaptures(const QList<RecentCapture> &captures)
{
    m_recentCaptures = captures;
    m_platform.settings.setValue(QStringLiteral("recentCaptures"), RecentCapture::listToJson(captures));
    emit changed();
}

void AppState::setMicEnabled(bool on) { assignSetting(m_micEnabled, on, QStringLiteral("micEnabled")); }
void AppState::setSystemAudioEnabled(bool on) { assignSetting(m_systemAudioEnabled, on, QStringLiteral("systemAudioEnabled")); }
void AppState::setAskForCaptureName(bool on) { assignSetting(m_askForCaptureName, on, QStringLiteral("askForCaptureName")); }
void AppState::setAskForViewers(bool on) { assignSetting(m_askForViewers, on, QStringLiteral("askForViewers")); }
void AppState::setNotifyOnStart(bool on) { assignSetting(m_notifyOnStart, on, QStringLiteral("notifyOnStart")); }
void AppState::setAnnotateScreenshots(bool on) { assignSetting(m_annotateScreenshots, on, QStringLiteral("annotateScreenshots")); }
void AppState::setUseSystemScreenshotTool(bool on) { assignSetting(m_useSystemScreenshotTool, on, QStringLiteral("useSystemScreenshotTool")); }
void AppState::setScreenshotDelaySeconds(int seconds) { assignSetting(m_screenshotDelaySeconds, seconds, QStringLiteral("screenshotDelaySeconds")); }
void AppState::setMicDeviceID(const std::optional<QString> &id) { assignSetting(m_micDeviceID, id, QStringLiteral("micDeviceID")); }
void AppState::setCameraDeviceID(const std::optional<QString> &id) { assignSetting(m_cameraDeviceID, id, QStringLiteral("cameraDeviceID")); }
void AppState::setCameraCorner(const QString &corner) { assignSetting(m_cameraCorner, corner, QStringLiteral("cameraCorner")); }

void AppState::writeSetting(const QString &key, bool value) { m_platform.settings.setValue(key, value); }
void AppState::writeSetting(const QString &key, int value) { m_platform.settings.setValue(key, qint64(value)); }
void AppState::writeSetting(const QString &key, const QString &value) { m_platform.settings.setValue(key, value); }

void AppState::writeSetting(const QString &key, const std::optional<QString> &value)
{
    if (value)
        m_platform.settings.setValue(key, *value);
    else
        m_platform.settings.remove(key);
}

// ---- Actions ----

void AppState::openUrls(const QList<QUrl> &urls)
{
    for (const QUrl &url : urls) {
        if (TovrikaUrl::isAuthRedirect(url)) {
            if (!m_auth->deliverRedirect(url))
                FileLog::write(QStringLiteral("url: sign-in redirect while no sign-in waits"));
            continue;
        }
        if (!TovrikaUrl::isRecordRequest(url))
            continue;
        translationArmed = false;
        FileLog::write(QStringLiteral("url: area recording requested (%1)").arg(url.toString()));
        // Only from idle: a selection over a running recording would orphan it.
        if (!m_phase.is(Phase::Kind::idle)) {
            FileLog::write(QStringLiteral("url: record ignored while phase %1").arg(m_phase.description()));
            continue;
        }
        startAreaRecording();
    }
}

void AppState::reopen()
{
    FileLog::write(QStringLiteral("reopen requested"));
    emit windowRequested();
}

void AppState::showWelcome()
{
    m_platform.settings.setValue(QStringLiteral("welcomeShown"), true);
    Notifier::show(L10n::tr(QStringLiteral("Welcome to Tovrika!")),
                   L10n::tr(QStringLiteral("Tovrika lives in the menu bar, near the clock. Click the icon to record.")));
    emit windowRequested();
}

void AppState::openCapturesFolder()
{
    const QString folder = Config::capturesFolder();
    QDir().mkpath(folder);
    if (!m_platform.workspace.open(QUrl::fromLocalFile(folder)))
        FileLog::write(QStringLiteral("open captures folder failed: %1").arg(folder));
}

void AppState::setLaunchAtLogin(bool on)
{
    if (const auto error = m_platform.loginItem.setEnabled(on)) {
        Notifier::show(L10n::tr(QStringLiteral("Launch at Login")), *error);
        emit changed(); // the toggle shows the unchanged state again
        return;
    }
    assign(m_launchAtLogin, on);
}

QCoro::Task<> AppState::setLanguageOverride(QString code)
{
    if (code == m_languageOverride)
        co_return;
    assignSetting(m_languageOverride, code, QStringLiteral("languageOverride"));

    QPointer<AppState> self(this);
    auto *box = Alerts::make(QMessageBox::Information, L10n::tr(QStringLiteral("Relaunch Tovrika to show it in the new language.")), {});
    QPushButton *relaunch = box->addButton(L10n::tr(QStringLiteral("Relaunch Now")), QMessageBox::AcceptRole);
    box->addButton(L10n::tr(QStringLiteral("Later")), QMessageBox::RejectRole);
    Alerts::present(box);
    co_await Alerts::finished(box);
    if (!self || box->clickedButton() != static_cast<QAbstractButton *>(relaunch))
        co_return;

    // A detached shell starts the program again once this instance has let go of its socket.
    QProcess::startDetached(QStringLiteral("/bin/sh"),
                            {QStringLiteral("-c"), QStringLiteral("sleep 0.7; exec \"$0\""),
                             QCoreApplication::applicationFilePath()});
    QCoreApplication::quit();
}

// ---- Session and account ----

QCoro::Task<> AppState::verifySession(bool announce)
{
    if (!Keychain::read(QStringLiteral("refreshToken")))
        co_return;
    QPointer<AppState> self(this);
    const bool valid = co_await m_auth->verifySession();
    if (!self)
        co_return;
    if (valid) {
        setSignedInAs(m_auth->displayName().value_or(yourAccount()));
        co_return;
    }
    setSignedInAs(std::nullopt);
    if (announce)
        Notifier::show(L10n::tr(QStringLiteral("Signed out of Tovrika")),
                       L10n::tr(QStringLiteral("Your sign-in expired. Choose Sign In… from the Tovrika menu to keep sharing recordings.")));
}

void AppState::signIn()
{
    runSignIn();
}

void AppState::signOut()
{
    m_auth->signOut();
    setSignedInAs(std::nullopt);
}

void AppState::cancelSignIn()
{
    m_auth->cancelSignIn();
}

QCoro::Task<bool> AppState::runSignIn()
{
    QPointer<AppState> self(this);
    setSigningIn(true);
    co_await promptForEmailHintIfNeeded();
    if (!self)
        co_return false;
    std::optional<QString> failure;
    std::optional<QString> failureDetail;
    try {
        co_await m_auth->signIn();
    } catch (const UserFacingError &error) {
        failure = error.description();
        failureDetail = QStringLiteral("%1 %2").arg(error.domain()).arg(error.code());
    }
    if (!self)
        co_return false;
    if (!failure)
        setSignedInAs(m_auth->displayName().value_or(yourAccount()));
    setSigningIn(false);
    if (failure)
        co_await presentError(L10n::tr(QStringLiteral("Sign-in failed")), *failure, *failureDetail);
    co_return !failure;
}

std::optional<QString> AppState::acceptableEmailHint(const QString &typed)
{
    const QString text = typed.trimmed().toLower();
    const qsizetype at = text.lastIndexOf(QLatin1Char('@'));
    if (at <= 0 || at == text.size() - 1 || text.contains(QLatin1Char(' ')))
        return std::nullopt;
    return text;
}

QCoro::Task<> AppState::promptForEmailHintIfNeeded()
{
    const auto hint = m_platform.settings.textValue(QStringLiteral("signInHint"));
    if (hint && !AuthService::isOpaqueGuidUsername(*hint))
        co_return;

    auto *dialog = new QDialog;
    dialog->setWindowTitle(QStringLiteral("Tovrika"));
    dialog->setWindowFlag(Qt::WindowStaysOnTopHint);
    auto *layout = new QVBoxLayout(dialog);
    auto *message = new QLabel(L10n::tr(QStringLiteral("Sign in to Tovrika")), dialog);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    layout->addWidget(message);
    layout->addWidget(new QLabel(L10n::tr(QStringLiteral("Enter your work email to go straight to your organization's sign-in.")), dialog));
    auto *field = new QLineEdit(dialog);
    field->setPlaceholderText(QStringLiteral("name@company.com"));
    field->setFixedSize(260, 24);
    layout->addWidget(field);
    auto *buttons = new QDialogButtonBox(dialog);
    buttons->addButton(L10n::tr(QStringLiteral("Continue")), QDialogButtonBox::AcceptRole);
    buttons->addButton(L10n::tr(QStringLiteral("Skip")), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    field->setFocus();
    Alerts::present(dialog);

    QPointer<AppState> self(this);
    const int result = co_await Alerts::finished(dialog);
    if (!self || result != QDialog::Accepted)
        co_return;
    if (const auto accepted = acceptableEmailHint(field->text()))
        m_platform.settings.setValue(QStringLiteral("signInHint"), *accepted);
}

QCoro::Task<> AppState::presentError(QString title, QString description, QString logDetail)
{
    FileLog::write(QStringLiteral("%1: %2 (%3)").arg(title, description, logDetail));
    auto *box = Alerts::make(QMessageBox::Warning, title, description);
    box->addButton(QMessageBox::Ok);
    Alerts::present(box);
    co_await Alerts::finished(box);
}
