// Finishing's media operations on real files through the FFmpeg toolkit, judged by ffprobe:
// joining, the rewrite for streaming, imports, the silence check and posters, with bad input.

#include "CaptureTestSupport.h"
#include "MediaFixtures.h"
#include "MediaProbe.h"

#include "app/CaptureMedia.h"
#include "app/Config.h"
#include "platform/linux/FfmpegMediaToolkit.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using CaptureTest::settle;
using MediaFixtures::Clip;
using MediaFixtures::Sound;

namespace {

class CaptureMediaTest : public ::testing::Test {
protected:
    QString clip(const QString &name, const Clip &spec)
    {
        const QString path = dir.filePath(name);
        const QString error = MediaFixtures::makeClip(path, spec);
        EXPECT_EQ(error, QString()) << name.toStdString();
        return path;
    }
    QString file(const QString &name, const QByteArray &contents)
    {
        const QString path = dir.filePath(name);
        TestSupport::writeFile(path, contents);
        return path;
    }
    // What a recording folder holds besides the named files (temporary leftovers).
    QStringList entries() const { return QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot); }

    TestSupport::PrivateHome home;
    QTemporaryDir dir;
    FfmpegMediaToolkit media;
};

double streamStart(const QString &path, const QString &type)
{
    QProcess process;
    process.start(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                                              type, QStringLiteral("-show_entries"), QStringLiteral("stream=start_time"),
                                              QStringLiteral("-of"), QStringLiteral("csv=p=0"), path});
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed().toDouble();
}

// Bytes of free space between the index and the media data at the top level of an MPEG-4 file.
qint64 freeBytesBeforeMedia(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    qint64 offset = 0;
    qint64 freeBytes = 0;
    while (offset + 8 <= file.size()) {
        file.seek(offset);
        const QByteArray header = file.read(8);
        const qint64 size = (qint64(quint8(header[0])) << 24) | (qint64(quint8(header[1])) << 16)
            | (qint64(quint8(header[2])) << 8) | qint64(quint8(header[3]));
        const QByteArray type = header.mid(4, 4);
        if (type == "mdat" || size < 8)
            break;
        if (type == "free" || type == "skip")
            freeBytes += size;
        offset += size;
    }
    return freeBytes;
}

} // namespace

TEST_F(CaptureMediaTest, ThreeSegmentsJoinByCopyingPacketsWithTheIndexFirst)
{
    const QList<QString> segments = {clip(QStringLiteral("one.mp4"), {2, Sound::tone}),
                                     clip(QStringLiteral("two.mp4"), {1.5, Sound::tone}),
                                     clip(QStringLiteral("three.mp4"), {2, Sound::tone})};
    const QString merged = dir.filePath(QStringLiteral("Screen Recording merged.mp4"));
    ASSERT_EQ(settle(CaptureMedia::mergeSegments(media, segments, merged)).errorText(), QString());

    const MediaProbe::Result probe = MediaProbe::probe(merged);
    ASSERT_TRUE(probe.ok) << probe.errors.toStdString();
    EXPECT_NEAR(probe.durationSeconds, 5.5, 0.1);
    ASSERT_EQ(probe.ofType(QStringLiteral("video")).size(), 1);
    ASSERT_EQ(probe.ofType(QStringLiteral("audio")).size(), 1);
    EXPECT_EQ(probe.ofType(QStringLiteral("video")).first().frames, 165);

    // Copied, not re-encoded: the same packets, byte for byte, in order.
    QStringList expected;
    for (const QString &segment : segments)
        expected += MediaFixtures::packetHashes(segment, QStringLiteral("v"));
    EXPECT_EQ(MediaFixtures::packetHashes(merged, QStringLiteral("v")), expected);

    const QStringList boxes = MediaProbe::topLevelBoxes(merged);
    ASSERT_TRUE(boxes.contains(QStringLiteral("moov")) && boxes.contains(QStringLiteral("mdat"))) << boxes.join(' ').toStdString();
    EXPECT_LT(boxes.indexOf(QStringLiteral("moov")), boxes.indexOf(QStringLiteral("mdat")));
    for (const QString &segment : segments)
        EXPECT_TRUE(QFileInfo::exists(segment)); // deleting them is the caller's business
}

