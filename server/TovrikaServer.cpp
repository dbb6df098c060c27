#include "server/TovrikaServer.h"

#include "server/ApiGate.h"
#include "server/ApiRouter.h"
#include "server/Authority.h"
#include "server/BlobRoutes.h"
#include "server/BlobStore.h"
#include "server/Database.h"
#include "server/Directory.h"
#include "server/DirectoryApi.h"
#include "server/FaultInjector.h"
#include "server/GifConversions.h"
#include "server/HttpReply.h"
#include "server/LibraryApi.h"
#include "server/LinkStore.h"
#include "server/OrganisationSeed.h"
#include "server/PublishingApi.h"
#include "server/QuizApi.h"
#include "server/QuizBook.h"
#include "server/ServiceSchema.h"
#include "server/SharePages.h"
#include "server/SupportApi.h"
#include "server/TestHookRoutes.h"
#include "server/TokenService.h"
#include "server/ViewerAssignments.h"

#include <QDir>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <httplib.h>
#include <stdexcept>

namespace {
constexpr size_t kWorkerThreads = 32;
constexpr uint64_t kMaxJsonBodyBytes = 4 * 1024 * 1024;

bool startsWith(const std::string &text, const char *prefix)
{
    return text.rfind(prefix, 0) == 0;
}
} // namespace

struct TovrikaServer::Parts {
    std::unique_ptr<Database> db;
    std::unique_ptr<Directory> directory;
    std::unique_ptr<ServiceContext> context;
    std::unique_ptr<TokenService> tokens;
    std::unique_ptr<Authority> authority;
    std::unique_ptr<BlobStore> blobs;
    std::unique_ptr<FaultInjector> faults;
    std::unique_ptr<BlobRoutes> blobRoutes;
    std::unique_ptr<TestHookRoutes> testHooks;
    std::unique_ptr<ApiGate> gate;
    std::unique_ptr<LinkStore> links;
    std::unique_ptr<QuizBook> quizzes;
    std::unique_ptr<ViewerAssignments> viewers;
    std::unique_ptr<GifConversions> gifs;
    std::unique_ptr<PublishingApi> publishing;
    std::unique_ptr<LibraryApi> library;
    std::unique_ptr<DirectoryApi> directoryApi;
    std::unique_ptr<QuizApi> quizApi;
    std::unique_ptr<SupportApi> support;
    std::unique_ptr<SharePages> sharePages;
    QByteArray signingKey;
};

TovrikaServer::TovrikaServer(ServerOptions options)
    : m_options(std::move(options))
    , m_http(std::make_unique<httplib::Server>())
    , m_parts(std::make_unique<Parts>())
{
    const QString dataDir = QFileInfo(m_options.dataDir).absoluteFilePath();
    if (!QDir().mkpath(dataDir + QStringLiteral("/blobs")))
        throw std::runtime_error("cannot create the data folder " + dataDir.toStdString());
    m_options.dataDir = dataDir;
    m_parts->db = std::make_unique<Database>(dataDir + QStringLiteral("/tovrika.sqlite3"));
    ServiceSchema::create(*m_parts->db);
    OrganisationSeed::seedOnce(*m_parts->db);
    m_parts->signingKey = ServiceSchema::signingKey(*m_parts->db);
    m_parts->directory = std::make_unique<Directory>(*m_parts->db);
    if (!m_options.autoApproveUser.isEmpty() && !m_parts->directory->findByLogin(m_options.autoApproveUser)) {
        QStringList logins;
        for (const DirectoryPerson &person : m_parts->directory->everyone())
            logins << person.userName;
        throw std::runtime_error("--auto-approve: nobody in the directory signs in as \"" + m_options.autoApproveUser.toStdString()
                                 + "\"; known user names: " + logins.join(QStringLiteral(", ")).toStdString());
    }
}

TovrikaServer::~TovrikaServer() = default;

