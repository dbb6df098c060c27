#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

namespace {
QString binary(const QString &name)
{
    const QString dir = qEnvironmentVariable("TOVRIKA_BIN_DIR", QCoreApplication::applicationDirPath());
    return dir + QLatin1Char('/') + name;
}

// The program as a user starts it, with its own home, runtime folder and log.
struct Program {
    Program()
    {
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path() + QStringLiteral("/run"));
        QDir().mkpath(home.path() + QStringLiteral("/run"));
        if (!environment.contains(QStringLiteral("DISPLAY")))
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    ~Program()
    {
        if (first.state() != QProcess::NotRunning) {
            first.kill();
            first.waitForFinished(5000);
        }
    }
    void start()
    {
        first.setProcessEnvironment(environment);
        first.start(binary(QStringLiteral("tovrika")), {});
    }
    int runSecond(const QStringList &arguments)
    {
        QProcess second;
        second.setProcessEnvironment(environment);
        second.start(binary(QStringLiteral("tovrika")), arguments);
        if (!second.waitForFinished(15000)) {
            second.kill();
            return -1;
        }
        return second.exitCode();
    }
    bool logContains(const QString &text) const { return home.readLog().contains(text); }

    TestSupport::PrivateHome home; // also sets this process's environment, which the program inherits
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QProcess first;
};
} // namespace

TEST(ProgramStart, StartsOnceAndTakesUrlsFromLaterStarts)
{
    Program program;
    program.start();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return program.logContains(QStringLiteral("launch: Tovrika")); }, 15000))
        << program.home.readLog().toStdString();
    EXPECT_TRUE(TestSupport::waitUntil([&] { return QDir(program.home.path() + QStringLiteral("/Movies/Tovrika")).exists(); }));
    // The welcome arrives a second after launch and is remembered.
    ASSERT_TRUE(TestSupport::waitUntil([&] { return program.logContains(QStringLiteral("Welcome to Tovrika! — ")); }, 10000));
    EXPECT_TRUE(TestSupport::waitUntil([&] {
        return TestSupport::readFile(program.home.path() + QStringLiteral("/config/Tovrika/settings.json")).contains("welcomeShown");
    }));

    EXPECT_EQ(program.runSecond({QStringLiteral("TOVRIKA://Record")}), 0);
    EXPECT_TRUE(TestSupport::waitUntil([&] { return program.logContains(QStringLiteral("url: area recording requested (tovrika://record)")); }))
        << program.home.readLog().toStdString();
    EXPECT_EQ(program.runSecond({QStringLiteral("tovrika://stop")}), 0);
    EXPECT_EQ(program.runSecond({}), 0);
    EXPECT_TRUE(TestSupport::waitUntil([&] { return program.logContains(QStringLiteral("reopen requested")); }));
    EXPECT_FALSE(program.logContains(QStringLiteral("tovrika://stop")));
    EXPECT_EQ(program.home.readLog().count(QStringLiteral("launch: Tovrika")), 1);

    program.first.terminate();
    ASSERT_TRUE(program.first.waitForFinished(10000));
    EXPECT_EQ(program.first.exitCode(), 0);
    EXPECT_TRUE(program.logContains(QStringLiteral(" quit\n")));
}

TEST(ProgramStart, CorruptSettingsStartWithDefaultsAndStayUntouched)
{
    Program program;
    const QString settings = program.home.path() + QStringLiteral("/config/Tovrika/settings.json");
    TestSupport::writeFile(settings, "{\"welcomeShown\": tru");
    program.start();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return program.logContains(QStringLiteral("settings: ignoring unreadable")); }, 15000));
    // The welcome shows (defaults), and its write replaces the broken file only then.
    ASSERT_TRUE(TestSupport::waitUntil([&] { return program.logContains(QStringLiteral("Welcome to Tovrika!")); }, 10000));
    EXPECT_TRUE(TestSupport::waitUntil([&] { return TestSupport::readFile(settings).contains("\"welcomeShown\": true"); }));
}
