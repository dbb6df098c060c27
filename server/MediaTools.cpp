#include "server/MediaTools.h"

#include <QFile>
#include <QProcess>
#include <cmath>

namespace {

struct ToolRun {
    bool ok = false;
    QByteArray output;
    QString problem;
};

ToolRun runTool(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    ToolRun run;
    if (!process.waitForStarted(10000)) {
        run.problem = QStringLiteral("%1 could not be started: %2").arg(program, process.errorString());
        return run;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        run.problem = QStringLiteral("%1 took longer than %2 seconds").arg(program).arg(timeoutMs / 1000);
        return run;
    }
    run.output = process.readAllStandardOutput();
    const QString errors = QString::fromUtf8(process.readAllStandardError()).trimmed();
    run.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!run.ok)
        run.problem = QStringLiteral("%1 failed: %2").arg(program, errors.isEmpty() ? QStringLiteral("exit code %1").arg(process.exitCode()) : errors.section(QLatin1Char('\n'), -1));
    return run;
}

// Tools write to a side file that only takes the final name once complete.
QString finish(const ToolRun &run, const QString &partPath, const QString &finalPath)
{
    if (!run.ok) {
        QFile::remove(partPath);
        return run.problem;
    }
    QFile::remove(finalPath);
    if (!QFile::rename(partPath, finalPath)) {
        QFile::remove(partPath);
        return QStringLiteral("could not move the result to %1").arg(finalPath);
    }
    return {};
}

} // namespace

namespace MediaTools {

std::optional<qint64> durationSeconds(const QString &mediaPath)
{
    const ToolRun run = runTool(QStringLiteral("ffprobe"),
                                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"), QStringLiteral("format=duration"),
                                 QStringLiteral("-of"), QStringLiteral("default=noprint_wrappers=1:nokey=1"), mediaPath},
                                30000);
    bool ok = false;
    const double seconds = QString::fromUtf8(run.output).trimmed().toDouble(&ok);
    if (!run.ok || !ok || !std::isfinite(seconds) || seconds < 0)
        return std::nullopt;
    return std::llround(seconds);
}

QString makeThumbnail(const QString &sourcePath, const QString &jpegPath)
{
    const QString part = jpegPath + QStringLiteral(".part");
    const ToolRun run = runTool(QStringLiteral("ffmpeg"),
                                {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-i"), sourcePath,
                                 QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-vf"), QStringLiteral("scale=320:-2:flags=lanczos"),
                                 QStringLiteral("-q:v"), QStringLiteral("4"), QStringLiteral("-f"), QStringLiteral("image2"), QStringLiteral("-c:v"),
                                 QStringLiteral("mjpeg"), part},
                                60000);
    return finish(run, part, jpegPath);
}

QString makeGif(const QString &videoPath, const QString &gifPath)
{
    // One palette for the whole clip, built from what changes between frames, keeps colours
    // faithful; the rectangle diff mode re-dithers only the moving parts.
    const QString filters = QStringLiteral(
        "fps=12,scale='min(960,iw)':-2:flags=lanczos,split[frames][copy];"
        "[copy]palettegen=max_colors=256:stats_mode=diff[palette];"
        "[frames][palette]paletteuse=dither=sierra2_4a:diff_mode=rectangle");
    const QString part = gifPath + QStringLiteral(".part");
    const ToolRun run = runTool(QStringLiteral("ffmpeg"),
                                {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-i"), videoPath,
                                 QStringLiteral("-filter_complex"), filters, QStringLiteral("-loop"), QStringLiteral("0"), QStringLiteral("-f"), QStringLiteral("gif"), part},
                                170000);
    return finish(run, part, gifPath);
}

} // namespace MediaTools
