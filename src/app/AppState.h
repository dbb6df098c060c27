#pragma once
// The one long-lived object of the program: it owns the services, holds the state that the
// tray menu and windows observe (phase, elapsed time, signed-in user, settings, recents),
// loads and stores the settings, and carries out the user's actions. Main thread only.

#include "app/ActiveRecording.h"
#include "app/CaptureKind.h"
#include "app/AppPhase.h"
#include "app/LastSelection.h"
#include "app/MediaDevice.h"
#include "app/RecentCapture.h"
#include "capture/CaptureOverlays.h"
#include "capture/Recorder.h"
#include "hotkeys/HotKeys.h"
#include "pickers/QuizPicker.h"
#include "pickers/TranslationPicker.h"
#include "pickers/ViewerPicker.h"
#include "platform/Platform.h"
#include "service/WireRecords.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <qcorotask.h>

class ApiClient;
class AuthService;
class MediaToolkit;
class UserFacingError;

// The recorder and the windows around a recording; the program makes the real ones, tests
// hand in fakes. AppState owns them.
struct CaptureServices {
    std::unique_ptr<Recorder> recorder;
    std::unique_ptr<CaptureOverlays> overlays;
    std::unique_ptr<TranslationPicker> translationPicker; // absent: no translated recordings
    std::unique_ptr<ViewerPicker> viewerPicker;           // absent: no viewers to choose
    std::unique_ptr<QuizPicker> quizPicker;

    static CaptureServices live(const Platform &platform);
};

class AppState final : public QObject {
    Q_OBJECT
public:
    using Phase = AppPhase;

    // Shares of at most this many bytes are accepted by the service ("2 GB").
    static constexpr qint64 shareLimitBytes = 2'147'483'648;

    explicit AppState(Platform platform, QObject *parent = nullptr);
    AppState(Platform platform, CaptureServices services, QObject *parent = nullptr);
    ~AppState() override;

    // The running program's state, once start-up is over.
    static AppState *shared();

    const Platform &platform() const { return m_platform; }
    AuthService &auth() { return *m_auth; }
    // The web service client, made on first use and then kept.
    ApiClient &api();
    QNetworkAccessManager &network() { return m_network; }
    Recorder &recorder() { return *m_capture.recorder; }
    CaptureOverlays &overlays() { return *m_capture.overlays; }
    HotKeys &hotKeys() { return *m_hotKeys; }
    MediaToolkit &media() { return m_platform.media; }

