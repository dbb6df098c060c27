// AppState: publishing a capture. The link is reserved first and put on the clipboard at once;
// the upload runs with its percentage in the phase while the viewers are chosen; then the
// poster, the share link and the recents list. Every failure leaves the local file as it was
// and is shown to the user; an expired session gets one sign-in and one retry.

#include "app/AppState.h"

#include "app/CaptureMedia.h"
#include "app/Config.h"
#include "auth/AuthError.h"
#include "auth/Keychain.h"
#include "platform/Clipboard.h"
#include "service/ApiClient.h"
#include "service/ApiError.h"
#include "support/FileLog.h"
#include "support/L10n.h"
#include "ui/Alerts.h"
#include "ui/NameCapturePrompt.h"
#include "ui/Notifier.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QUuid>

namespace {

QString savedInCapturesSuffix(bool keptInCaptures, const QString &sentence)
{
    return keptInCaptures ? QStringLiteral(" ") + L10n::tr(sentence) : QString();
}

// How a failed publish step is handled.
enum class FailureKind { signInAgain, updateRequired, other };

FailureKind classify(const std::exception &error, bool retrying)
{
    if (const auto *auth = dynamic_cast<const AuthError *>(&error)) {
        const bool session = auth->kind() == AuthError::Kind::notSignedIn || auth->kind() == AuthError::Kind::sessionExpired
            || auth->kind() == AuthError::Kind::needsInteraction;
        return session && !retrying ? FailureKind::signInAgain : FailureKind::other;
    }
    if (const auto *api = dynamic_cast<const ApiError *>(&error); api && api->kind() == ApiError::Kind::updateRequired)
        return FailureKind::updateRequired;
    return FailureKind::other;
}

// Files in the temporary folder (converted imports) are gone soon; the captures folder never
// counts as temporary, even when it lives under the temporary folder.
bool isTemporary(const QString &path)
{
    return path.startsWith(QDir::tempPath() + QLatin1Char('/')) && !path.startsWith(Config::capturesFolder() + QLatin1Char('/'));
}

} // namespace

void AppState::copyLastLink()
{
    if (m_lastLink)
        m_platform.clipboard.setText(m_lastLink->url);
}

// ---- publish ----

