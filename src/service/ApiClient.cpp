#include "service/ApiClient.h"

#include "app/AppVersion.h"
#include "app/Config.h"
#include "auth/AuthError.h"
#include "auth/AuthService.h"
#include "platform/SettingsStore.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QTimer>
#include <QUrlQuery>
#include <qcoronetworkreply.h>
#include <qcorotimer.h>

namespace {
constexpr int kUploadTimeoutSeconds = 600;
constexpr int kAuthEventTimeoutSeconds = 8;
const QString kPlatform = QStringLiteral("Linux");

QJsonArray upperCaseIds(const QStringList &ids)
{
    QJsonArray array;
    for (const QString &id : ids)
        array.append(id.toUpper());
    return array;
}

QString userAgent()
{
    return QStringLiteral("Tovrika/%1 (%2)").arg(AppVersion::shortVersion(), AppVersion::buildNumber());
}
} // namespace

ApiClient::ApiClient(AuthService &auth, QNetworkAccessManager &network, SettingsStore &settings, QObject *parent)
    : QObject(parent)
    , m_auth(auth)
    , m_network(network)
    , m_settings(settings)
{
}

int ApiClient::urlErrorCode(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::TimeoutError: return -1001;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError: return -1004;
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError:
    // A connection reset while a body is being sent arrives without a more precise error.
    case QNetworkReply::UnknownNetworkError: return -1005;
    case QNetworkReply::HostNotFoundError: return -1006;
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::BackgroundRequestNotAllowedError: return -1009;
    case QNetworkReply::OperationCanceledError: return -999;
    case QNetworkReply::SslHandshakeFailedError: return -1200;
    default: return -1;
    }
}

bool ApiClient::isTransient(int code)
{
    return code == -1001 || code == -1004 || code == -1005 || code == -1006 || code == -1009;
}

QCoro::Task<> ApiClient::waitMs(int ms)
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    timer.start(ms);
    co_await timer;
}

namespace {
// Qt reports a transfer time-out as a cancellation; we never cancel on our own, so a
// cancellation after the time-out is a time-out.
QNetworkReply::NetworkError failureOf(QNetworkReply *reply, const QElapsedTimer &clock, int timeoutSeconds)
{
    if (reply->error() == QNetworkReply::OperationCanceledError && clock.elapsed() >= qint64(timeoutSeconds) * 1000 - 50)
        return QNetworkReply::TimeoutError;
    return reply->error();
}
} // namespace

QCoro::Task<ApiClient::Exchange> ApiClient::requestOnce(QString method, QUrl url, QByteArray body, bool hasBody, int timeoutSeconds)
{
    // A token, signing in once when the refresh needs the user.
    QString token;
    try {
        token = co_await m_auth.validToken();
    } catch (const AuthError &error) {
        if (error.kind() != AuthError::Kind::needsInteraction)
            throw;
    }
    if (token.isEmpty()) {
        co_await m_auth.signIn();
        token = co_await m_auth.validToken();
    }

    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutSeconds * 1000);
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    if (hasBody)
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QElapsedTimer clock;
    clock.start();
    QNetworkReply *reply = co_await m_network.sendCustomRequest(request, method.toLatin1(), body);
    reply->deleteLater();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        const QNetworkReply::NetworkError failure = failureOf(reply, clock, timeoutSeconds);
        if (failure != QNetworkReply::NoError)
            throw TransportError(failure, reply->errorString());
        throw ApiError::transport(L10n::tr(QStringLiteral("No response from the server.")));
    }
    Exchange exchange{status.toInt(), reply->readAll()};
    co_return exchange;
}

