#include "TestSupport.h"
#include "fakes/FakePlatform.h"
#include "ui/Notifier.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

using TestSupport::PrivateHome;

TEST(Notifier, LogsEveryNotificationAndPostsIt)
{
    PrivateHome home;
    FakePlatform fake;
    Notifier::show(QStringLiteral("Hotkeys restored"), QStringLiteral("All hotkeys work again."));
    ASSERT_EQ(fake.notifications.posted.size(), 1);
    EXPECT_EQ(fake.notifications.posted[0].title, QStringLiteral("Hotkeys restored"));
    EXPECT_EQ(fake.notifications.posted[0].imagePath, std::nullopt);
    EXPECT_TRUE(home.readLog().endsWith(QStringLiteral(" Hotkeys restored — All hotkeys work again.\n")));

    // Without a server nothing is posted, but the line is still written.
    fake.notifications.isAvailable = false;
    Notifier::show(QStringLiteral("Upload failed"), QStringLiteral("The file is saved."));
    EXPECT_EQ(fake.notifications.posted.size(), 1);
    EXPECT_TRUE(home.readLog().contains(QStringLiteral("Upload failed — The file is saved.")));
}

TEST(Notifier, AttachesACopyOfThePicture)
{
    PrivateHome home;
    FakePlatform fake;
    const QString poster = home.path() + QStringLiteral("/poster"); // no extension
    TestSupport::writeFile(poster, "picture bytes");

    Notifier::show(QStringLiteral("Link copied to the clipboard"), QStringLiteral("Uploading…"), poster);
    ASSERT_EQ(fake.notifications.posted.size(), 1);
    const auto copy = fake.notifications.posted[0].imagePath;
    ASSERT_TRUE(copy.has_value());
    static const QRegularExpression uuidPng(QStringLiteral(R"(/[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\.png$)"));
    EXPECT_TRUE(uuidPng.match(*copy).hasMatch()) << copy->toStdString();
    EXPECT_EQ(TestSupport::readFile(*copy), QByteArray("picture bytes"));
    EXPECT_EQ(TestSupport::readFile(poster), QByteArray("picture bytes"));
    EXPECT_TRUE(QFileInfo(*copy).absolutePath() != QFileInfo(poster).absolutePath());

    const QString jpeg = home.path() + QStringLiteral("/shot.jpeg");
    TestSupport::writeFile(jpeg, "jpeg");
    EXPECT_TRUE(Notifier::attachmentCopy(jpeg)->endsWith(QStringLiteral(".jpeg")));

    // A picture that can't be copied drops the picture, not the notification.
    Notifier::show(QStringLiteral("Title"), QStringLiteral("Body"), home.path() + QStringLiteral("/missing.png"));
    ASSERT_EQ(fake.notifications.posted.size(), 2);
    EXPECT_EQ(fake.notifications.posted[1].imagePath, std::nullopt);
}