QCoro::Task<> AppState::publish(PublishRequest request)
{
    QPointer<AppState> self(this);
    const auto isCurrent = [this, &request] { return !request.finishingToken || finishingIsCurrent(*request.finishingToken); };
    if (!isCurrent())
        co_return;

    // What the service should translate: only recordings, and only when it was asked for.
    std::optional<TranslationPlan> plan;
    if (request.kind == CaptureKind::video) {
        if (request.pendingTranslation) {
            plan = request.pendingTranslation;
        } else if (translationArmed) {
            translationArmed = false;
            if (m_capture.translationPicker) {
                const TranslationPlan saved = m_capture.translationPicker->savedPlan();
                if (!saved.captions.isEmpty() || !saved.voices.isEmpty())
                    plan = saved;
            }
        }
    }

    const QString fileName = QFileInfo(request.file).fileName();
    if (!Keychain::read(QStringLiteral("refreshToken"))) {
        if (request.ownsPhase)
            setPhase(Phase::idle());
        const bool signedIn = co_await promptToSignInAgain(request.file, request.keptInCaptures, SignInReason::notSignedIn);
        if (!self || !isCurrent())
            co_return;
        if (!signedIn) {
            Notifier::show(L10n::tr(QStringLiteral("Not shared — not signed in")),
                           L10n::tr(QStringLiteral("Sign in from the Tovrika menu, then use Upload Video File… to share it."))
                               + savedInCapturesSuffix(request.keptInCaptures, QStringLiteral("The file is saved in Movies/Tovrika.")));
            co_return;
        }
    }

    if (request.ownsPhase)
        setPhase(Phase::uploading(0));
    const QFileInfo info(request.file);
    FileLog::write(QStringLiteral("publish start: %1 (%2 bytes, %3)").arg(fileName).arg(info.exists() ? info.size() : 0).arg(request.contentType));
    const QString title = info.completeBaseName();

    std::exception_ptr failure;
    std::optional<ShareLink> link;
    std::optional<ViewerSelection> selection;
    try {
        const QString reserveType = request.kind == CaptureKind::gif ? QStringLiteral("image/gif") : request.contentType;
        const std::optional<QString> reserveTitle = title;
        const ReservedLink reserved = co_await api().reserveLink(reserveType, reserveTitle, request.titleIsDefault);
        if (!self)
            co_return;
        setLastLink(ShareLink{reserved.slug, reserved.url, std::nullopt, std::nullopt});

        if (request.copyLink) {
            m_platform.clipboard.setText(reserved.url);
            const std::optional<QString> preview = co_await CaptureMedia::previewImage(m_platform.media, request.file, request.kind);
            if (!self)
                co_return;
            Notifier::show(title, L10n::tr(QStringLiteral("Link copied to the clipboard")), preview);
        }
        rememberCapture(ShareLink{reserved.slug, reserved.url, std::nullopt, std::nullopt}, request.file, request.kind);
        FileLog::write(QStringLiteral("publish reserved: %1 %2").arg(reserved.slug, reserved.url));

        // A GIF is uploaded as a video to a target of its own and converted by the service.
        UploadTicket target{reserved.blobName, reserved.uploadUrl};
        if (request.kind == CaptureKind::gif) {
            ApiClient *client = &api();
            const QString contentType = request.contentType;
            const auto createTarget = [client, contentType] { return client->createUploadUrl(contentType); };
            target = co_await client->withTransportRetry<UploadTicket>(3, createTarget);
            if (!self)
                co_return;
        }
        FileLog::write(QStringLiteral("publish ticket: ") + target.blobName);

        const bool ownsPhase = request.ownsPhase;
        const std::function<void(double)> progress = [self, ownsPhase](double fraction) {
            QMetaObject::invokeMethod(self, [self, ownsPhase, fraction] {
                if (self && ownsPhase && self->phase().is(Phase::Kind::uploading))
                    self->setPhase(Phase::uploading(std::clamp(int(fraction * 100), 0, 100)));
            }, Qt::QueuedConnection);
        };
        // The upload runs while the viewers are chosen; its outcome is awaited afterwards.
        QCoro::Task<> upload = api().uploadBlob(request.file, target.uploadUrl, request.contentType, progress);
        if (request.kind == CaptureKind::video && m_askForViewers && m_capture.viewerPicker)
            selection = co_await m_capture.viewerPicker->run(title, api());
        co_await std::move(upload);
        if (!self)
            co_return;
        FileLog::write(QStringLiteral("publish uploaded: ") + target.blobName);

        QString blobName = target.blobName;
        std::optional<QString> poster;
        if (request.kind == CaptureKind::gif) {
            blobName = co_await api().convertToGif(target.blobName);
            FileLog::write(QStringLiteral("publish gif: ") + blobName);
        } else if (request.kind == CaptureKind::video) {
            poster = co_await uploadPoster(request.file);
        }
        if (!self)
            co_return;

        ApiClient::ShareRequest share;
        share.blobName = blobName;
        share.title = title;
        if (request.kind == CaptureKind::video)
            share.viewers = selection;
        share.posterBlobName = poster;
        share.slug = reserved.slug;
        share.titleIsDefault = request.titleIsDefault;
        share.translation = plan;
        link = co_await api().createShareLink(share);
    } catch (const std::exception &) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;

    if (failure) {
        FailureKind kind = FailureKind::other;
        QString description;
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception &error) {
            kind = classify(error, request.retrying);
            description = QString::fromUtf8(error.what());
            FileLog::write(QStringLiteral("publish failed: ") + description);
        }
        if (request.ownsPhase)
            setPhase(Phase::idle());
        if (kind == FailureKind::signInAgain) {
            setSignedInAs(std::nullopt);
            const bool signedIn = co_await promptToSignInAgain(request.file, request.keptInCaptures, SignInReason::sessionExpired);
            if (!self)
                co_return;
            if (signedIn) {
                PublishRequest retry = request;
                retry.retrying = true;
                retry.pendingTranslation = plan;
                co_await publish(retry);
            } else {
                Notifier::show(L10n::tr(QStringLiteral("Not shared — signed out")),
                               L10n::tr(QStringLiteral("Sign in from the Tovrika menu, then use Upload Video File… to share it."))
                                   + savedInCapturesSuffix(request.keptInCaptures, QStringLiteral("The file is saved in Movies/Tovrika.")));
            }
        } else if (kind == FailureKind::updateRequired) {
            co_await presentUpdateRequired(request.file, request.keptInCaptures);
        } else {
            Notifier::show(L10n::tr(QStringLiteral("Upload failed")),
                           request.keptInCaptures ? L10n::text(QStringLiteral("{error} The file is saved in Movies/Tovrika."),
                                                               {{QStringLiteral("error"), description}})
                                                  : description);
        }
        co_return;
    }

    QString done = QStringLiteral("publish done: ") + link->url;
    if (link->videoId)
        done += QStringLiteral(" (video %1, %2 viewers)").arg(*link->videoId).arg(link->assignmentCount.value_or(0));
    FileLog::write(done);

    if (selection && selection->askQuiz && link->videoId && m_capture.quizPicker) {
        co_await m_capture.quizPicker->run(*link->videoId, api());
        if (!self)
            co_return;
    }
    setLastLink(link);
    if (request.ownsPhase)
        setPhase(Phase::idle());

    const qint64 count = link->assignmentCount.value_or(0);
    if (count >= 1) {
        const QString titleText = count == 1 ? QStringLiteral("Video link copied — sent to {count} person")
                                             : QStringLiteral("Video link copied — sent to {count} people");
        Notifier::show(L10n::text(titleText, {{QStringLiteral("count"), QString::number(count)}}), link->url);
    }
}