QCoro::Task<QByteArray> ApiClient::sendRaw(QString method, QString path, QByteArray body, bool hasBody, int timeoutSeconds)
{
    // The path is a relative reference under the API base; a bad one sends nothing.
    const QUrl relative(path, QUrl::StrictMode);
    if (!relative.isValid() || path.contains(QLatin1Char(' ')) || !relative.isRelative())
        throw ApiError::transport(L10n::tr(QStringLiteral("Bad request path.")));
    QUrl base = Config::apiBase();
    base.setPath(base.path() + QLatin1Char('/'));
    const QUrl url = base.resolved(relative);

    Exchange reply = co_await requestOnce(method, url, body, hasBody, timeoutSeconds);
    if (reply.status == 401) {
        throwIfUpdateRequired(reply.body);
        // The cached token may be stale: expire it so the next one comes from the refresh token.
        m_auth.expiresAt = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
        reply = co_await requestOnce(method, url, body, hasBody, timeoutSeconds);
        if (reply.status == 401) {
            throwIfUpdateRequired(reply.body);
            FileLog::write(QStringLiteral("session expired: API rejected a freshly refreshed token"));
            m_auth.signOut();
            if (m_auth.onSessionExpired)
                m_auth.onSessionExpired();
            throw AuthError::sessionExpired();
        }
    }
    if (reply.status < 200 || reply.status > 299) {
        const QJsonValue title = QJsonDocument::fromJson(reply.body).object().value(QStringLiteral("title"));
        throw ApiError::http(reply.status, title.isString() ? std::optional(title.toString()) : std::nullopt);
    }
    QByteArray replyBody = reply.body;
    co_return replyBody;
}

void ApiClient::throwIfUpdateRequired(const QByteArray &body)
{
    if (QJsonDocument::fromJson(body).object().value(QStringLiteral("code")).toString() == QLatin1String("update_required")) {
        FileLog::write(QStringLiteral("update required: API rejected this app version"));
        throw ApiError::updateRequired();
    }
}

// ---- Endpoints ----

QCoro::Task<UploadTicket> ApiClient::createUploadUrl(QString contentType)
{
    const auto operation = [this, contentType]() -> QCoro::Task<UploadTicket> {
        return post<UploadTicket>(QStringLiteral("recordings/upload-url"), {{QStringLiteral("contentType"), contentType}});
    };
    co_return co_await withTransportRetry<UploadTicket>(3, operation);
}

QCoro::Task<ReservedLink> ApiClient::reserveLink(QString contentType, std::optional<QString> title, bool titleIsDefault)
{
    QJsonObject body{{QStringLiteral("contentType"), contentType}, {QStringLiteral("titleIsDefault"), titleIsDefault}};
    if (title)
        body.insert(QStringLiteral("title"), *title);
    const auto operation = [this, body]() -> QCoro::Task<ReservedLink> {
        return send<ReservedLink>(QStringLiteral("POST"), QStringLiteral("recordings/reserve-link"), body, 30);
    };
    co_return co_await withTransportRetry<ReservedLink>(3, operation);
}

QCoro::Task<QString> ApiClient::convertToGif(QString blobName)
{
    const QJsonObject body{{QStringLiteral("blobName"), blobName}};
    const GifBlob gif = co_await send<GifBlob>(QStringLiteral("POST"), QStringLiteral("recordings/to-gif"), body, 180);
    co_return gif.blobName;
}

QCoro::Task<ShareLink> ApiClient::createShareLink(ShareRequest request)
{
    QJsonObject body{{QStringLiteral("blobName"), request.blobName}, {QStringLiteral("titleIsDefault"), request.titleIsDefault}};
    if (request.title)
        body.insert(QStringLiteral("title"), *request.title);
    if (request.posterBlobName)
        body.insert(QStringLiteral("posterBlobName"), *request.posterBlobName);
    if (request.slug)
        body.insert(QStringLiteral("slug"), *request.slug);
    if (request.durationSeconds)
        body.insert(QStringLiteral("durationSeconds"), *request.durationSeconds);

    if (request.viewers && request.viewers->choosesAnyone()) {
        const ViewerSelection &viewers = *request.viewers;
        body.insert(QStringLiteral("individualUserIds"), upperCaseIds(viewers.individualUserIds));
        body.insert(QStringLiteral("groupIds"), upperCaseIds(viewers.groupIds));
        body.insert(QStringLiteral("customerEmails"), QJsonArray::fromStringList(viewers.customerEmails));
        body.insert(QStringLiteral("askSeenProof"), viewers.askSeenProof);
        body.insert(QStringLiteral("askQuiz"), viewers.askQuiz);
        body.insert(QStringLiteral("questionCount"), viewers.questionCount);
        body.insert(QStringLiteral("notifyOnStart"), viewers.notifyOnStart);
    } else {
        body.insert(QStringLiteral("notifyOnStart"), m_settings.boolValue(QStringLiteral("notifyOnStart")).value_or(false));
    }

    const auto &plan = request.translation;
    if (plan && (!plan->captions.isEmpty() || !plan->voices.isEmpty())) {
        QJsonArray voices;
        for (const TranslationVoice &voice : plan->voices)
            voices.append(QJsonObject{{QStringLiteral("language"), voice.language}, {QStringLiteral("voice"), voice.voice}});
        body.insert(QStringLiteral("spokenLanguage"), plan->spoken);
        body.insert(QStringLiteral("captionLanguages"), QJsonArray::fromStringList(plan->captions));
        body.insert(QStringLiteral("voices"), voices);
    } else {
        if (request.captionLanguage && !request.captionLanguage->isEmpty())
            body.insert(QStringLiteral("captionLanguage"), *request.captionLanguage);
        if (request.voice && !request.voice->isEmpty())
            body.insert(QStringLiteral("voice"), *request.voice);
    }
    const auto operation = [this, body]() -> QCoro::Task<ShareLink> {
        return send<ShareLink>(QStringLiteral("POST"), QStringLiteral("recordings/share-link"), body, 30);
    };
    co_return co_await withTransportRetry<ShareLink>(3, operation);
}

