#include "server/PublishingApi.h"

#include "server/ApiRouter.h"
#include "server/BlobStore.h"
#include "server/GifConversions.h"
#include "server/JsonBody.h"
#include "server/LinkStore.h"
#include "server/MediaTools.h"
#include "server/ViewerAssignments.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <chrono>

namespace {

constexpr int kMaxTitleLength = 300;
// Shorter than the program's 180-second wait, so it hears why rather than timing out.
constexpr auto kGifWait = std::chrono::seconds(170);

QString contentType(const JsonBody &body)
{
    const QString type = body.text("contentType").trimmed();
    if (!BlobStore::isValidContentType(type))
        throw HttpError::badRequest(QStringLiteral("\"contentType\" must be a media type such as video/mp4, not \u201C%1\u201D.").arg(type));
    return type.toLower();
}

std::optional<QString> title(const JsonBody &body)
{
    const std::optional<QString> text = body.optionalText("title");
    if (!text || text->trimmed().isEmpty())
        return std::nullopt;
    if (text->trimmed().size() > kMaxTitleLength)
        throw HttpError::badRequest(QStringLiteral("\"title\" can be at most %1 characters long.").arg(kMaxTitleLength));
    return text->trimmed();
}

QString languageCode(const QString &code, const char *key)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z]{2,3}(-[A-Za-z0-9]{2,8})*$"));
    if (!pattern.match(code).hasMatch())
        throw HttpError::badRequest(QStringLiteral("\"%1\" holds \u201C%2\u201D, which is not a language code.").arg(QLatin1String(key), code));
    return code;
}

QString voiceName(const QString &voice, const char *key)
{
    if (voice != QLatin1String("f") && voice != QLatin1String("m"))
        throw HttpError::badRequest(QStringLiteral("\"%1\" must be \"f\" or \"m\", not \u201C%2\u201D.").arg(QLatin1String(key), voice));
    return voice;
}

} // namespace

PublishingApi::PublishingApi(ServiceContext &context, BlobStore &blobs, LinkStore &links, ViewerAssignments &viewers, GifConversions &gifs)
    : m_context(context)
    , m_blobs(blobs)
    , m_links(links)
    , m_viewers(viewers)
    , m_gifs(gifs)
{
}

void PublishingApi::registerRoutes(ApiRouter &router)
{
    router.post("/recordings/upload-url", [this](const auto &user, const auto &req, auto &res) { uploadUrl(user, req, res); });
    router.post("/recordings/reserve-link", [this](const auto &user, const auto &req, auto &res) { reserveLink(user, req, res); });
    router.post("/recordings/to-gif", [this](const auto &user, const auto &req, auto &res) { toGif(user, req, res); });
    router.post("/recordings/share-link", [this](const auto &user, const auto &req, auto &res) { shareLink(user, req, res); });
}

void PublishingApi::uploadUrl(const QString &userId, const httplib::Request &req, httplib::Response &res)
{
    const QString type = contentType(JsonBody::parse(req.body));
    const QString blobName = m_blobs.create(userId, type);
    HttpReply::json(res, 201, QJsonObject{{QStringLiteral("blobName"), blobName}, {QStringLiteral("uploadUrl"), m_blobs.uploadUrl(blobName)}});
}

void PublishingApi::reserveLink(const QString &userId, const httplib::Request &req, httplib::Response &res)
{
    const JsonBody body = JsonBody::parse(req.body);
    const QString type = contentType(body);
    const bool titleIsDefault = body.boolean("titleIsDefault");
    const QString linkTitle = title(body).value_or(QStringLiteral("Untitled recording"));
    const QString blobName = m_blobs.create(userId, type);
    const QString slug = m_links.reserve(userId, linkTitle, titleIsDefault, type, blobName);
    HttpReply::json(res, 201,
                    QJsonObject{{QStringLiteral("slug"), slug},
                                {QStringLiteral("url"), m_links.shareUrl(slug)},
                                {QStringLiteral("blobName"), blobName},
                                {QStringLiteral("uploadUrl"), m_blobs.uploadUrl(blobName)}});
}