// ---- Around publishing ----

QCoro::Task<std::pair<QString, bool>> AppState::maybeRename(QString file, QString kind, int token)
{
    if (!finishingIsCurrent(token) || !m_askForCaptureName)
        co_return std::pair(file, true);
    QPointer<AppState> self(this);
    namingCapture = true;
    refreshFinishingTimeout();

    const QFileInfo info(file);
    const QString current = info.completeBaseName();
    const QString title = kind == QLatin1String("recording") ? L10n::tr(QStringLiteral("Name this recording"))
                                                              : L10n::tr(QStringLiteral("Name this screenshot"));
    const QString message = L10n::tr(QStringLiteral("Used for the file, the share link, and the recents list."));
    const std::optional<QString> answer = co_await NameCapturePrompt::run(title, message, current);
    if (!self)
        co_return std::pair(file, true);

    std::pair<QString, bool> result(file, true);
    if (finishingIsCurrent(token) && answer) {
        QString name = answer->trimmed();
        if (!name.isEmpty() && name != current) {
            for (const QChar bad : {QLatin1Char('/'), QLatin1Char(':'), QLatin1Char('\\')})
                name.replace(bad, QLatin1Char('-'));
            const QString suffix = info.suffix().isEmpty() ? QString() : QStringLiteral(".") + info.suffix();
            QString target = info.dir().filePath(name + suffix);
            for (int n = 2; QFileInfo::exists(target); ++n)
                target = info.dir().filePath(QStringLiteral("%1 %2%3").arg(name).arg(n).arg(suffix));
            if (QFile::rename(file, target))
                result = std::pair(target, false);
        }
    }
    namingCapture = false;
    refreshFinishingTimeout();
    co_return result;
}