QCoro::Task<ShareLink> ApiClient::assignViewers(QString slug, ViewerSelection viewers)
{
    const QJsonObject body{{QStringLiteral("askSeenProof"), viewers.askSeenProof},
                           {QStringLiteral("askQuiz"), viewers.askQuiz},
                           {QStringLiteral("questionCount"), viewers.questionCount},
                           {QStringLiteral("notifyOnStart"), viewers.notifyOnStart},
                           {QStringLiteral("individualUserIds"), upperCaseIds(viewers.individualUserIds)},
                           {QStringLiteral("groupIds"), upperCaseIds(viewers.groupIds)},
                           {QStringLiteral("customerEmails"), QJsonArray::fromStringList(viewers.customerEmails)}};
    co_return co_await send<ShareLink>(QStringLiteral("POST"), QStringLiteral("recordings/links/%1/viewers").arg(slug), body, 30);
}

QCoro::Task<EmptyOk> ApiClient::setCaptureFolder(QString slug, std::optional<qint64> folderId)
{
    const QJsonObject body{{QStringLiteral("folderId"), folderId ? QJsonValue(*folderId) : QJsonValue(QJsonValue::Null)}};
    co_return co_await send<EmptyOk>(QStringLiteral("PATCH"), QStringLiteral("recordings/links/%1/folder").arg(slug), body, 30);
}

QCoro::Task<QList<LibraryItem>> ApiClient::listLibrary()
{
    co_return co_await send<QList<LibraryItem>>(QStringLiteral("GET"), QStringLiteral("recordings/links"), std::nullopt, 30);
}

QCoro::Task<QList<VideoFolder>> ApiClient::listFolders()
{
    co_return co_await send<QList<VideoFolder>>(QStringLiteral("GET"), QStringLiteral("folders"), std::nullopt, 30);
}

QCoro::Task<VideoFolder> ApiClient::createFolder(QString name)
{
    const QJsonObject body{{QStringLiteral("name"), name}};
    co_return co_await send<VideoFolder>(QStringLiteral("POST"), QStringLiteral("folders"), body, 30);
}

QCoro::Task<QList<DirectoryUser>> ApiClient::searchUsers(QString query)
{
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(query));
    co_return co_await send<QList<DirectoryUser>>(QStringLiteral("GET"), QStringLiteral("users/search?q=") + encoded,
                                                  std::nullopt, 30);
}

QCoro::Task<QList<VideoGroup>> ApiClient::listGroups()
{
    co_return co_await send<QList<VideoGroup>>(QStringLiteral("GET"), QStringLiteral("groups"), std::nullopt, 30);
}

QCoro::Task<QuizStatus> ApiClient::quizStatus(qint64 videoId)
{
    co_return co_await send<QuizStatus>(QStringLiteral("GET"), QStringLiteral("videos/%1/quiz").arg(videoId), std::nullopt, 30);
}

QCoro::Task<QuizStatus> ApiClient::confirmQuiz(qint64 videoId, QList<qint64> includedIds, QList<QuizDraft> custom,
                                               bool useRecommended, bool autoConfirm)
{
    QJsonArray ids;
    for (const qint64 id : includedIds)
        ids.append(id);
    QJsonObject body{{QStringLiteral("includedIds"), ids}, {QStringLiteral("useRecommended"), useRecommended},
                     {QStringLiteral("autoConfirm"), autoConfirm}};
    if (!custom.isEmpty()) {
        QJsonArray drafts;
        for (const QuizDraft &draft : custom)
            drafts.append(QJsonObject{{QStringLiteral("text"), draft.text},
                                      {QStringLiteral("options"), QJsonArray::fromStringList(draft.options)},
                                      {QStringLiteral("correctIndex"), draft.correctIndex}});
        body.insert(QStringLiteral("customQuestions"), drafts);
    }
    co_return co_await send<QuizStatus>(QStringLiteral("POST"), QStringLiteral("videos/%1/quiz").arg(videoId), body, 30);
}

