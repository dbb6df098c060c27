// AppState: finishing a capture. Segments are joined (or the one file is rewritten with its
// index first), the size and the sound are checked, and the file is handed to publishing. A
// timeout rescues the user when any of it hangs: the attempt is given up, its file shown.

#include "app/AppState.h"

#include "app/CaptureMedia.h"
#include "app/Config.h"
#include "platform/Workspace.h"
#include "support/FileLog.h"
#include "support/L10n.h"
#include "ui/Alerts.h"
#include "ui/NameCapturePrompt.h"
#include "ui/Notifier.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <qcorosignal.h>

namespace {
constexpr qint64 kOverallFinishingLimitSeconds = 900;
constexpr qint64 kIdleFinishingLimitSeconds = 180;
} // namespace

// ---- Finishing ----

QCoro::Task<> AppState::finishAndPublish(QList<QString> segments, int token)
{
    if (!finishingIsCurrent(token))
        co_return;
    QPointer<AppState> self(this);
    if (segments.isEmpty()) {
        setPhase(Phase::idle());
        Notifier::show(L10n::tr(QStringLiteral("Recording failed")), L10n::tr(QStringLiteral("Nothing was recorded.")));
        co_return;
    }
    finishingFile = segments.last();

    QString file;
    if (segments.size() == 1) {
        const QString segment = segments.first();
        file = co_await CaptureMedia::optimizeForStreaming(m_platform.media, segment);
        if (!self || !finishingIsCurrent(token))
            co_return;
    } else {
        const QString merged = newCaptureFile(QStringLiteral("Screen Recording"), QStringLiteral("mp4"));
        std::optional<QString> failure;
        try {
            co_await CaptureMedia::mergeSegments(m_platform.media, segments, merged);
        } catch (const std::exception &error) {
            failure = QString::fromUtf8(error.what());
        }
        if (!self || !finishingIsCurrent(token))
            co_return;
        if (failure) {
            QFile::remove(merged); // a partial join; the segments still hold the recording
            setPhase(Phase::idle());
            Notifier::show(L10n::tr(QStringLiteral("Couldn't finish recording")),
                           L10n::text(QStringLiteral("{error} The segments are saved in Movies/Tovrika."),
                                      {{QStringLiteral("error"), *failure}}));
            co_return;
        }
        for (const QString &segment : segments)
            if (segment != merged)
                QFile::remove(segment);
        file = merged;
    }

    finishingFile = file;
    const QFileInfo info(file);
    if (info.exists() && info.size() > shareLimitBytes) {
        setPhase(Phase::idle());
        Notifier::show(L10n::tr(QStringLiteral("Video too large")),
                       L10n::tr(QStringLiteral("Videos over 2 GB can't be shared. The file is saved in Movies/Tovrika.")));
        co_return;
    }

    const QString kind = QStringLiteral("recording");
    const std::pair<QString, bool> named = co_await maybeRename(file, kind, token);
    if (!self || !finishingIsCurrent(token))
        co_return;
    file = named.first;
    const bool titleIsDefault = named.second;
    finishingFile = file;

    if (micEnabled()) {
        const bool silent = co_await CaptureMedia::audioLooksSilent(m_platform.media, file);
        if (!self || !finishingIsCurrent(token))
            co_return;
        if (silent)
            Notifier::show(L10n::tr(QStringLiteral("No microphone audio detected")),
                           L10n::text(QStringLiteral("The recording looks silent. macOS recorded from \"{device}\" — check System Settings → Sound → Input. The video is still being shared."),
                                      {{QStringLiteral("device"), recordingMicrophoneName.value_or(L10n::tr(QStringLiteral("your microphone")))}}));
    }

    PublishRequest request;
    request.file = file;
    request.contentType = QStringLiteral("video/mp4");
    request.kind = recordingAsGif ? CaptureKind::gif : CaptureKind::video;
    request.keptInCaptures = true;
    request.titleIsDefault = titleIsDefault;
    request.finishingToken = token;
    co_await publish(request);
    if (self)
        recordingAsGif = false;
}
// ---- Finishing attempts ----

void AppState::finishingPhaseChanged(const Phase &oldPhase)
{
    const bool nowProcessing = m_phase.is(Phase::Kind::processing);
    const bool wasProcessing = oldPhase.is(Phase::Kind::processing);
    if (nowProcessing && !wasProcessing) {
        ++finishingToken;
        finishingAbandoned = false;
        finishingStartedAt = QDateTime::currentDateTimeUtc();
        refreshFinishingTimeout();
    } else if (!nowProcessing && wasProcessing) {
        cancelFinishingTimeout();
    }
}