QCoro::Task<std::optional<QString>> AppState::uploadPoster(QString video)
{
    const QString png = QDir(QDir::tempPath()).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".png"));
    std::optional<QString> blobName;
    std::optional<QString> failure;
    try {
        const QImage frame = co_await m_platform.media.firstFrame(video);
        if (!frame.save(png, "PNG"))
            throw UserFacingError(L10n::tr(QStringLiteral("The poster picture couldn't be written.")));
        ApiClient *client = &api();
        const auto createTarget = [client] { return client->createUploadUrl(QStringLiteral("image/png")); };
        const UploadTicket target = co_await client->withTransportRetry<UploadTicket>(3, createTarget);
        const QString contentType = QStringLiteral("image/png");
        const std::function<void(double)> noProgress;
        co_await client->uploadBlob(png, target.uploadUrl, contentType, noProgress);
        blobName = target.blobName;
    } catch (const std::exception &error) {
        failure = QString::fromUtf8(error.what());
    }
    QFile::remove(png);
    if (failure)
        FileLog::write(QStringLiteral("poster upload failed: ") + *failure);
    else
        FileLog::write(QStringLiteral("poster uploaded: ") + *blobName);
    co_return blobName;
}

void AppState::rememberCapture(const ShareLink &link, const QString &file, CaptureKind kind)
{
    std::optional<QString> filePath;
    if (!isTemporary(file)) {
        filePath = file;
        if (kind != CaptureKind::screenshot && !QFileInfo::exists(CaptureMedia::posterURL(file))) {
            QPointer<AppState> self(this);
            [](MediaToolkit &media, QString video, QPointer<AppState> self) -> QCoro::Task<> {
                co_await CaptureMedia::generatePoster(media, video);
                if (self)
                    emit self->changed();
            }(m_platform.media, file, self);
        }
    }
    QList<RecentCapture> recents = m_recentCaptures;
    recents.prepend(RecentCapture{link.slug, link.url, filePath, kind == CaptureKind::screenshot, QDateTime::currentDateTimeUtc()});
    for (qsizetype i = recentCapturesKept; i < recents.size(); ++i)
        if (!recents[i].isScreenshot && recents[i].filePath)
            QFile::remove(CaptureMedia::posterURL(*recents[i].filePath));
    if (recents.size() > recentCapturesKept)
        recents.resize(recentCapturesKept);
    setRecentCaptures(recents);
}

QCoro::Task<bool> AppState::promptToSignInAgain(QString file, bool keptInCaptures, SignInReason reason)
{
    const L10n::Values values{{QStringLiteral("file"), QFileInfo(file).fileName()}};
    const QString informative = (reason == SignInReason::notSignedIn
                                     ? L10n::text(QStringLiteral("You're not signed in to Tovrika, so \"{file}\" hasn't been shared yet. Sign in to share it now."), values)
                                     : L10n::text(QStringLiteral("Your Tovrika sign-in has expired, so \"{file}\" hasn't been shared yet. Sign in to share it now."), values))
        + savedInCapturesSuffix(keptInCaptures, QStringLiteral("It's saved in Movies/Tovrika either way."));
    auto *box = Alerts::make(QMessageBox::Warning, L10n::tr(QStringLiteral("Sign in to share this capture")), informative);
    QPushButton *signIn = box->addButton(L10n::tr(QStringLiteral("Sign In…")), QMessageBox::AcceptRole);
    box->addButton(L10n::tr(QStringLiteral("Not Now")), QMessageBox::RejectRole);
    Alerts::present(box);
    QPointer<AppState> self(this);
    co_await Alerts::finished(box);
    if (!self || box->clickedButton() != static_cast<QAbstractButton *>(signIn))
        co_return false;
    co_return co_await runSignIn();
}