    // The time the recording clock reads; tests move it.
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTimeUtc(); };

    // ---- Published state (changed() follows every change) ----
    const Phase &phase() const { return m_phase; }
    void setPhase(const Phase &phase);

    const std::optional<QString> &signedInAs() const { return m_signedInAs; }
    void setSignedInAs(const std::optional<QString> &name);
    bool signingIn() const { return m_signingIn; }
    void setSigningIn(bool on);
    bool launchAtLogin() const { return m_launchAtLogin; }
    bool automaticUpdates() const { return m_automaticUpdates; }
    const QString &elapsed() const { return m_elapsed; }
    void setElapsed(const QString &text);
    bool annotatingScreenshot() const { return m_annotatingScreenshot; }
    void setAnnotatingScreenshot(bool on);
    bool recordingPaused() const { return m_recordingPaused; }
    void setRecordingPaused(bool paused);
    const std::optional<LastSelection> &lastSelection() const { return m_lastSelection; }
    void setLastSelection(const std::optional<LastSelection> &selection);
    const QList<RecentCapture> &recentCaptures() const { return m_recentCaptures; }
    void setRecentCaptures(const QList<RecentCapture> &captures);
    // The link of the last capture shared: the reserved one at first, then the final one.
    const std::optional<ShareLink> &lastLink() const { return m_lastLink; }
    void setLastLink(const std::optional<ShareLink> &link);

    // Library state (filled by the control panel's library).
    const QString &libraryQuery() const { return m_libraryQuery; }
    const QString &libraryError() const { return m_libraryError; }
    bool libraryLoading() const { return m_libraryLoading; }
    const std::optional<QString> &libraryFolderId() const { return m_libraryFolderId; }

    // ---- Settings: each setter changes the field, then writes it to the settings store ----
    bool micEnabled() const { return m_micEnabled; }
    void setMicEnabled(bool on);
    bool systemAudioEnabled() const { return m_systemAudioEnabled; }
    void setSystemAudioEnabled(bool on);
    bool askForCaptureName() const { return m_askForCaptureName; }
    void setAskForCaptureName(bool on);
    bool askForViewers() const { return m_askForViewers; }
    void setAskForViewers(bool on);
    bool notifyOnStart() const { return m_notifyOnStart; }
    void setNotifyOnStart(bool on);
    bool annotateScreenshots() const { return m_annotateScreenshots; }
    void setAnnotateScreenshots(bool on);
    bool useSystemScreenshotTool() const { return m_useSystemScreenshotTool; }
    void setUseSystemScreenshotTool(bool on);
    int screenshotDelaySeconds() const { return m_screenshotDelaySeconds; }
    void setScreenshotDelaySeconds(int seconds);
    const QString &languageOverride() const { return m_languageOverride; }
    const std::optional<QString> &micDeviceID() const { return m_micDeviceID; }
    void setMicDeviceID(const std::optional<QString> &id);
    const std::optional<QString> &cameraDeviceID() const { return m_cameraDeviceID; }
    void setCameraDeviceID(const std::optional<QString> &id);
    const QString &cameraCorner() const { return m_cameraCorner; }
    void setCameraCorner(const QString &corner);
    // Read only: written by the service's web settings of older versions.
    bool closedCaptions() const { return m_closedCaptions; }
    const QString &captionLanguage() const { return m_captionLanguage; }
    const QString &voiceOver() const { return m_voiceOver; }

    // ---- Unpublished state ----
    bool namingCapture = false;
    bool startingRecording = false;
    bool discardingRecording = false;
    std::optional<ActiveRecording> activeRecording;
    std::optional<QString> recordingMicrophoneName;
    double elapsedAccumulated = 0;
    bool recordingAsGif = false;
    bool gifStopIssued = false;
    bool menuBarIconVisible = true;
    bool translationArmed = false;
    bool shareLimitStopIssued = false;
    // The current finishing attempt: its generation, whether it was given up, the file that
    // holds the capture right now (for rescue) and when it began.
    int finishingToken = 0;
    bool finishingAbandoned = false;
    std::optional<QString> finishingFile;
    QDateTime finishingStartedAt;

    // ---- Recording control ----
    // Idle: starts a full-screen (of the screen with the keyboard) or an area recording.
    // Recording: stops it. Otherwise nothing.
    void toggleRecording(bool fullScreen);
    QCoro::Task<> startFullScreenRecording(quint32 displayID);
    QCoro::Task<> startAreaRecording();
    QCoro::Task<> startGifRecording();
    QCoro::Task<> recordWithTranslation();
    bool canRecordWithTranslation() const { return m_capture.translationPicker != nullptr; }
    void quickRecordLastSelection();
    // After a 3-second countdown (cancellable), records the display or the rectangle of it.
    // A second call while one is under way is dropped.
    QCoro::Task<> startRecording(quint32 displayID, std::optional<QRectF> sourceRect, bool asGif, bool restarting);
    // Pausing ends the current segment file, resuming starts the next one.
    QCoro::Task<> togglePauseRecording();
    QCoro::Task<> stopRecording();
    QCoro::Task<> discardRecording();
    QCoro::Task<> redoRecording();
    // The recorder ended on its own, with the segment it wrote (if any).
    void handleExternalStop(std::optional<QString> file, std::optional<PlatformError> error);
    // One tick of the elapsed timer: the elapsed text, the share limit and the GIF length.
    void elapsedTick();
    bool elapsedTimerRunning() const { return m_elapsedTimer.isActive(); }
    // Bytes of the current recording's segment files, the one being written included.
    qint64 recordingBytesSoFar() const;

    QList<MediaDevice> audioInputDevices() const;
    QList<MediaDevice> cameraDevices() const;
    QString systemDefaultMicrophoneLabel() const;
    // The microphone for the next segment (none when the microphone is off); logs its name.
    std::optional<QString> microphoneForRecording();
    std::optional<QString> resolvedMicrophoneDeviceID(const std::optional<QString> &id) const;
    std::optional<QString> microphoneDeviceName(const std::optional<QString> &id) const;

    // "<prefix> 2026-12-11 at 6.07.40 AM.<ext>", the date in the user's locale.
    static QString captureName(const QString &prefix, const QString &ext, const QDateTime &when);
    // A path in the captures folder named by captureName that no file has yet: a second file
    // within the same second gets " 2", then " 3", before the extension.
    QString newCaptureFile(const QString &prefix, const QString &ext) const;

    // Joins or optimises the segments, checks size and silence, then hands the file on.
    QCoro::Task<> finishAndPublish(QList<QString> segments, int token);
    // Whether a finishing attempt may still touch the state.
    bool finishingIsCurrent(int token) const { return token == finishingToken && !finishingAbandoned; }

    // ---- Publishing ----
    struct PublishRequest {
        QString file;
        QString contentType;
        CaptureKind kind = CaptureKind::video;
        bool keptInCaptures = false; // failures add that the file is saved in the captures folder
        bool retrying = false;       // the one retry after signing in again
        bool titleIsDefault = true;
        std::optional<int> finishingToken; // the finishing attempt it belongs to
        std::optional<TranslationPlan> pendingTranslation;
        bool copyLink = true;
        bool ownsPhase = true; // drives the phase through uploading back to idle
    };
    enum class SignInReason { sessionExpired, notSignedIn };
    static constexpr int recentCapturesKept = 10;

    // Reserves the link (on the clipboard at once), uploads with progress, adds the poster and
    // viewers, creates the share link. Never fails outward: failures are shown to the user.
    QCoro::Task<> publish(PublishRequest request);
    // Offers to rename the capture before it is shared; answers the file to use and whether its
    // title is still the automatic one.
    QCoro::Task<std::pair<QString, bool>> maybeRename(QString file, QString kind, int token);
    // Uploads the video's first frame; the poster's blob name, or nothing on any failure.
    QCoro::Task<std::optional<QString>> uploadPoster(QString video);
    void rememberCapture(const ShareLink &link, const QString &file, CaptureKind kind);
    // Answers true when the user signed in.
    QCoro::Task<bool> promptToSignInAgain(QString file, bool keptInCaptures, SignInReason reason);
    QCoro::Task<> presentUpdateRequired(QString file, bool keptInCaptures);
    // From the menu: pick a video file and share it. Only when idle.
    void uploadVideoFile();
    // A file dropped on the program's window. Only when idle.
    void uploadVideoFile(const QString &file);
    QCoro::Task<> importAndPublish(QString file);
    // Puts the last link on the clipboard.
    void copyLastLink();

    // ---- Actions ----
    // What a global hotkey does.
    void dispatchHotKey(HotKeys::Action action);
    // URLs handed to the program ("tovrika://record", ...).
    void openUrls(const QList<QUrl> &urls);
    // The user started the program again while it runs.
    void reopen();
    void showWelcome();
    void openCapturesFolder();
    void setLaunchAtLogin(bool on);

    // Session and account.
    QCoro::Task<> verifySession(bool announce);
    // The menu's "Sign In…".
    void signIn();
    void signOut();
    void cancelSignIn();
    // Interactive sign-in with the e-mail hint first; answers whether it succeeded.
    QCoro::Task<bool> runSignIn();
    QCoro::Task<> promptForEmailHintIfNeeded();
    // A plausible work e-mail typed at the hint prompt, trimmed and lower-cased; else nothing.
    static std::optional<QString> acceptableEmailHint(const QString &typed);
    // Logs the failure and shows it in a warning alert.
    QCoro::Task<> presentError(QString title, QString description, QString logDetail);
    // Stores the new language and offers to relaunch in it.
    QCoro::Task<> setLanguageOverride(QString code);

    // Finishing timeout: at most 180 s without progress while no prompt is open, and 900 s in all.
    void refreshFinishingTimeout();
    QCoro::Task<> giveUpOnFinishing(int token);
    bool finishingTimeoutArmed() const { return m_finishingTimeout != nullptr; }
    // The file to show the user after giving up, or nothing.
    std::optional<QString> recoverableCapture() const;
    static bool nonEmptyFile(const QString &path, const std::optional<QDateTime> &modifiedAfter);

