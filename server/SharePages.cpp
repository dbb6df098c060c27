#include "server/SharePages.h"

#include "server/BlobStore.h"
#include "server/Clock.h"
#include "server/Database.h"
#include "server/Directory.h"
#include "server/HttpReply.h"
#include "server/JsonBody.h"
#include "server/LinkStore.h"
#include "server/MediaTools.h"
#include "server/TokenService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <memory>

namespace {

constexpr qint64 kChunkBytes = 256 * 1024;

const char *kStyle = R"css(
* { box-sizing: border-box; }
body { margin: 0; font: 15px/1.5 system-ui, -apple-system, "Segoe UI", Roboto, Ubuntu, sans-serif; background: #0f172a; color: #e2e8f0; }
main { max-width: 1100px; margin: 0 auto; padding: 28px 20px 40px; }
header { display: flex; align-items: center; gap: 10px; color: #a5b4fc; font-weight: 600; margin-bottom: 18px; }
header .dot { width: 22px; height: 22px; border-radius: 50%; background: radial-gradient(circle at 35% 35%, #a5b4fc, #4338ca); }
.stage { background: #020617; border-radius: 14px; overflow: hidden; box-shadow: 0 20px 50px rgba(0, 0, 0, .45); }
video, img.picture { display: block; width: 100%; max-height: 75vh; background: #020617; object-fit: contain; }
h1 { font-size: 24px; margin: 22px 0 4px; color: #f8fafc; }
.meta { color: #94a3b8; }
.waiting { padding: 80px 24px; text-align: center; color: #cbd5e1; }
)css";

QString pageHtml(const QString &title, const QString &body, bool refresh)
{
    return QStringLiteral("<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">%1"
                          "<title>%2</title><style>%3</style></head><body><main>"
                          "<header><span class=\"dot\"></span>Tovrika</header>%4</main></body></html>")
        .arg(refresh ? QStringLiteral("<meta http-equiv=\"refresh\" content=\"5\">") : QString(), title.toHtmlEscaped(), QString::fromUtf8(kStyle), body);
}

} // namespace

SharePages::SharePages(ServiceContext &context, LinkStore &links, BlobStore &blobs, const TokenService &tokens)
    : m_context(context)
    , m_links(links)
    , m_blobs(blobs)
    , m_tokens(tokens)
{
    QDir().mkpath(m_context.dataDir + QStringLiteral("/thumbnails"));
}

void SharePages::registerRoutes(httplib::Server &server)
{
    server.Get("/v/([^/]+)", HttpReply::guarded([this](const auto &req, auto &res) { page(req, res); }));
    server.Get("/v/([^/]+)/media", HttpReply::guarded([this](const auto &req, auto &res) { media(req, res); }));
    server.Get("/v/([^/]+)/poster", HttpReply::guarded([this](const auto &req, auto &res) { poster(req, res); }));
    server.Get("/v/([^/]+)/thumb\\.jpg", HttpReply::guarded([this](const auto &req, auto &res) { thumbnail(req, res); }));
    server.Post("/v/([^/]+)/events", HttpReply::guarded([this](const auto &req, auto &res) { event(req, res); }));
}

LinkRecord SharePages::publishedLink(const httplib::Request &req) const
{
    const QString slug = HttpReply::capture(req, 1);
    const std::optional<LinkRecord> link = LinkStore::isValidSlug(slug) ? m_links.find(slug) : std::nullopt;
    if (!link || !link->isPublished())
        throw HttpError::notFound(QStringLiteral("There is no published recording at this link."));
    return *link;
}

void SharePages::page(const httplib::Request &req, httplib::Response &res)
{
    const QString slug = HttpReply::capture(req, 1);
    const std::optional<LinkRecord> link = LinkStore::isValidSlug(slug) ? m_links.find(slug) : std::nullopt;
    if (!link) {
        HttpReply::html(res, 404,
                        pageHtml(QStringLiteral("Link not found"),
                             QStringLiteral("<div class=\"waiting\"><h1>This link does not exist</h1><p class=\"meta\">Check that it was copied completely.</p></div>"), false));
        return;
    }
    if (!link->isPublished()) {
        HttpReply::html(res, 200,
                        pageHtml(link->title,
                             QStringLiteral("<div class=\"waiting\"><h1>%1</h1><p class=\"meta\">This recording is still being uploaded. The page reloads by itself.</p></div>")
                                 .arg(link->title.toHtmlEscaped()),
                             true));
        return;
    }
    record(*link, QStringLiteral("opened"), req);

    const auto owner = m_context.directory.person(link->ownerId);
    const QString when = QLocale(QLocale::English).toString(QDateTime::fromMSecsSinceEpoch(link->createdAt, Qt::UTC), QStringLiteral("d MMMM yyyy, HH:mm 'UTC'"));
    const QString base = QStringLiteral("/v/") + link->slug;
    QString stage;
    if (link->itemType() == QLatin1String("video")) {
        const QString posterAttribute = link->posterBlob ? QStringLiteral(" poster=\"%1/poster\"").arg(base) : QString();
        // Tells the service when the viewer reached the end.
        stage = QStringLiteral("<video controls playsinline preload=\"metadata\"%1 src=\"%2/media\"></video>"
                               "<script>document.querySelector('video').addEventListener('ended', function () {"
                               "navigator.sendBeacon('%2/events', new Blob([JSON.stringify({event: 'finished'})], {type: 'application/json'}));"
                               "}, {once: true});</script>")
                    .arg(posterAttribute, base);
    } else {
        stage = QStringLiteral("<img class=\"picture\" src=\"%1/media\" alt=\"%2\">").arg(base, link->title.toHtmlEscaped());
    }
    const QString body = QStringLiteral("<div class=\"stage\">%1</div><h1>%2</h1><div class=\"meta\">Shared by %3 &middot; %4</div>")
                             .arg(stage, link->title.toHtmlEscaped(), (owner ? owner->displayName : QStringLiteral("someone")).toHtmlEscaped(), when);
    HttpReply::html(res, 200, pageHtml(link->title, body, false));
}

void SharePages::media(const httplib::Request &req, httplib::Response &res)
{
    const LinkRecord link = publishedLink(req);
    streamFile(m_blobs.path(*link.blobName), link.contentType, res);
}

void SharePages::poster(const httplib::Request &req, httplib::Response &res)
{
    const LinkRecord link = publishedLink(req);
    const std::optional<BlobRecord> poster = link.posterBlob ? m_blobs.find(*link.posterBlob) : std::nullopt;
    if (!poster || !poster->sizeBytes)
        throw HttpError::notFound(QStringLiteral("This recording has no poster."));
    streamFile(m_blobs.path(poster->name), poster->contentType, res);
}

void SharePages::thumbnail(const httplib::Request &req, httplib::Response &res)
{
    const LinkRecord link = publishedLink(req);
    const std::optional<BlobRecord> poster = link.posterBlob ? m_blobs.find(*link.posterBlob) : std::nullopt;
    const QString source = poster && poster->sizeBytes ? poster->name : *link.blobName;
    // Named after its source, so a new poster or file gets a new thumbnail.
    const QString path = m_context.dataDir + QStringLiteral("/thumbnails/%1-%2.jpg").arg(link.slug, QFileInfo(source).completeBaseName());
    {
        std::lock_guard lock(m_thumbnailMutex);
        if (!QFileInfo::exists(path)) {
            const QString problem = MediaTools::makeThumbnail(m_blobs.path(source), path);
            if (!problem.isEmpty())
                throw HttpError::notFound(QStringLiteral("No thumbnail could be made for this recording: %1").arg(problem));
        }
    }
    streamFile(path, QStringLiteral("image/jpeg"), res);
}

void SharePages::event(const httplib::Request &req, httplib::Response &res)
{
    const LinkRecord link = publishedLink(req);
    const QString name = JsonBody::parse(req.body).text("event");
    if (name != QLatin1String("finished"))
        throw HttpError::badRequest(QStringLiteral("Only the event \"finished\" is recorded here."));
    record(link, name, req);
    HttpReply::noContent(res);
}

void SharePages::record(const LinkRecord &link, const QString &event, const httplib::Request &req)
{
    const std::optional<QString> viewer = m_tokens.sessionUserFromCookies(QString::fromStdString(req.get_header_value("Cookie")));
    const qint64 now = m_context.clock.nowMs();
    m_context.db.transaction([&] {
        m_context.db.run("INSERT INTO link_events (slug, event, viewer_id, at, remote_addr, user_agent) VALUES (?, ?, ?, ?, ?, ?)", link.slug, event, viewer, now,
                         QString::fromStdString(req.remote_addr), QString::fromStdString(req.get_header_value("User-Agent")));
        if (viewer && link.videoId) {
            const char *sql = event == QLatin1String("opened")
                                  ? "UPDATE viewer_assignments SET opened_at = coalesce(opened_at, ?) WHERE video_id = ? AND user_id = ?"
                                  : "UPDATE viewer_assignments SET finished_at = coalesce(finished_at, ?), opened_at = coalesce(opened_at, ?1) WHERE video_id = ? AND user_id = ?";
            m_context.db.run(sql, now, *link.videoId, *viewer);
        }
    });
}

void SharePages::streamFile(const QString &path, const QString &contentType, httplib::Response &res)
{
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        throw HttpError::notFound(QStringLiteral("The file of this recording is missing."));
    res.set_header("Accept-Ranges", "bytes");
    res.set_header("Cache-Control", "private, max-age=300");
    // Read piece by piece as the library sends, so large recordings never sit in memory;
    // the library answers byte ranges by asking for the offsets it needs.
    res.set_content_provider(static_cast<size_t>(file->size()), contentType.toStdString(), [file](size_t offset, size_t length, httplib::DataSink &sink) {
        if (!file->seek(static_cast<qint64>(offset)))
            return false;
        const QByteArray chunk = file->read(qMin<qint64>(static_cast<qint64>(length), kChunkBytes));
        if (chunk.isEmpty())
            return false;
        return sink.write(chunk.constData(), static_cast<size_t>(chunk.size()));
    });
}