void PublishingApi::toGif(const QString &userId, const httplib::Request &req, httplib::Response &res)
{
    const BlobRecord source = m_blobs.requireUploaded(JsonBody::parse(req.body).text("blobName"), userId);
    if (!source.contentType.startsWith(QLatin1String("video/")))
        throw HttpError::badRequest(QStringLiteral("Only videos can be converted to GIFs; \u201C%1\u201D is %2.").arg(source.name, source.contentType));
    const std::shared_future<GifConversions::Outcome> conversion = m_gifs.convert(source);
    if (conversion.wait_for(kGifWait) != std::future_status::ready)
        throw HttpError(503, QStringLiteral("The GIF is still being made; ask again in a moment."), QStringLiteral("conversion_pending"));
    const GifConversions::Outcome &outcome = conversion.get();
    if (!outcome.gifBlobName)
        throw HttpError(422, outcome.problem, QStringLiteral("conversion_failed"));
    HttpReply::json(res, 200, QJsonObject{{QStringLiteral("blobName"), *outcome.gifBlobName}});
}

void PublishingApi::shareLink(const QString &userId, const httplib::Request &req, httplib::Response &res)
{
    // Everything is checked before anything is stored, so a refused request changes nothing.
    const JsonBody body = JsonBody::parse(req.body);
    Publication publication;
    publication.blobName = body.text("blobName");
    publication.titleIsDefault = body.boolean("titleIsDefault");
    publication.title = title(body);
    publication.posterBlob = body.optionalText("posterBlobName");
    publication.durationSeconds = body.optionalInteger("durationSeconds");
    const std::optional<QString> slug = body.optionalText("slug");
    if (publication.durationSeconds && *publication.durationSeconds < 0)
        throw HttpError::badRequest(QStringLiteral("\"durationSeconds\" cannot be negative."));

    const ViewerSelection selection = ViewerSelection::fromBody(body, false);
    if (selection.hasViewers())
        m_viewers.validate(selection);
    publication.notifyOnStart = selection.notifyOnStart;

    publication.spokenLanguage = body.optionalText("spokenLanguage");
    if (publication.spokenLanguage)
        languageCode(*publication.spokenLanguage, "spokenLanguage");
    if (body.has("captionLanguages")) {
        QJsonArray languages;
        for (const QString &code : body.textArray("captionLanguages"))
            languages.append(languageCode(code, "captionLanguages"));
        publication.captionLanguages = languages;
    } else if (const auto caption = body.optionalText("captionLanguage"); caption && !caption->isEmpty()) {
        publication.captionLanguages = QJsonArray{languageCode(*caption, "captionLanguage")};
    }
    if (body.has("voices")) {
        QJsonArray voices;
        for (const JsonBody &voice : body.objectArray("voices"))
            voices.append(QJsonObject{{QStringLiteral("language"), languageCode(voice.text("language"), "voices")}, {QStringLiteral("voice"), voiceName(voice.text("voice"), "voices")}});
        publication.voices = voices;
    } else if (const auto voice = body.optionalText("voice"); voice && !voice->isEmpty()) {
        publication.voices = QJsonArray{QJsonObject{{QStringLiteral("voice"), voiceName(*voice, "voice")}}};
    }

    const BlobRecord blob = m_blobs.requireUploaded(publication.blobName, userId);
    publication.contentType = blob.contentType;
    if (publication.posterBlob) {
        const BlobRecord poster = m_blobs.requireUploaded(*publication.posterBlob, userId);
        if (!poster.contentType.startsWith(QLatin1String("image/")))
            throw HttpError::badRequest(QStringLiteral("The poster \u201C%1\u201D is %2, not a picture.").arg(poster.name, poster.contentType));
    }
    if (slug)
        m_links.requireOwned(*slug, userId);
    if (!publication.durationSeconds && blob.contentType.startsWith(QLatin1String("video/")))
        publication.durationSeconds = MediaTools::durationSeconds(m_blobs.path(blob.name));

    const QString linkSlug = slug ? *slug
                                  : m_links.reserve(userId, publication.title.value_or(QStringLiteral("Untitled recording")), publication.titleIsDefault, blob.contentType,
                                                    std::nullopt);
    m_links.publish(linkSlug, publication);
    if (selection.hasViewers())
        m_viewers.assign(linkSlug, userId, selection);
    HttpReply::json(res, 200, m_links.shareLinkJson(*m_links.find(linkSlug)));
}