QCoro::Task<EmptyOk> ApiClient::sendDiagnostics(QString log, bool automatic)
{
    const QJsonObject body{{QStringLiteral("platform"), kPlatform},
                           {QStringLiteral("version"), AppVersion::label()},
                           {QStringLiteral("log"), log},
                           {QStringLiteral("automatic"), automatic}};
    co_return co_await send<EmptyOk>(QStringLiteral("POST"), QStringLiteral("support/desktop-logs"), body, 30);
}

void ApiClient::reportAuthEvent(const QString &event, const QString &code, const QString &hint)
{
    QUrl url = Config::apiBase();
    url.setPath(url.path() + QStringLiteral("/support/desktop-auth"));
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setTransferTimeout(kAuthEventTimeoutSeconds * 1000);
    const QJsonObject body{{QStringLiteral("platform"), kPlatform}, {QStringLiteral("version"), AppVersion::label()},
                           {QStringLiteral("event"), event},       {QStringLiteral("code"), code},
                           {QStringLiteral("hint"), hint}};
    QNetworkReply *reply = m_network.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}

// ---- Blob upload ----

QCoro::Task<> ApiClient::uploadBlob(const QString &filePath, const QString &uploadUrl, const QString &contentType,
                                    const std::function<void(double)> &progress)
{
    return uploadWithRetry(filePath, uploadUrl, contentType, progress);
}

QCoro::Task<> ApiClient::uploadWithRetry(QString filePath, QString uploadUrl, QString contentType,
                                         std::function<void(double)> progress)
{
    const QUrl url(uploadUrl, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        throw ApiError::transport(L10n::tr(QStringLiteral("Bad upload URL.")));
    const QFileInfo info(filePath);
    if (!info.exists() || info.size() <= 0) {
        FileLog::write(QStringLiteral("upload skipped: %1 is missing or empty").arg(info.fileName()));
        throw ApiError::transport(L10n::tr(QStringLiteral("Upload failed")));
    }
    const auto operation = [this, filePath, url, contentType, progress]() -> QCoro::Task<> {
        return uploadOnce(filePath, url, contentType, progress);
    };
    co_await withTransportRetry<void>(3, operation);
}

QCoro::Task<> ApiClient::uploadOnce(QString filePath, QUrl url, QString contentType, std::function<void(double)> progress)
{
    auto file = std::make_unique<QFile>(filePath);
    if (!file->open(QIODevice::ReadOnly)) {
        FileLog::write(QStringLiteral("upload skipped: %1 is missing or empty").arg(QFileInfo(filePath).fileName()));
        throw ApiError::transport(L10n::tr(QStringLiteral("Upload failed")));
    }
    QNetworkRequest request(url);
    request.setRawHeader("x-ms-blob-type", "BlockBlob");
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setTransferTimeout(kUploadTimeoutSeconds * 1000);

    QElapsedTimer clock;
    clock.start();
    // The body is read from the file as it is sent, never held in memory as a whole.
    QNetworkReply *reply = m_network.put(request, file.get());
    file.release()->setParent(reply);
    connect(reply, &QNetworkReply::uploadProgress, reply, [progress](qint64 sent, qint64 total) {
        if (total > 0 && progress)
            progress(double(sent) / double(total));
    });
    co_await qCoro(reply).waitForFinished();
    reply->deleteLater();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        const QNetworkReply::NetworkError failure = failureOf(reply, clock, kUploadTimeoutSeconds);
        if (failure != QNetworkReply::NoError && isTransient(urlErrorCode(failure)))
            throw TransportError(failure, reply->errorString());
        if (failure == QNetworkReply::OperationCanceledError)
            throw TransportError(failure, reply->errorString());
    }
    const int code = status.isValid() ? status.toInt() : 0;
    if (code < 200 || code > 299)
        throw ApiError::transport(L10n::text(QStringLiteral("Upload failed (HTTP {status})."), {{QStringLiteral("status"), QString::number(code)}}));
}