TEST_F(CaptureMediaTest, AudioTracksJoinByPositionAndMissingOnesLeaveGaps)
{
    struct Case {
        const char *what;
        QList<Clip> clips;
        int audioTracks;
        double audioStartsAt; // seconds
    };
    const Case cases[] = {
        {"a segment without sound in the middle", {{2, Sound::tone}, {2, Sound::none}, {2, Sound::tone}}, 1, 0},
        {"sound only from the second segment", {{2, Sound::none}, {2, Sound::tone}}, 1, 2},
        {"two tracks, then one", {{2, Sound::tone, 2}, {2, Sound::tone, 1}}, 2, 0},
        {"no sound anywhere", {{1, Sound::none}, {1, Sound::none}}, 0, 0},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QList<QString> segments;
        for (const Clip &spec : c.clips)
            segments << clip(QStringLiteral("case%1-%2.mp4").arg(n).arg(segments.size()), spec);
        const QString merged = dir.filePath(QStringLiteral("merged%1.mp4").arg(n++));
        ASSERT_EQ(settle(CaptureMedia::mergeSegments(media, segments, merged)).errorText(), QString());
        const MediaProbe::Result probe = MediaProbe::probe(merged);
        ASSERT_TRUE(probe.ok) << probe.errors.toStdString();
        EXPECT_EQ(probe.ofType(QStringLiteral("audio")).size(), c.audioTracks);
        if (c.audioTracks > 0) {
            EXPECT_NEAR(streamStart(merged, QStringLiteral("a:0")), c.audioStartsAt, 0.05);
        }
    }
}

TEST_F(CaptureMediaTest, BadSegmentsFailTheJoinAndLeaveEverythingInPlace)
{
    const QString good = clip(QStringLiteral("good.mp4"), {2, Sound::tone, 1, false});
    const QByteArray goodBytes = TestSupport::readFile(good);
    struct Case {
        const char *what;
        QString bad;
    };
    const Case cases[] = {
        {"empty file", file(QStringLiteral("empty.mp4"), {})},
        {"not media", file(QStringLiteral("notes.mp4"), "these are words, not pictures\n")},
        {"index cut off", file(QStringLiteral("cut.mp4"), goodBytes.left(goodBytes.size() / 3))},
        {"missing", dir.filePath(QStringLiteral("missing.mp4"))},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray before = TestSupport::readFile(c.bad);
        const QString merged = dir.filePath(QStringLiteral("merged.mp4"));
        const auto outcome = settle(CaptureMedia::mergeSegments(media, {good, c.bad}, merged));
        EXPECT_FALSE(outcome.errorText().isEmpty());
        EXPECT_FALSE(QFileInfo::exists(merged));
        EXPECT_EQ(TestSupport::readFile(good), goodBytes);
        EXPECT_EQ(TestSupport::readFile(c.bad), before);
    }
}

TEST_F(CaptureMediaTest, OptimizingRewritesInPlaceOrKeepsTheFileUntouched)
{
    const QString recording = clip(QStringLiteral("Screen Recording.mp4"), {3, Sound::tone});
    const QStringList packets = MediaFixtures::packetHashes(recording, QStringLiteral("v"));
    ASSERT_GT(MediaProbe::topLevelBoxes(recording).indexOf(QStringLiteral("moof")), 0); // fragmented to begin with

    const auto optimized = settle(CaptureMedia::optimizeForStreaming(media, recording));
    EXPECT_EQ(optimized.value, recording);
    const QStringList boxes = MediaProbe::topLevelBoxes(recording);
    EXPECT_LT(boxes.indexOf(QStringLiteral("moov")), boxes.indexOf(QStringLiteral("mdat"))) << boxes.join(' ').toStdString();
    EXPECT_FALSE(boxes.contains(QStringLiteral("moof")));
    EXPECT_EQ(MediaFixtures::packetHashes(recording, QStringLiteral("v")), packets);
    EXPECT_NEAR(MediaProbe::probe(recording).durationSeconds, 3, 0.1);
    EXPECT_EQ(entries(), QStringList{QStringLiteral("Screen Recording.mp4")});

    // Files that cannot be rewritten come back as they were, and nothing is left beside them.
    for (const QByteArray &contents : {QByteArray(), QByteArray("not a video at all")}) {
        const QString odd = file(QStringLiteral("odd.mp4"), contents);
        EXPECT_EQ(settle(CaptureMedia::optimizeForStreaming(media, odd)).value, odd);
        EXPECT_EQ(TestSupport::readFile(odd), contents);
        EXPECT_EQ(entries().size(), 2);
    }
}

