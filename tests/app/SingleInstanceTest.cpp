#include "TestSupport.h"
#include "app/SingleInstance.h"

#include <QTemporaryDir>
#include <QtConcurrent>
#include <gtest/gtest.h>

TEST(SingleInstance, TheSecondHandsItsUrlsOrAReopenToTheFirst)
{
    QTemporaryDir folder;
    SingleInstance first(folder.path());
    ASSERT_TRUE(first.tryLock());
    ASSERT_TRUE(first.listen());
    QList<QUrl> received;
    int reopens = 0;
    QObject::connect(&first, &SingleInstance::urlsReceived, [&](const QList<QUrl> &urls) { received << urls; });
    QObject::connect(&first, &SingleInstance::reopenRequested, [&] { ++reopens; });

    SingleInstance second(folder.path());
    EXPECT_FALSE(second.tryLock());
    // The hand-over blocks until written, so it runs beside the event loop that serves it.
    auto handOver = QtConcurrent::run([&] {
        return second.handOver({QUrl(QStringLiteral("tovrika://record")), QUrl(QStringLiteral("tovrika:record"))})
               && second.handOver({});
    });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return handOver.isFinished() && received.size() == 2 && reopens == 1; }));
    EXPECT_TRUE(handOver.result());
    EXPECT_EQ(received, (QList<QUrl>{QUrl(QStringLiteral("tovrika://record")), QUrl(QStringLiteral("tovrika:record"))}));
}

TEST(SingleInstance, NoRunningInstanceMeansNoHandOver)
{
    QTemporaryDir folder;
    {
        SingleInstance crashed(folder.path());
        ASSERT_TRUE(crashed.tryLock());
    }
    // The lock went with its owner, and nobody listens.
    SingleInstance next(folder.path());
    EXPECT_FALSE(next.handOver({}, 300));
    EXPECT_TRUE(next.tryLock());
}
