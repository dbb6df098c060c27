#pragma once
// Runs the real tovrika-server binary on a free loopback port with a private data folder, for
// as long as the object lives, and talks to it over HTTP.

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <httplib.h>
#include <memory>
#include <optional>

namespace ServerTest {

inline constexpr const char *kTenant = "5f0c3b9e-8a41-4d2b-9c7e-1a6f2e4d8b30";
inline constexpr const char *kClientId = "b7e4a1d2-3c5f-4e8a-9b6d-0f2c4a8e1d57";
inline constexpr const char *kScope = "openid profile offline_access api://e2a9c4f1-7b3d-4a6e-8c5b-9d1f0e3a7c24/access_as_user";
inline constexpr const char *kUserAgent = "Tovrika/1.0.0 (1)";
inline constexpr const char *kAna = "ana.ferreira@brisvale.example";

struct Reply {
    int status = 0; // 0: no HTTP reply at all
    httplib::Error error = httplib::Error::Success;
    std::string body;
    httplib::Headers headers;

    QJsonValue json() const;
    QJsonObject object() const { return json().toObject(); }
    std::string header(const char *name) const;
};

// A PKCE pair, made the way the program makes it.
struct Pkce {
    QString verifier;
    QString challenge;
    static Pkce make();
};

class TestServer {
public:
    // Starts the server with these extra arguments; `dataDir` empty means a fresh temporary one.
    explicit TestServer(const QStringList &arguments = {}, const QString &dataDir = {});
    ~TestServer();
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    bool isRunning() const { return m_port > 0; }
    int port() const { return m_port; }
    QString origin() const;
    QString dataDir() const { return m_dataDir; }
    // Stops the server (SIGTERM, then SIGKILL if it lingers); answers whether it stopped cleanly.
    bool stop();
    QString output() const;

    std::unique_ptr<httplib::Client> client(int readTimeoutSeconds = 30) const;
    Reply get(const std::string &path, const httplib::Headers &headers = {}) const;
    Reply send(const char *method, const std::string &path, const std::string &body, const httplib::Headers &headers = {},
               const char *contentType = "application/json") const;

    // An API call as the program makes it: bearer token, User-Agent, JSON body.
    Reply api(const char *method, const std::string &path, const QString &accessToken, const std::optional<QJsonObject> &body = std::nullopt) const;

    // The authorisation request of the program's sign-in, plus `extraQuery`.
    std::string authorizePath(const Pkce &pkce, const QString &state, const QString &extraQuery = {}) const;
    Reply token(const QList<std::pair<QString, QString>> &form) const;
    // Runs the whole code flow, through the sign-in page as `login` unless the server
    // approves at once; answers the token reply.
    QJsonObject signIn(const QString &login = QLatin1String(kAna)) const;
    QString accessToken(const QString &login = QLatin1String(kAna)) const { return signIn(login).value(QStringLiteral("access_token")).toString(); }

    // Test hooks.
    QJsonObject state() const;
    void advanceClock(qint64 seconds) const;
    void addFault(const QJsonObject &fault) const;

private:
    mutable QProcess m_process;
    std::unique_ptr<QTemporaryDir> m_tempDir;
    QString m_dataDir;
    int m_port = 0;
    mutable QByteArray m_output;
};

// The value of a query item of a URL such as the Location of a redirect.
QString queryItem(const std::string &url, const char *name);
QString binaryPath(const char *name);

} // namespace ServerTest