TEST_F(CaptureMediaTest, TheIndexGoesFirstInTheRoomKeptForItOrAfterwardsWhenItDoesNotFit)
{
    const QString recording = clip(QStringLiteral("Screen Recording.mp4"), {3, Sound::tone});
    const QStringList video = MediaFixtures::packetHashes(recording, QStringLiteral("v"));
    const QStringList audio = MediaFixtures::packetHashes(recording, QStringLiteral("a"));
    struct Case {
        const char *what;
        qint64 room;
    };
    const Case cases[] = {{"room estimated from the recording's own index", -1}, {"far too little room", 64}};
    QList<qint64> freeBytes;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QString copy = dir.filePath(QStringLiteral("copy%1.mp4").arg(freeBytes.size()));
        EXPECT_NO_THROW(FfmpegMediaToolkit::writePassthrough(recording, copy, c.room));
        const MediaProbe::Result probe = MediaProbe::probe(copy);
        ASSERT_TRUE(probe.ok) << probe.errors.toStdString();
        EXPECT_NEAR(probe.durationSeconds, 3, 0.1);
        const QStringList boxes = MediaProbe::topLevelBoxes(copy);
        ASSERT_TRUE(boxes.contains(QStringLiteral("moov"))) << boxes.join(' ').toStdString();
        EXPECT_LT(boxes.indexOf(QStringLiteral("moov")), boxes.indexOf(QStringLiteral("mdat"))) << boxes.join(' ').toStdString();
        EXPECT_EQ(MediaFixtures::packetHashes(copy, QStringLiteral("v")), video);
        EXPECT_EQ(MediaFixtures::packetHashes(copy, QStringLiteral("a")), audio);
        freeBytes << freeBytesBeforeMedia(copy);
    }
    // Written in one pass, the unused part of the room stays behind the index; moved there
    // afterwards, the index takes no more than it needs.
    EXPECT_GT(freeBytes[0], freeBytes[1]);
    EXPECT_EQ(entries().size(), 3);
}

TEST_F(CaptureMediaTest, ImportsAreRewrittenAsMp4OrRefused)
{
    const QString mkv = dir.filePath(QStringLiteral("holiday.mkv"));
    ASSERT_EQ(MediaFixtures::makeClip(mkv, {2, Sound::tone, 1, false}), QString());
    const auto converted = settle(CaptureMedia::remuxToMP4(media, mkv));
    ASSERT_EQ(converted.errorText(), QString());
    EXPECT_EQ(QFileInfo(*converted.value).fileName(), QStringLiteral("holiday.mp4"));
    EXPECT_TRUE(converted.value->startsWith(QDir::tempPath()));
    const MediaProbe::Result probe = MediaProbe::probe(*converted.value);
    EXPECT_TRUE(probe.ok) << probe.errors.toStdString();
    EXPECT_EQ(MediaFixtures::packetHashes(*converted.value, QStringLiteral("v")), MediaFixtures::packetHashes(mkv, QStringLiteral("v")));
    QDir(QFileInfo(*converted.value).absolutePath()).removeRecursively();

    const QString gif = dir.filePath(QStringLiteral("loop.gif"));
    ASSERT_EQ(MediaFixtures::ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                     QStringLiteral("testsrc2=size=64x48:rate=10"), QStringLiteral("-t"), QStringLiteral("1"), gif}),
              QString());
    const QString refusal = QStringLiteral("This video's format can't be shared directly. Export it as an MP4 and try again.");
    for (const QString &path : {gif, file(QStringLiteral("fake.mov"), "nope"), dir.filePath(QStringLiteral("gone.mov"))}) {
        const auto outcome = settle(CaptureMedia::remuxToMP4(media, path));
        EXPECT_TRUE(outcome.errorAs<RemuxError>()) << path.toStdString();
        EXPECT_EQ(outcome.errorText(), refusal);
    }
}

