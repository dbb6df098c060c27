#include "TestSupport.h"
#include "app/AppState.h"
#include "app/Config.h"
#include "app/SingleInstance.h"
#include "auth/AuthService.h"
#include "auth/Keychain.h"
#include "fakes/FakePlatform.h"
#include "platform/linux/BrowserAuthSheet.h"
#include "platform/linux/SecretServiceCredentialStore.h"
#include "server/TestServer.h"

#include <QDir>
#include <gtest/gtest.h>

// The whole sign-in as it happens for a user: the program opens the authority's page in the
// "browser" (a test opener), the authority approves, and the redirect comes back through a
// second start of the real `tovrika` binary handing its URL to the running instance.
TEST(SignIn, EndToEndThroughTheBrowserAndTheUrlHandOver)
{
    if (qEnvironmentVariable("TOVRIKA_TEST_ENV").isEmpty())
        GTEST_SKIP() << "needs the test environment (scripts/test-env.sh)";
    ServerTest::TestServer server({QStringLiteral("--auto-approve"), QLatin1String(ServerTest::kAna)});
    ASSERT_TRUE(server.isRunning()) << server.output().toStdString();

    TestSupport::PrivateHome home;
    const QString runtime = home.path() + QStringLiteral("/run");
    QDir().mkpath(runtime);
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    qputenv("TOVRIKA_BROWSER", (qEnvironmentVariable("TOVRIKA_SOURCE_DIR") + QStringLiteral("/tests/e2e/sign-in-opener.sh")).toUtf8());
    const Config::Service saved = Config::service();
    Config::Service service = saved;
    service.apiBase = QUrl(server.origin() + QStringLiteral("/api"));
    service.authority = QUrl(server.origin() + QLatin1Char('/') + QLatin1String(ServerTest::kTenant));
    Config::setService(service);

    // The real credential store and sign-in page; the rest of the desktop is faked.
    FakePlatform fake;
    fake.settings.values[QStringLiteral("welcomeShown")] = true;
    fake.settings.values[QStringLiteral("signInHint")] = QLatin1String(ServerTest::kAna);
    SecretServiceCredentialStore secrets;
    BrowserAuthSheet browser;
    Keychain::setStore(&secrets);
    Keychain::remove(QStringLiteral("refreshToken"));
    Platform platform = fake.platform();
    Platform real{platform.settings, platform.screens, platform.notifications, platform.clipboard,
                  platform.workspace, platform.loginItem, secrets, browser,
                  platform.screenCapture, platform.media, platform.keys, platform.cameras};
    AppState app(real);
    SingleInstance instance;
    ASSERT_TRUE(instance.tryLock());
    ASSERT_TRUE(instance.listen());
    QObject::connect(&instance, &SingleInstance::urlsReceived, &app, &AppState::openUrls);

    bool signedIn = false;
    bool finished = false;
    auto running = [](AppState *app, bool *signedIn, bool *finished) -> QCoro::Task<> {
        *signedIn = co_await app->runSignIn();
        *finished = true;
    }(&app, &signedIn, &finished);
    EXPECT_TRUE(app.signingIn());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return finished; }, 30000)) << home.readLog().toStdString();

    EXPECT_TRUE(signedIn) << home.readLog().toStdString();
    EXPECT_FALSE(app.signingIn());
    EXPECT_EQ(app.signedInAs(), QStringLiteral("Ana Ferreira"));
    const auto stored = Keychain::read(QStringLiteral("refreshToken"));
    ASSERT_TRUE(stored.has_value());
    EXPECT_FALSE(stored->isEmpty());
    EXPECT_FALSE(home.readLog().contains(*stored)); // tokens never reach the log

    // The stored refresh token works on the next start.
    bool valid = false;
    EXPECT_TRUE(TestSupport::run([](AppState *app, bool *valid) -> QCoro::Task<> {
        *valid = co_await app->auth().verifySession();
    }(&app, &valid)));
    EXPECT_TRUE(valid);

    app.signOut();
    EXPECT_FALSE(Keychain::read(QStringLiteral("refreshToken")).has_value());
    Keychain::setStore(&fake.credentials);
    Config::setService(saved);
    qunsetenv("TOVRIKA_BROWSER");
}
