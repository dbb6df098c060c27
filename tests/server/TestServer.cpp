#include "TestServer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

namespace ServerTest {

QJsonValue Reply::json() const
{
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(body));
    if (document.isObject())
        return document.object();
    if (document.isArray())
        return document.array();
    return {};
}

std::string Reply::header(const char *name) const
{
    const auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
}

Pkce Pkce::make()
{
    QByteArray random(32, '\0');
    for (char &byte : random)
        byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
    const auto base64Url = [](const QByteArray &data) {
        return QString::fromLatin1(data.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    };
    Pkce pkce;
    pkce.verifier = base64Url(random);
    pkce.challenge = base64Url(QCryptographicHash::hash(pkce.verifier.toUtf8(), QCryptographicHash::Sha256));
    return pkce;
}

QString binaryPath(const char *name)
{
    const QString dir = qEnvironmentVariableIsSet("TOVRIKA_BIN_DIR") ? qEnvironmentVariable("TOVRIKA_BIN_DIR") : QCoreApplication::applicationDirPath();
    return dir + QLatin1Char('/') + QLatin1String(name);
}

QString queryItem(const std::string &url, const char *name)
{
    return QUrlQuery(QUrl(QString::fromStdString(url))).queryItemValue(QLatin1String(name), QUrl::FullyDecoded);
}

TestServer::TestServer(const QStringList &arguments, const QString &dataDir)
{
    if (dataDir.isEmpty()) {
        m_tempDir = std::make_unique<QTemporaryDir>();
        m_dataDir = m_tempDir->path() + QStringLiteral("/data");
    } else {
        m_dataDir = dataDir;
    }
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(binaryPath("tovrika-server"), QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"), m_dataDir} + arguments);
    if (!m_process.waitForStarted(10000)) {
        ADD_FAILURE() << "tovrika-server did not start: " << m_process.errorString().toStdString();
        return;
    }
    // The first line of standard output names the port.
    static const QRegularExpression listening(QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+)"));
    QDeadlineTimer deadline(15000);
    QByteArray standardOutput;
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(100);
        standardOutput += m_process.readAllStandardOutput();
        const QRegularExpressionMatch match = listening.match(QString::fromUtf8(standardOutput));
        if (match.hasMatch()) {
            m_port = match.captured(1).toInt();
            break;
        }
    }
    if (m_port == 0) {
        ADD_FAILURE() << "tovrika-server did not report its port: " << output().toStdString();
        return;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (get("/healthz").status == 200)
            return;
        QThread::msleep(50);
    }
    ADD_FAILURE() << "tovrika-server never answered /healthz";
}

TestServer::~TestServer()
{
    stop();
}

bool TestServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    m_process.terminate();
    const bool clean = m_process.waitForFinished(10000) && m_process.exitStatus() == QProcess::NormalExit;
    if (!clean) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    m_port = 0;
    return clean;
}

QString TestServer::output() const
{
    m_output += m_process.readAllStandardOutput() + m_process.readAllStandardError();
    return QString::fromUtf8(m_output);
}

QString TestServer::origin() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

std::unique_ptr<httplib::Client> TestServer::client(int readTimeoutSeconds) const
{
    auto client = std::make_unique<httplib::Client>("127.0.0.1", m_port);
    client->set_connection_timeout(5);
    client->set_read_timeout(readTimeoutSeconds);
    client->set_write_timeout(30);
    return client;
}

namespace {
Reply toReply(const httplib::Result &result)
{
    Reply reply;
    reply.error = result.error();
    if (result) {
        reply.status = result->status;
        reply.body = result->body;
        reply.headers = result->headers;
    }
    return reply;
}
} // namespace

Reply TestServer::get(const std::string &path, const httplib::Headers &headers) const
{
    return toReply(client()->Get(path, headers));
}

Reply TestServer::send(const char *method, const std::string &path, const std::string &body, const httplib::Headers &headers, const char *contentType) const
{
    const std::string verb(method);
    auto http = client();
    if (verb == "GET")
        return toReply(http->Get(path, headers));
    if (verb == "POST")
        return toReply(http->Post(path, headers, body, contentType));
    if (verb == "PUT")
        return toReply(http->Put(path, headers, body, contentType));
    if (verb == "PATCH")
        return toReply(http->Patch(path, headers, body, contentType));
    if (verb == "DELETE")
        return toReply(http->Delete(path, headers, body, contentType));
    ADD_FAILURE() << "unsupported method " << verb;
    return {};
}