TEST_F(CaptureMediaTest, SilenceIsJudgedFromTheAverageAudioRate)
{
    struct Case {
        const char *what;
        Clip clip;
        bool silent;
    };
    const Case cases[] = {
        {"a tone", {6, Sound::tone}, false},
        {"digital silence", {6, Sound::silence}, true},
        {"silence, but only 4 seconds", {4, Sound::silence}, false},
        {"no audio track at all", {6, Sound::none}, true},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (const bool fragmented : {true, false}) {
            Clip spec = c.clip;
            spec.fragmented = fragmented;
            const QString path = clip(QStringLiteral("sound%1.mp4").arg(n++), spec);
            EXPECT_EQ(settle(CaptureMedia::audioLooksSilent(media, path)).value, c.silent) << "fragmented " << fragmented;
        }
    }
    EXPECT_EQ(settle(CaptureMedia::audioLooksSilent(media, file(QStringLiteral("junk.mp4"), "junk"))).value, false);
}

TEST_F(CaptureMediaTest, PosterIsTheFirstFrameTurnedUpright)
{
    const QString video = clip(QStringLiteral("Screen Recording 2026-01-02 at 3.04.05 PM.mp4"), {1, Sound::none});
    const QString poster = CaptureMedia::posterURL(video);
    EXPECT_EQ(poster, Config::postersFolder() + QStringLiteral("/Screen Recording 2026-01-02 at 3.04.05 PM.png"));
    const auto preview = settle(CaptureMedia::previewImage(media, video, CaptureKind::video));
    EXPECT_EQ(preview.value, std::optional<QString>(poster));
    const QImage picture(poster);
    EXPECT_EQ(picture.size(), QSize(320, 240));
    EXPECT_GT(picture.pixelColor(160, 120).value(), 0);

    // A phone video stored sideways comes out upright, as ffmpeg itself turns it.
    const QString upright = clip(QStringLiteral("upright.mp4"), {1, Sound::none, 1, false});
    const QString sideways = dir.filePath(QStringLiteral("phone.mp4"));
    ASSERT_EQ(MediaFixtures::ffmpeg({QStringLiteral("-i"), upright, QStringLiteral("-c"), QStringLiteral("copy"),
                                     QStringLiteral("-metadata:s:v"), QStringLiteral("rotate=90"), sideways}),
              QString());
    const QString reference = dir.filePath(QStringLiteral("reference.png"));
    ASSERT_EQ(MediaFixtures::ffmpeg({QStringLiteral("-i"), sideways, QStringLiteral("-frames:v"), QStringLiteral("1"), reference}), QString());
    ASSERT_EQ(settle(CaptureMedia::generatePoster(media, sideways)).errorText(), QString());
    const QImage turned(CaptureMedia::posterURL(sideways));
    const QImage expected(reference);
    ASSERT_EQ(turned.size(), QSize(240, 320));
    ASSERT_EQ(expected.size(), turned.size());
    for (const QPoint at : {QPoint(30, 30), QPoint(210, 30), QPoint(30, 290), QPoint(210, 290), QPoint(120, 160)}) {
        const QColor a = turned.pixelColor(at);
        const QColor b = expected.pixelColor(at);
        EXPECT_LT(std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()), 60)
            << at.x() << "," << at.y();
    }

    // A screenshot is its own preview; a file without a picture has none and only logs.
    const QString shot = file(QStringLiteral("shot.png"), "png bytes");
    EXPECT_EQ(settle(CaptureMedia::previewImage(media, shot, CaptureKind::screenshot)).value, std::optional<QString>(shot));
    const QString audioOnly = dir.filePath(QStringLiteral("voice.mp4"));
    ASSERT_EQ(MediaFixtures::ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                     QStringLiteral("sine=frequency=300"), QStringLiteral("-t"), QStringLiteral("1"), audioOnly}),
              QString());
    const auto none = settle(CaptureMedia::previewImage(media, audioOnly, CaptureKind::video));
    EXPECT_EQ(none.errorText(), QString());
    ASSERT_TRUE(none.value.has_value());
    EXPECT_EQ(*none.value, std::nullopt);
    EXPECT_TRUE(home.readLog().contains(QStringLiteral("poster generation failed: "))) << home.readLog().toStdString();
}
