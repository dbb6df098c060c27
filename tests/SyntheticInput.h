#pragma once
// Real input for tests under the test X server: xdotool drives the keyboard and the pointer
// through XTest, so grabs, focus and implicit pointer grabs behave as with a person.

#include <QPoint>
#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

namespace SyntheticInput {

inline bool haveDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY");
}

// Runs one xdotool command to its end; the events it sends are handled on the next turns of
// the event loop.
inline bool xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << "xdotool " << arguments.join(QLatin1Char(' ')).toStdString() << ": "
                      << process.readAllStandardError().toStdString();
        return false;
    }
    return true;
}

inline bool key(const QString &keys)
{
    return xdotool({QStringLiteral("key"), keys});
}

inline bool moveTo(QPoint global)
{
    return xdotool({QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y())});
}

// Press at `from`, move through the points given, release at the last one.
inline bool drag(QPoint from, const QList<QPoint> &through)
{
    QStringList arguments{QStringLiteral("mousemove"), QString::number(from.x()), QString::number(from.y()),
                          QStringLiteral("mousedown"), QStringLiteral("1")};
    for (const QPoint &point : through) {
        arguments << QStringLiteral("sleep") << QStringLiteral("0.05") << QStringLiteral("mousemove")
                  << QString::number(point.x()) << QString::number(point.y());
    }
    arguments << QStringLiteral("sleep") << QStringLiteral("0.05") << QStringLiteral("mouseup") << QStringLiteral("1");
    return xdotool(arguments);
}

inline bool click(QPoint at)
{
    return xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                    QStringLiteral("click"), QStringLiteral("1")});
}

} // namespace SyntheticInput

#define SKIP_WITHOUT_DISPLAY()                                                                                         \
    if (!SyntheticInput::haveDisplay())                                                                                \
    GTEST_SKIP() << "needs an X display (run under scripts/test-env.sh)"