int TovrikaServer::bind()
{
    const int port = m_options.port == 0 ? m_http->bind_to_any_port(kHost) : (m_http->bind_to_port(kHost, m_options.port) ? m_options.port : -1);
    if (port <= 0)
        throw std::runtime_error("cannot listen on " + std::string(kHost) + ":" + std::to_string(m_options.port) + " (is the port in use?)");

    Parts &parts = *m_parts;
    parts.context = std::make_unique<ServiceContext>(ServiceContext{m_options, *parts.db, m_clock, *parts.directory,
                                                                    QStringLiteral("http://%1:%2").arg(QLatin1String(kHost)).arg(port), m_options.dataDir,
                                                                    parts.signingKey});
    parts.tokens = std::make_unique<TokenService>(*parts.db, m_clock, *parts.directory, parts.signingKey, parts.context->origin);
    parts.authority = std::make_unique<Authority>(*parts.context, *parts.tokens);
    parts.blobs = std::make_unique<BlobStore>(*parts.context);
    if (m_options.testHooks) {
        parts.faults = std::make_unique<FaultInjector>();
        parts.testHooks = std::make_unique<TestHookRoutes>(*parts.context, *parts.faults);
    }
    parts.blobRoutes = std::make_unique<BlobRoutes>(*parts.blobs, parts.faults.get());
    parts.gate = std::make_unique<ApiGate>(*parts.tokens, m_options.minClientVersion);
    parts.links = std::make_unique<LinkStore>(*parts.context);
    parts.quizzes = std::make_unique<QuizBook>(*parts.context);
    parts.viewers = std::make_unique<ViewerAssignments>(*parts.context, *parts.quizzes);
    parts.gifs = std::make_unique<GifConversions>(*parts.blobs);
    parts.publishing = std::make_unique<PublishingApi>(*parts.context, *parts.blobs, *parts.links, *parts.viewers, *parts.gifs);
    parts.library = std::make_unique<LibraryApi>(*parts.context, *parts.links, *parts.viewers);
    parts.directoryApi = std::make_unique<DirectoryApi>(*parts.directory);
    parts.quizApi = std::make_unique<QuizApi>(*parts.quizzes);
    parts.support = std::make_unique<SupportApi>(*parts.context);
    parts.sharePages = std::make_unique<SharePages>(*parts.context, *parts.links, *parts.blobs, *parts.tokens);
    installFilters();
    registerRoutes();
    return port;
}

void TovrikaServer::installFilters()
{
    m_http->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    m_http->set_read_timeout(std::chrono::seconds(60));
    m_http->set_write_timeout(std::chrono::seconds(60));
    m_http->set_logger([](const httplib::Request &req, const httplib::Response &res) {
        std::fprintf(stderr, "tovrika-server: %s %s -> %d\n", req.method.c_str(), req.path.c_str(), res.status);
    });

    m_http->set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        // Bodies other than blobs are read into memory, so they are kept small.
        if (!startsWith(req.path, "/blobs/") && req.has_header("Content-Length") && req.get_header_value<uint64_t>("Content-Length") > kMaxJsonBodyBytes) {
            HttpReply::error(res, HttpError(413, QStringLiteral("The request body is too large."), QStringLiteral("request_body_too_large")));
            res.set_header("Connection", "close");
            return httplib::Server::HandlerResponse::Handled;
        }
        // Blob uploads apply their faults themselves, to be able to drop mid-body.
        if (m_parts->faults && !startsWith(req.path, "/_test/") && !(req.method == "PUT" && startsWith(req.path, "/blobs/"))) {
            if (const auto fault = m_parts->faults->take(req)) {
                if (FaultInjector::apply(*fault, req, res) != FaultInjector::Outcome::Continue)
                    return httplib::Server::HandlerResponse::Handled;
            }
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    m_http->set_expect_100_continue_handler([this](const httplib::Request &req, httplib::Response &res) { return m_parts->blobRoutes->expectContinue(req, res); });

    // Answers routing failures (no such address, unreadable request) as JSON like the rest.
    m_http->set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request &req, httplib::Response &res) {
        if (!res.body.empty() || res.has_header("X-Tovrika-Fault") || res.has_header("Location"))
            return httplib::Server::HandlerResponse::Unhandled;
        const int status = res.status;
        const QString title = status == 404 ? QStringLiteral("There is nothing at %1 %2.").arg(QString::fromStdString(req.method), QString::fromStdString(req.path))
                                            : QStringLiteral("The request could not be handled (HTTP %1).").arg(status);
        HttpReply::error(res, HttpError(status, title, status == 404 ? QStringLiteral("not_found") : QStringLiteral("bad_request")));
        return httplib::Server::HandlerResponse::Handled;
    }));

    m_http->set_exception_handler([](const httplib::Request &req, httplib::Response &res, std::exception_ptr failure) {
        QString message = QStringLiteral("unknown failure");
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception &error) {
            message = QString::fromUtf8(error.what());
        } catch (...) {
        }
        std::fprintf(stderr, "tovrika-server: %s %s failed: %s\n", req.method.c_str(), req.path.c_str(), qPrintable(message));
        HttpReply::error(res, HttpError(500, QStringLiteral("The server could not complete the request: %1").arg(message), QStringLiteral("internal_error")));
    });
}

void TovrikaServer::registerRoutes()
{
    m_http->Get("/healthz", [](const httplib::Request &, httplib::Response &res) { HttpReply::json(res, 200, QJsonObject{{QStringLiteral("status"), QStringLiteral("ok")}}); });
    m_parts->authority->registerRoutes(*m_http);
    m_parts->blobRoutes->registerRoutes(*m_http);
    m_parts->sharePages->registerRoutes(*m_http);
    ApiRouter api(*m_http, *m_parts->gate);
    m_parts->publishing->registerRoutes(api);
    m_parts->library->registerRoutes(api);
    m_parts->directoryApi->registerRoutes(api);
    m_parts->quizApi->registerRoutes(api);
    m_parts->support->registerRoutes(api);
    if (m_parts->testHooks)
        m_parts->testHooks->registerRoutes(*m_http);
}

bool TovrikaServer::serve()
{
    return m_http->listen_after_bind();
}

void TovrikaServer::stop()
{
    m_http->stop();
}
