// The whole program as a user meets it, under the test desktop: the real `tovrika` binary
// against the real reference service. A region recording is started and stopped with the
// global hotkey, the region is dragged with the pointer, the program asks to sign in before
// sharing, the sign-in goes through the "browser" (a test opener), and the recording ends up
// shared: link on the clipboard, video and poster on the service, share page playable.

#include "SyntheticInput.h"
#include "TestSupport.h"
#include "platform/linux/SecretServiceCredentialStore.h"
#include "server/TestServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QUrl>
#include <algorithm>
#include <gtest/gtest.h>
#include <signal.h>

using TestSupport::waitUntil;

namespace {

// The default combination of "Record Selected Area": Option (Alt) + Shift + 6.
const QString kRecordHotKey = QStringLiteral("alt+shift+6");
// The region dragged on the left monitor, and the monitors of the test desktop.
const QPoint kDragFrom(200, 150);
const QPoint kDragTo(840, 510);
const QRect kRegion(kDragFrom, QSize(640, 360));
const QList<QRect> kMonitors = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 720)};

QString sourceDir()
{
    const QString fromEnvironment = qEnvironmentVariable("TOVRIKA_SOURCE_DIR");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    // Run by hand rather than by CTest: this file sits in tests/e2e of the source tree.
    return QDir(QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../..")).absolutePath();
}

// Runs a helper program to its end, killing it when it hangs; answers its standard output,
// or nothing when it failed.
std::optional<QByteArray> runTool(const QString &program, const QStringList &arguments, int timeoutMs = 10000)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs))
        return std::nullopt;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

struct Window {
    QString id;
    QRect geometry;
    QString name;
};

// The mapped windows of a process, found by the _NET_WM_PID Qt puts on each of them.
QList<Window> visibleWindows(qint64 pid)
{
    QList<Window> windows;
    const auto found = runTool(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                           QStringLiteral("--pid"), QString::number(pid)});
    if (!found)
        return windows; // xdotool fails when nothing matches
    for (const QByteArray &line : found->split('\n')) {
        const QString id = QString::fromLatin1(line.trimmed());
        if (id.isEmpty())
            continue;
        const auto shell = runTool(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id});
        if (!shell)
            continue; // gone meanwhile
        QHash<QString, int> values;
        for (const QByteArray &assignment : shell->split('\n')) {
            const qsizetype equals = assignment.indexOf('=');
            if (equals > 0)
                values.insert(QString::fromLatin1(assignment.left(equals)), assignment.mid(equals + 1).trimmed().toInt());
        }
        const auto name = runTool(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), id});
        windows.append({id,
                         QRect(values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
                               values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT"))),
                         name ? QString::fromUtf8(name->trimmed()) : QString()});
    }
    return windows;
}

bool coversAMonitor(const Window &window)
{
    return kMonitors.contains(window.geometry);
}

QString describe(const QList<Window> &windows)
{
    QStringList parts;
    for (const Window &window : windows)
        parts << QStringLiteral("%1 \"%2\" %3x%4+%5+%6")
                     .arg(window.id, window.name)
                     .arg(window.geometry.width())
                     .arg(window.geometry.height())
                     .arg(window.geometry.x())
                     .arg(window.geometry.y());
    return parts.join(QStringLiteral("; "));
}

// Every process but this one whose environment holds `marker` (NAME=value): the program and
// whatever it started, the opener and the second start of the program included.
QList<qint64> processesWith(const QByteArray &marker)
{
    QList<qint64> found;
    const qint64 self = QCoreApplication::applicationPid();
    for (const QFileInfo &entry : QDir(QStringLiteral("/proc")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const qint64 pid = entry.fileName().toLongLong(&isNumber);
        if (!isNumber || pid == self)
            continue;
        const QByteArray status = TestSupport::readFile(entry.filePath() + QStringLiteral("/stat"));
        if (status.contains(") Z "))
            continue; // a zombie is already over
        const QList<QByteArray> environment = TestSupport::readFile(entry.filePath() + QStringLiteral("/environ")).split('\0');
        if (environment.contains(marker))
            found.append(pid);
    }
    return found;
}

QString files(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files).join(QStringLiteral(", "));
}

QJsonObject findBySlug(const QJsonArray &list, const QString &slug)
{
    for (const QJsonValue &value : list)
        if (value.toObject().value(QStringLiteral("slug")).toString() == slug)
            return value.toObject();
    return {};
}

QJsonObject findBlob(const QJsonArray &blobs, const QString &name)
{
    for (const QJsonValue &value : blobs)
        if (value.toObject().value(QStringLiteral("name")).toString() == name)
            return value.toObject();
    return {};
}

} // namespace

