#pragma once
// The program's one client of the web service's JSON API: resolves paths against the API
// base, attaches the bearer token, handles 401s (update required, one forced refresh, then
// sign-out) and decodes replies strictly into wire records. Main thread only.

#include "pickers/TranslationPlan.h"
#include "service/WireRecords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QObject>
#include <functional>
#include <optional>
#include <qcorotask.h>

class AuthService;
class QNetworkAccessManager;
class SettingsStore;

class ApiClient final : public QObject {
    Q_OBJECT
public:
    ApiClient(AuthService &auth, QNetworkAccessManager &network, SettingsStore &settings, QObject *parent = nullptr);

    // ---- Endpoints ----
    QCoro::Task<UploadTicket> createUploadUrl(QString contentType);
    QCoro::Task<ReservedLink> reserveLink(QString contentType, std::optional<QString> title, bool titleIsDefault);
    QCoro::Task<QString> convertToGif(QString blobName);
    struct ShareRequest {
        QString blobName;
        std::optional<QString> title;
        std::optional<ViewerSelection> viewers;
        std::optional<QString> posterBlobName;
        std::optional<QString> slug;
        bool titleIsDefault = false;
        std::optional<qint64> durationSeconds;
        std::optional<QString> captionLanguage;
        std::optional<QString> voice;
        std::optional<TranslationPlan> translation;
    };
    QCoro::Task<ShareLink> createShareLink(ShareRequest request);
    QCoro::Task<ShareLink> assignViewers(QString slug, ViewerSelection viewers);
    QCoro::Task<EmptyOk> setCaptureFolder(QString slug, std::optional<qint64> folderId);
    QCoro::Task<QList<LibraryItem>> listLibrary();
    QCoro::Task<QList<VideoFolder>> listFolders();
    QCoro::Task<VideoFolder> createFolder(QString name);
    QCoro::Task<QList<DirectoryUser>> searchUsers(QString query);
    QCoro::Task<QList<VideoGroup>> listGroups();
    QCoro::Task<QuizStatus> quizStatus(qint64 videoId);
    QCoro::Task<QuizStatus> confirmQuiz(qint64 videoId, QList<qint64> includedIds, QList<QuizDraft> custom,
                                        bool useRecommended, bool autoConfirm);
    QCoro::Task<EmptyOk> sendDiagnostics(QString log, bool automatic);
    // Fire and forget: no token, no retry, nothing logged.
    void reportAuthEvent(const QString &event, const QString &code, const QString &hint);
    // PUTs the file's bytes, streamed from disk, to a pre-authorised blob-store URL.
    // `progress` gets the fraction of the body sent.
    QCoro::Task<> uploadBlob(const QString &filePath, const QString &uploadUrl, const QString &contentType,
                             const std::function<void(double fraction)> &progress);

    // ---- The request primitive ----
    template <typename T>
    QCoro::Task<T> send(QString method, QString path, std::optional<QJsonObject> json, int timeoutSeconds)
    {
        const QByteArray request = json ? QJsonDocument(*json).toJson(QJsonDocument::Compact) : QByteArray();
        const QByteArray reply = co_await sendRaw(method, path, request, json.has_value(), timeoutSeconds);
        co_return decode<T>(reply);
    }
    // POST of the entries whose value is present.
    template <typename T>
    QCoro::Task<T> post(QString path, QList<std::pair<QString, std::optional<QString>>> body)
    {
        QJsonObject json;
        for (const auto &[key, value] : body)
            if (value)
                json.insert(key, *value);
        co_return co_await send<T>(QStringLiteral("POST"), path, json, 30);
    }
    // Runs `operation` (a callable answering a QCoro::Task<T>) up to `attempts` times,
    // repeating only transient network failures, 2 seconds apart. Pass the callable as a named
    // variable: GCC 12 destroys a temporary argument of a coroutine twice.
    template <typename T, typename Operation>
    QCoro::Task<T> withTransportRetry(int attempts, Operation operation);

    // The numeric code and transience of a Qt network error, on the scale of the log lines
    // (-1001 timed out, -1004 cannot connect, -1005 connection lost, -1006 DNS, -1009 offline).
    static int urlErrorCode(QNetworkReply::NetworkError error);
    static bool isTransient(int urlErrorCode);

    // Milliseconds between transport retries (tests shorten it).
    int retryDelayMs = 2000;

private:
    struct Exchange {
        int status = 0;
        QByteArray body;
    };
    // Everything up to the status check; answers the body of a 2xx reply (maybe empty).
    QCoro::Task<QByteArray> sendRaw(QString method, QString path, QByteArray body, bool hasBody, int timeoutSeconds);
    // One authorised request; a reply without HTTP status is a TransportError.
    QCoro::Task<Exchange> requestOnce(QString method, QUrl url, QByteArray body, bool hasBody, int timeoutSeconds);
    static void throwIfUpdateRequired(const QByteArray &body);
    // Coroutines get their class-type arguments as named variables, never as temporaries made
    // at the call: GCC 12 destroys such a temporary twice.
    QCoro::Task<> uploadWithRetry(QString filePath, QString uploadUrl, QString contentType, std::function<void(double)> progress);
    QCoro::Task<> uploadOnce(QString filePath, QUrl url, QString contentType, std::function<void(double)> progress);
    QCoro::Task<> waitMs(int ms);

    template <typename T>
    static T decode(const QByteArray &body);

    AuthService &m_auth;
    QNetworkAccessManager &m_network;
    SettingsStore &m_settings;
};

#include "service/ApiClientImpl.h"
