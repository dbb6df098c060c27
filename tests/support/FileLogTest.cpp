#include "TestSupport.h"
#include "support/FileLog.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using TestSupport::PrivateHome;

TEST(FileLog, FirstWriteCreatesTheFileWithOneTimestampedLine)
{
    PrivateHome home;
    ASSERT_FALSE(QFile::exists(home.logPath()));
    QStringList observed;
    FileLog::setOnWrite([&](const QString &message) { observed << message; });

    FileLog::write(QStringLiteral("camera bubble: no usable camera"));
    FileLog::setOnWrite(nullptr);

    const QString log = home.readLog();
    static const QRegularExpression line(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ camera bubble: no usable camera\n$)"));
    EXPECT_TRUE(line.match(log).hasMatch()) << log.toStdString();
    EXPECT_EQ(observed, QStringList{QStringLiteral("camera bubble: no usable camera")});
}

TEST(FileLog, AppendsUtf8LinesUnchanged)
{
    PrivateHome home;
    FileLog::write(QStringLiteral("first"));
    FileLog::write(QStringLiteral("Hotkeys restored — ⌘⇧5 is yours again"));
    const QStringList lines = home.readLog().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral(" Hotkeys restored — ⌘⇧5 is yours again")));
}

TEST(FileLog, UnwritableFolderLosesLinesWithoutFailing)
{
    PrivateHome home;
    // The log folder's parent is a file, so the folder can never be made.
    TestSupport::writeFile(home.path() + QStringLiteral("/state"), "not a folder");
    FileLog::write(QStringLiteral("lost"));
    EXPECT_EQ(FileLog::tail(100), QString());
}

TEST(FileLog, TailAnswersTheLastBytes)
{
    PrivateHome home;
    EXPECT_EQ(FileLog::tail(160000), QString()); // no log yet

    TestSupport::writeFile(home.logPath(), QByteArray(100000, 'a') + QByteArray(100000, 'b'));
    const QString tail = FileLog::tail(160000);
    EXPECT_EQ(tail.size(), 160000);
    EXPECT_EQ(tail, QString(60000, QLatin1Char('a')) + QString(100000, QLatin1Char('b')));

    TestSupport::writeFile(home.logPath(), "0123456789");
    EXPECT_EQ(FileLog::tail(160000), QStringLiteral("0123456789"));
}

TEST(FileLog, TailStartingInsideACharacterBeginsWithTheReplacementCharacter)
{
    PrivateHome home;
    TestSupport::writeFile(home.logPath(), QStringLiteral("x—end").toUtf8()); // "—" is three bytes
    const QString tail = FileLog::tail(5); // two bytes of "—", then "end"
    ASSERT_FALSE(tail.isEmpty());
    EXPECT_EQ(tail.front(), QChar(QChar::ReplacementCharacter));
    EXPECT_TRUE(tail.endsWith(QStringLiteral("end")));
}