Reply TestServer::api(const char *method, const std::string &path, const QString &accessToken, const std::optional<QJsonObject> &body) const
{
    httplib::Headers headers{{"User-Agent", kUserAgent}};
    if (!accessToken.isEmpty())
        headers.emplace("Authorization", "Bearer " + accessToken.toStdString());
    const std::string json = body ? QJsonDocument(*body).toJson(QJsonDocument::Compact).toStdString() : std::string();
    return send(method, "/api/" + path, json, headers);
}

std::string TestServer::authorizePath(const Pkce &pkce, const QString &state, const QString &extraQuery) const
{
    // Items in the order, and with the encoding, the program uses.
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("client_id"), QLatin1String(kClientId));
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("redirect_uri"), QStringLiteral("tovrika://auth"));
    query.addQueryItem(QStringLiteral("response_mode"), QStringLiteral("query"));
    query.addQueryItem(QStringLiteral("scope"), QLatin1String(kScope));
    query.addQueryItem(QStringLiteral("code_challenge"), pkce.challenge);
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    query.addQueryItem(QStringLiteral("state"), state);
    QString text = query.toString(QUrl::FullyEncoded);
    if (!extraQuery.isEmpty())
        text += QLatin1Char('&') + extraQuery;
    return QStringLiteral("/%1/oauth2/v2.0/authorize?%2").arg(QLatin1String(kTenant), text).toStdString();
}

Reply TestServer::token(const QList<std::pair<QString, QString>> &form) const
{
    // Values percent-encoded except letters, digits and "-._~", as the program sends them.
    QStringList pairs;
    for (const auto &[key, value] : form)
        pairs << key + QLatin1Char('=') + QString::fromLatin1(QUrl::toPercentEncoding(value));
    return send("POST", QStringLiteral("/%1/oauth2/v2.0/token").arg(QLatin1String(kTenant)).toStdString(), pairs.join(QLatin1Char('&')).toStdString(), {},
                "application/x-www-form-urlencoded");
}

QJsonObject TestServer::signIn(const QString &login) const
{
    const Pkce pkce = Pkce::make();
    Reply redirect = get(authorizePath(pkce, QStringLiteral("state-1"), QStringLiteral("prompt=select_account")));
    if (redirect.status == 200) {
        static const QRegularExpression requestField(QStringLiteral("name=\"request\" value=\"([^\"]+)\""));
        const QString requestId = requestField.match(QString::fromStdString(redirect.body)).captured(1);
        const QString form = QStringLiteral("request=%1&login=%2").arg(requestId, QString::fromLatin1(QUrl::toPercentEncoding(login)));
        redirect = send("POST", QStringLiteral("/%1/oauth2/v2.0/authorize").arg(QLatin1String(kTenant)).toStdString(), form.toStdString(), {},
                        "application/x-www-form-urlencoded");
    }
    EXPECT_EQ(redirect.status, 302) << redirect.body;
    const QString code = queryItem(redirect.header("Location"), "code");
    const Reply tokens = token({{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
                                {QStringLiteral("code"), code},
                                {QStringLiteral("code_verifier"), pkce.verifier},
                                {QStringLiteral("redirect_uri"), QStringLiteral("tovrika://auth")},
                                {QStringLiteral("client_id"), QLatin1String(kClientId)},
                                {QStringLiteral("scope"), QLatin1String(kScope)}});
    EXPECT_EQ(tokens.status, 200) << tokens.body;
    return tokens.object();
}

QJsonObject TestServer::state() const
{
    const Reply reply = get("/_test/state");
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.object();
}

void TestServer::advanceClock(qint64 seconds) const
{
    const Reply reply = send("POST", "/_test/clock", QJsonDocument(QJsonObject{{QStringLiteral("advanceSeconds"), seconds}}).toJson().toStdString());
    EXPECT_EQ(reply.status, 200) << reply.body;
}

void TestServer::addFault(const QJsonObject &fault) const
{
    const Reply reply = send("POST", "/_test/faults", QJsonDocument(fault).toJson().toStdString());
    EXPECT_EQ(reply.status, 201) << reply.body;
}

} // namespace ServerTest