void AppState::cancelFinishingTimeout()
{
    // The timer may be the one whose signal is running right now, so it goes later.
    if (m_finishingTimeout) {
        m_finishingTimeout->stop();
        m_finishingTimeout.release()->deleteLater();
    }
}

void AppState::refreshFinishingTimeout()
{
    cancelFinishingTimeout();
    if (!m_phase.is(Phase::Kind::processing) || finishingAbandoned)
        return;

    const qint64 elapsedMs = finishingStartedAt.msecsTo(QDateTime::currentDateTimeUtc());
    qint64 delayMs = kOverallFinishingLimitSeconds * 1000 - elapsedMs;
    if (!annotatingScreenshot() && !namingCapture)
        delayMs = std::min(delayMs, kIdleFinishingLimitSeconds * 1000);

    m_finishingTimeout = std::make_unique<QTimer>();
    m_finishingTimeout->setSingleShot(true);
    m_finishingTimeout->setTimerType(Qt::PreciseTimer);
    const int token = finishingToken;
    connect(m_finishingTimeout.get(), &QTimer::timeout, this, [this, token] { giveUpOnFinishing(token); });
    m_finishingTimeout->start(int(std::clamp<qint64>(delayMs, 0, std::numeric_limits<int>::max())));
}

QCoro::Task<> AppState::giveUpOnFinishing(int token)
{
    if (token != finishingToken || finishingAbandoned || !m_phase.is(Phase::Kind::processing))
        co_return;

    const std::optional<QString> file = recoverableCapture();
    finishingAbandoned = true;
    ++finishingToken; // every pending step of this attempt now drops its result
    setAnnotatingScreenshot(false);
    namingCapture = false;
    refreshFinishingTimeout();
    if (NameCapturePrompt::isOpen())
        NameCapturePrompt::cancelCurrent();

    FileLog::write(QStringLiteral("finishing timed out; file ") + file.value_or(QStringLiteral("none")));
    if (file)
        m_platform.workspace.revealFile(*file);

    const QString captures = Config::capturesFolder();
    QString informative;
    if (!file)
        informative = L10n::tr(QStringLiteral("Nothing was saved. Tovrika reset so you can try again."));
    else if (file->startsWith(captures + QLatin1Char('/')))
        informative = L10n::tr(QStringLiteral("The file is in Movies/Tovrika and was opened for you. Tovrika reset so you can try again."));
    else
        informative = L10n::tr(QStringLiteral("The file was opened for you. Nothing was uploaded, and Tovrika reset so you can try again."));

    QPointer<AppState> self(this);
    auto *box = Alerts::make(QMessageBox::Warning, L10n::tr(QStringLiteral("Couldn't finish that capture")), informative);
    box->addButton(L10n::tr(QStringLiteral("OK")), QMessageBox::AcceptRole);
    Alerts::present(box);
    co_await Alerts::finished(box);
    if (!self)
        co_return;
    setPhase(Phase::idle());
    registerHotKeysUnlessSuspended();
}

bool AppState::nonEmptyFile(const QString &path, const std::optional<QDateTime> &modifiedAfter)
{
    const QFileInfo info(path);
    if (!info.exists() || info.size() < 1)
        return false;
    const QDateTime modified = info.lastModified();
    if (!modifiedAfter || !modified.isValid())
        return true;
    return modified >= *modifiedAfter;
}

std::optional<QString> AppState::recoverableCapture() const
{
    if (finishingFile && nonEmptyFile(*finishingFile, std::nullopt))
        return finishingFile;

    static const QStringList extensions = {QStringLiteral("png"), QStringLiteral("mp4"), QStringLiteral("mov"),
                                           QStringLiteral("gif")};
    const QDateTime notBefore = finishingStartedAt.addSecs(-2);
    std::optional<QString> newest;
    QDateTime newestDate;
    for (const QFileInfo &entry : QDir(Config::capturesFolder()).entryInfoList(QDir::Files)) {
        if (!extensions.contains(entry.suffix().toLower()) || !nonEmptyFile(entry.absoluteFilePath(), notBefore))
            continue;
        const QDateTime modified = entry.lastModified();
        if (!newest || (modified.isValid() && (!newestDate.isValid() || modified > newestDate))) {
            newest = entry.absoluteFilePath();
            newestDate = modified;
        }
    }
    return newest;
}