QCoro::Task<> AppState::presentUpdateRequired(QString file, bool keptInCaptures)
{
    QString informative = L10n::text(QStringLiteral("This version of Tovrika can no longer share recordings, so \"{file}\" wasn't shared."),
                                     {{QStringLiteral("file"), QFileInfo(file).fileName()}});
    informative += savedInCapturesSuffix(keptInCaptures, QStringLiteral("It's saved in Movies/Tovrika."));
    informative += QStringLiteral(" ") + L10n::tr(QStringLiteral("Install the update, then use Upload Video File… to share it."));
    auto *box = Alerts::make(QMessageBox::Warning, L10n::tr(QStringLiteral("Update Tovrika to keep sharing")), informative);
    QPushButton *check = box->addButton(L10n::tr(QStringLiteral("Check for Updates…")), QMessageBox::AcceptRole);
    box->addButton(L10n::tr(QStringLiteral("Not Now")), QMessageBox::RejectRole);
    Alerts::present(box);
    co_await Alerts::finished(box);
    if (box->clickedButton() == static_cast<QAbstractButton *>(check))
        emit updateCheckRequested();
}

// ---- Sharing a chosen file ----

void AppState::uploadVideoFile()
{
    if (!m_phase.is(Phase::Kind::idle))
        return;
    auto *dialog = new QFileDialog(nullptr, L10n::tr(QStringLiteral("Choose a video to upload and get a share link")));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(L10n::tr(QStringLiteral("Videos")) + QStringLiteral(" (*.mp4 *.m4v *.mov *.webm)"));
    dialog->setLabelText(QFileDialog::Accept, L10n::tr(QStringLiteral("Upload")));
    dialog->setWindowFlag(Qt::WindowStaysOnTopHint);
    Alerts::present(dialog);
    [](QFileDialog *dialog, QPointer<AppState> self) -> QCoro::Task<> {
        const int result = co_await Alerts::finished(dialog);
        const QStringList chosen = dialog->selectedFiles();
        if (self && result == QDialog::Accepted && !chosen.isEmpty())
            co_await self->importAndPublish(chosen.first());
    }(dialog, QPointer<AppState>(this));
}

void AppState::uploadVideoFile(const QString &file)
{
    if (m_phase.is(Phase::Kind::idle))
        importAndPublish(file);
}

QCoro::Task<> AppState::importAndPublish(QString file)
{
    QPointer<AppState> self(this);
    const QFileInfo info(file);
    if (info.exists() && info.size() > shareLimitBytes) {
        Notifier::show(L10n::tr(QStringLiteral("Video too large")), L10n::tr(QStringLiteral("Videos over 2 GB can't be shared.")));
        co_return;
    }
    PublishRequest request;
    request.file = file;
    request.contentType = QStringLiteral("video/mp4");
    request.keptInCaptures = false;
    const QString extension = info.suffix().toLower();
    if (extension == QLatin1String("mp4") || extension == QLatin1String("m4v") || extension == QLatin1String("mov")
        || extension == QLatin1String("webm")) {
        if (extension == QLatin1String("webm"))
            request.contentType = QStringLiteral("video/webm");
        co_await publish(request);
        co_return;
    }

    // Anything else is rewritten as MP4 first, as a finishing attempt with its timeout.
    setPhase(Phase::processing());
    const int token = finishingToken;
    std::optional<QString> converted;
    std::optional<QString> failure;
    try {
        converted = co_await CaptureMedia::remuxToMP4(m_platform.media, file);
    } catch (const std::exception &error) {
        failure = QString::fromUtf8(error.what());
    }
    if (!self)
        co_return;
    if (converted) {
        if (finishingIsCurrent(token)) {
            request.file = *converted;
            request.finishingToken = token;
            co_await publish(request);
        }
        QFile::remove(*converted);
        QDir().rmdir(QFileInfo(*converted).absolutePath()); // its own temporary folder
        co_return;
    }
    if (finishingIsCurrent(token)) {
        setPhase(Phase::idle());
        Notifier::show(L10n::tr(QStringLiteral("Couldn't convert video")), *failure);
    }
}
