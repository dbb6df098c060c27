#include "TestSupport.h"
#include "platform/linux/DBusNotifications.h"
#include "ui/Notifier.h"

#include <QFileInfo>
#include <QUrl>
#include <gtest/gtest.h>

// Posts through the real session bus of the test environment, where every Notify call is
// recorded to the file named by TOVRIKA_TEST_NOTIFICATIONS_LOG.
TEST(DBusNotifications, ANotificationReachesTheServerWithItsPictureCopied)
{
    const QString recorded = qEnvironmentVariable("TOVRIKA_TEST_NOTIFICATIONS_LOG");
    if (recorded.isEmpty())
        GTEST_SKIP() << "needs the test environment (scripts/test-env.sh)";

    TestSupport::PrivateHome home;
    DBusNotifications notifications;
    ASSERT_TRUE(notifications.available()) << notifications.unavailableReason().toStdString();
    Notifier::setBackend(&notifications);

    const QString picture = home.path() + QStringLiteral("/poster.png");
    TestSupport::writeFile(picture, "png bytes");
    const QString title = QStringLiteral("Link copied %1").arg(QCoreApplication::applicationPid());
    Notifier::show(title, QStringLiteral("Uploading your recording…"), picture);
    Notifier::setBackend(nullptr);

    QString posted;
    ASSERT_TRUE(TestSupport::waitUntil([&] {
        posted = QString::fromUtf8(TestSupport::readFile(recorded));
        return posted.contains(title) && posted.indexOf(QStringLiteral("image-path"), posted.indexOf(title)) > 0;
    })) << posted.toStdString();

    const qsizetype at = posted.indexOf(QStringLiteral("file:///"), posted.indexOf(title));
    ASSERT_GT(at, 0);
    const QString url = posted.mid(at, posted.indexOf(QLatin1Char('"'), at) - at);
    const QString copy = QUrl(url).toLocalFile();
    EXPECT_NE(copy, picture);
    EXPECT_TRUE(copy.endsWith(QStringLiteral(".png")));
    EXPECT_EQ(TestSupport::readFile(copy), QByteArray("png bytes"));
    EXPECT_TRUE(home.readLog().contains(title + QStringLiteral(" — Uploading your recording…")));
}