TEST(WholeProgram, RecordsARegionByHotkeySignsInWhenSharingAndPublishesTheRecording)
{
    if (qEnvironmentVariable("TOVRIKA_TEST_ENV").isEmpty())
        GTEST_SKIP() << "needs the test environment (scripts/test-env.sh)";
    // Started before the private home, so that its processes are not taken for the program's.
    ServerTest::TestServer server({QStringLiteral("--test-hooks"), QStringLiteral("--auto-approve"), QLatin1String(ServerTest::kAna)});
    ASSERT_TRUE(server.isRunning()) << server.output().toStdString();

    // Nobody is signed in: the keyring of the test desktop is shared by every test.
    SecretServiceCredentialStore keyring;
    keyring.remove(QStringLiteral("refreshToken"));
    ASSERT_FALSE(keyring.read(QStringLiteral("refreshToken")).data.has_value());

    TestSupport::PrivateHome home;
    const QString captures = qEnvironmentVariable("TOVRIKA_CAPTURES_DIR");
    const QString runtime = home.path() + QStringLiteral("/run");
    QDir().mkpath(runtime);
    QDir().mkpath(captures);
    // What an earlier session left: the welcome seen, no microphone, the work e-mail known.
    TestSupport::writeFile(home.path() + QStringLiteral("/config/Tovrika/settings.json"),
                           QJsonDocument(QJsonObject{{QStringLiteral("welcomeShown"), true},
                                                     {QStringLiteral("micEnabled"), false},
                                                     {QStringLiteral("signInHint"), QLatin1String(ServerTest::kAna)}})
                               .toJson());

    const QString program = ServerTest::binaryPath("tovrika");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("TOVRIKA_API_BASE"), server.origin() + QStringLiteral("/api"));
    environment.insert(QStringLiteral("TOVRIKA_AUTHORITY"), server.origin() + QLatin1Char('/') + QLatin1String(ServerTest::kTenant));
    environment.insert(QStringLiteral("TOVRIKA_BROWSER"), sourceDir() + QStringLiteral("/tests/e2e/sign-in-opener.sh"));
    environment.insert(QStringLiteral("TOVRIKA_BIN_DIR"), QFileInfo(program).absolutePath());
    const QByteArray marker = "TOVRIKA_CAPTURES_DIR=" + captures.toUtf8();

    QProcess tovrika;
    tovrika.setProcessEnvironment(environment);
    tovrika.setProcessChannelMode(QProcess::MergedChannels);
    // Whatever happens below, nothing the program started outlives the test.
    const auto cleanUp = qScopeGuard([&] {
        if (tovrika.state() != QProcess::NotRunning) {
            tovrika.kill();
            tovrika.waitForFinished(5000);
        }
        for (const qint64 pid : processesWith(marker))
            ::kill(pid_t(pid), SIGKILL);
        keyring.remove(QStringLiteral("refreshToken"));
    });
    const auto context = [&] {
        return "log:\n" + home.readLog().toStdString() + "\noutput:\n" + QString::fromUtf8(tovrika.readAll()).toStdString();
    };

    tovrika.start(program, {});
    ASSERT_TRUE(tovrika.waitForStarted(10000)) << tovrika.errorString().toStdString();
    const qint64 pid = tovrika.processId();
    ASSERT_TRUE(waitUntil([&] { return home.readLog().contains(QStringLiteral("service: api ") + server.origin()); }, 30000)) << context();
    // The tray comes after the hotkeys are grabbed, and says so on a desktop without a tray.
    waitUntil([&] { return home.readLog().contains(QStringLiteral("status item missing")); }, 15000);
    EXPECT_FALSE(home.readLog().contains(QStringLiteral("could not be registered"))) << context();

    // The hotkey brings up the selection over every monitor. A press that came before the
    // program had grabbed its keys is simply lost, so it is pressed again.
    bool selecting = false;
    for (int attempt = 0; attempt < 3 && !selecting; ++attempt) {
        ASSERT_TRUE(SyntheticInput::key(kRecordHotKey));
        selecting = waitUntil([&] {
            const QList<Window> windows = visibleWindows(pid);
            return std::count_if(windows.begin(), windows.end(), coversAMonitor) == kMonitors.size();
        }, 10000);
    }
    ASSERT_TRUE(selecting) << describe(visibleWindows(pid)).toStdString() << "\n" << context();

    // The region is dragged on the left monitor; a drag that came before the overlay took
    // the pointer leaves the selection open, and is done again.
    bool selected = false;
    for (int attempt = 0; attempt < 3 && !selected; ++attempt) {
        TestSupport::spin(300); // the overlays are mapped; let them settle before the press
        ASSERT_TRUE(SyntheticInput::drag(kDragFrom, {{500, 300}, kDragTo}));
        selected = waitUntil([&] {
            const QList<Window> windows = visibleWindows(pid);
            return std::none_of(windows.begin(), windows.end(), coversAMonitor);
        }, 5000);
    }
    ASSERT_TRUE(selected) << describe(visibleWindows(pid)).toStdString() << "\n" << context();

    // The countdown runs, then the recorder writes its file.
    ASSERT_TRUE(waitUntil([&] { return !QDir(captures).entryList({QStringLiteral("*.mp4")}, QDir::Files).isEmpty(); }, 30000))
        << files(captures).toStdString() << "\n" << context();
    TestSupport::spin(3000); // about three seconds of recording

    // The same hotkey stops it; the program notes a hotkey it gets while not idle.
    const qsizetype logBeforeStop = home.readLog().size();
    const QString stopLine = QStringLiteral("hotkey toggleAreaRecording while phase ");
    ASSERT_TRUE(SyntheticInput::key(kRecordHotKey));
    ASSERT_TRUE(waitUntil([&] { return home.readLog().mid(logBeforeStop).contains(stopLine); }, 15000)) << context();
    ASSERT_TRUE(home.readLog().mid(logBeforeStop).contains(stopLine + QStringLiteral("recording("))) << context();

    // Nobody is signed in, so sharing asks for it first; "Sign In…" is the alert's default
    // button. The sign-in opens the opener, which hands the redirect to a second start of the
    // program. The recording's border may still be mapped for a moment: the alert is the
    // other window.
    QList<Window> alerts;
    ASSERT_TRUE(waitUntil([&] {
        alerts = visibleWindows(pid);
        alerts.removeIf([](const Window &window) { return window.geometry.contains(kRegion); });
        return !alerts.isEmpty();
    }, 60000)) << context();
    ASSERT_EQ(alerts.size(), 1) << describe(alerts).toStdString();
    ASSERT_TRUE(SyntheticInput::xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), alerts.first().id}));
    ASSERT_TRUE(SyntheticInput::key(QStringLiteral("Return")));

    ASSERT_TRUE(waitUntil([&] {
        const QString log = home.readLog();
        return log.contains(QStringLiteral("publish done: ")) || log.contains(QStringLiteral("publish failed: "))
            || log.contains(QStringLiteral("Sign-in failed"));
    }, 120000)) << describe(visibleWindows(pid)).toStdString() << "\n" << context();
    const QString log = home.readLog();
    ASSERT_TRUE(log.contains(QStringLiteral("publish done: "))) << context();
    EXPECT_TRUE(log.contains(QStringLiteral("publish reserved: "))) << context();
    EXPECT_TRUE(log.contains(QStringLiteral("publish uploaded: "))) << context();
    EXPECT_TRUE(log.contains(QStringLiteral("poster uploaded: "))) << context();

    static const QRegularExpression doneLine(QStringLiteral("publish done: (\\S+)"));
    const QString shareUrl = doneLine.match(log).captured(1);
    const QUrl link(shareUrl);
    ASSERT_TRUE(link.isValid()) << shareUrl.toStdString();
    EXPECT_EQ(link.adjusted(QUrl::RemovePath).toString(), server.origin());
    static const QRegularExpression sharePath(QStringLiteral("^/v/([^/]+)$"));
    const QString slug = sharePath.match(link.path()).captured(1);
    ASSERT_FALSE(slug.isEmpty()) << shareUrl.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("publish reserved: %1 %2").arg(slug, shareUrl))) << context();

    // The link is on the clipboard, held by the program.
    const auto clipboard = runTool(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
    ASSERT_TRUE(clipboard.has_value());
    EXPECT_EQ(QString::fromUtf8(*clipboard).trimmed(), shareUrl);

    // The sign-in stored a refresh token, and never logged it.
    const auto stored = keyring.read(QStringLiteral("refreshToken")).data;
    ASSERT_TRUE(stored.has_value());
    EXPECT_FALSE(stored->isEmpty());
    EXPECT_FALSE(log.contains(QString::fromUtf8(*stored)));

    // The one recording in the captures folder is what the service holds.
    const QStringList recordings = QDir(captures).entryList({QStringLiteral("*.mp4")}, QDir::Files);
    ASSERT_EQ(recordings.size(), 1) << files(captures).toStdString();
    EXPECT_TRUE(recordings.first().startsWith(QStringLiteral("Screen Recording ")));
    const QByteArray recorded = TestSupport::readFile(QDir(captures).filePath(recordings.first()));
    ASSERT_FALSE(recorded.isEmpty());

    const QJsonObject state = server.state();
    const QJsonArray links = state.value(QStringLiteral("links")).toArray();
    ASSERT_EQ(links.size(), 1) << QJsonDocument(state).toJson().toStdString();
    const QJsonObject storedLink = links.first().toObject();
    EXPECT_EQ(storedLink.value(QStringLiteral("slug")).toString(), slug);
    EXPECT_EQ(storedLink.value(QStringLiteral("contentType")).toString(), QStringLiteral("video/mp4"));
    EXPECT_EQ(storedLink.value(QStringLiteral("title")).toString(), QFileInfo(recordings.first()).completeBaseName());
    EXPECT_TRUE(storedLink.value(QStringLiteral("titleIsDefault")).toBool());
    EXPECT_FALSE(storedLink.value(QStringLiteral("publishedAt")).isNull());
    const QString videoBlob = storedLink.value(QStringLiteral("blobName")).toString();
    const QString posterBlob = storedLink.value(QStringLiteral("posterBlobName")).toString();
    ASSERT_FALSE(videoBlob.isEmpty());
    ASSERT_FALSE(posterBlob.isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("publish uploaded: ") + videoBlob)) << context();
    EXPECT_TRUE(log.contains(QStringLiteral("poster uploaded: ") + posterBlob)) << context();

    const QJsonArray blobs = state.value(QStringLiteral("blobs")).toArray();
    const QJsonObject video = findBlob(blobs, videoBlob);
    EXPECT_EQ(video.value(QStringLiteral("contentType")).toString(), QStringLiteral("video/mp4"));
    EXPECT_EQ(video.value(QStringLiteral("sizeBytes")).toInteger(), recorded.size());
    const QJsonObject poster = findBlob(blobs, posterBlob);
    EXPECT_EQ(poster.value(QStringLiteral("contentType")).toString(), QStringLiteral("image/png"));
    EXPECT_GT(poster.value(QStringLiteral("sizeBytes")).toInteger(), 0);

    // It is Ana's: her library lists it under the same link.
    const ServerTest::Reply library = server.api("GET", "recordings/links", server.accessToken());
    ASSERT_EQ(library.status, 200) << library.body;
    const QJsonObject item = findBySlug(library.json().toArray(), slug);
    EXPECT_EQ(item.value(QStringLiteral("url")).toString(), shareUrl) << library.body;
    EXPECT_EQ(item.value(QStringLiteral("itemType")).toString(), QStringLiteral("video")) << library.body;
    EXPECT_EQ(video.value(QStringLiteral("ownerId")).toString(), storedLink.value(QStringLiteral("ownerId")).toString());

    // The share page plays the recording, with its poster, both of which can be fetched.
    const ServerTest::Reply page = server.get(link.path().toStdString());
    ASSERT_EQ(page.status, 200) << page.body;
    const QString html = QString::fromStdString(page.body);
    static const QRegularExpression videoTag(QStringLiteral("<video[^>]* poster=\"([^\"]+)\"[^>]* src=\"([^\"]+)\""));
    const QRegularExpressionMatch tag = videoTag.match(html);
    ASSERT_TRUE(tag.hasMatch()) << page.body;
    EXPECT_TRUE(html.contains(QStringLiteral("Ana Ferreira"))) << page.body;
    const ServerTest::Reply media = server.get(link.resolved(QUrl(tag.captured(2))).path().toStdString());
    ASSERT_EQ(media.status, 200) << tag.captured(2).toStdString();
    EXPECT_EQ(media.header("Content-Type"), "video/mp4");
    EXPECT_TRUE(QByteArray::fromStdString(media.body) == recorded) << "served " << media.body.size() << " bytes, recorded " << recorded.size();
    const ServerTest::Reply posterReply = server.get(link.resolved(QUrl(tag.captured(1))).path().toStdString());
    ASSERT_EQ(posterReply.status, 200) << tag.captured(1).toStdString();
    EXPECT_EQ(posterReply.header("Content-Type"), "image/png");
    EXPECT_EQ(posterReply.body.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

    // Sharing told the user.
    const QString notifications = QString::fromUtf8(TestSupport::readFile(qEnvironmentVariable("TOVRIKA_TEST_NOTIFICATIONS_LOG")));
    EXPECT_TRUE(notifications.contains(QStringLiteral("Link copied to the clipboard")));

    // A polite end: SIGTERM lets the program quit on its own, and nothing it started lingers.
    tovrika.terminate();
    ASSERT_TRUE(tovrika.waitForFinished(15000)) << context();
    EXPECT_EQ(tovrika.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(tovrika.exitCode(), 0);
    EXPECT_TRUE(home.readLog().endsWith(QStringLiteral(" quit\n"))) << context();
    EXPECT_TRUE(waitUntil([&] { return processesWith(marker).isEmpty(); }, 15000));
}