signals:
    // Any published field changed.
    void changed();
    void phaseChanged(const AppPhase &oldPhase);
    // The user asked for the program's window (reopen, welcome).
    void windowRequested();
    // The user asked to look for a newer version now.
    void updateCheckRequested();

private:
    void readSettings();
    void startElapsedTimer(const QDateTime &started);
    void stopElapsedTimer();
    void updateElapsed(const QDateTime &started);
    void stopIfAtShareLimit();
    void hideRecordingOverlays();
    void registerHotKeysUnlessSuspended();
    // Ends the recording's bookkeeping for stop, discard and redo: answers its segments and the
    // finishing token of the new attempt.
    std::pair<QList<QString>, int> endRecordingForFinishing();
    // Discard and redo: ends the recording, stops the recorder and answers every segment file
    // with the token; sets discardingRecording, which the caller clears.
    QCoro::Task<std::pair<QList<QString>, int>> stopForDiscard();
    QCoro::Task<> startSelectedRecording(bool asGif);
    // Starts the recorder on a new segment file with the chosen microphone; throws its error.
    QCoro::Task<> startSegment(quint32 displayID, std::optional<QRectF> sourceRect, QString file);
    void finishingPhaseChanged(const Phase &oldPhase);
    void cancelFinishingTimeout();
    void writeSetting(const QString &key, bool value);
    void writeSetting(const QString &key, int value);
    void writeSetting(const QString &key, const QString &value);
    void writeSetting(const QString &key, const std::optional<QString> &value);
    template <typename T>
    void assignSetting(T &field, const T &value, const QString &key);
    template <typename T>
    void assign(T &field, const T &value);

    Platform m_platform;

    Phase m_phase;
    std::optional<QString> m_signedInAs;
    bool m_signingIn = false;
    bool m_launchAtLogin = false;
    bool m_automaticUpdates = true;
    QString m_elapsed = QStringLiteral("0:00");
    bool m_micEnabled = true;
    bool m_systemAudioEnabled = false;
    bool m_askForCaptureName = false;
    bool m_annotateScreenshots = false;
    bool m_annotatingScreenshot = false;
    QString m_languageOverride;
    int m_screenshotDelaySeconds = 5;
    bool m_useSystemScreenshotTool = false;
    bool m_askForViewers = false;
    bool m_notifyOnStart = false;
    bool m_closedCaptions = false;
    QString m_captionLanguage = QStringLiteral("en");
    QString m_voiceOver = QStringLiteral("off");
    std::optional<QString> m_micDeviceID;
    std::optional<QString> m_cameraDeviceID;
    QString m_cameraCorner = QStringLiteral("off");
    std::optional<LastSelection> m_lastSelection;
    bool m_recordingPaused = false;
    QList<RecentCapture> m_recentCaptures;
    std::optional<ShareLink> m_lastLink;
    QString m_libraryQuery;
    QString m_libraryError;
    bool m_libraryLoading = false;
    std::optional<QString> m_libraryFolderId;

    std::unique_ptr<QTimer> m_finishingTimeout;
    QTimer m_elapsedTimer;
    CaptureServices m_capture;
    std::unique_ptr<HotKeys> m_hotKeys;
    QNetworkAccessManager m_network;
    std::unique_ptr<AuthService> m_auth;
    std::unique_ptr<ApiClient> m_api;
    QTimer m_sessionCheckTimer;
};
