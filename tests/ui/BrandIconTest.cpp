#include "TestSupport.h"
#include "ui/BrandIcon.h"

#include <gtest/gtest.h>

namespace {
QColor at(const QImage &image, qreal x, qreal yFromBottom, int scale)
{
    // Design coordinates have their origin at the bottom-left of the 18 x 18 square.
    return image.pixelColor(int(x * scale), int((18 - yFromBottom) * scale));
}
} // namespace

TEST(BrandIcon, GeometryAtOneAndTwoTimes)
{
    for (const int scale : {1, 2}) {
        const QImage recording = BrandIcon::render(BrandIcon::State::recording, 18 * scale);
        EXPECT_GT(at(recording, 3, 9, scale).red(), 200);     // the red disc
        EXPECT_LT(at(recording, 3, 9, scale).green(), 100);
        EXPECT_EQ(at(recording, 9, 9, scale), QColor(Qt::white)); // the play mark's middle
        EXPECT_EQ(at(recording, 0.2, 0.2, scale).alpha(), 0);  // outside the disc

        const QImage paused = BrandIcon::render(BrandIcon::State::paused, 18 * scale);
        EXPECT_EQ(at(paused, 9 - 2.1, 9, scale), QColor(Qt::white)); // left bar
        EXPECT_EQ(at(paused, 9 + 2.1, 9, scale), QColor(Qt::white)); // right bar
        EXPECT_GT(at(paused, 9, 9, scale).green(), 100);              // orange gap between them

        const QImage idle = BrandIcon::render(BrandIcon::State::idle, 18 * scale);
        EXPECT_GT(at(idle, 9, 9 + 7, scale).alpha(), 200);  // the arc's start at 90 degrees
        EXPECT_GT(at(idle, 9 + 7, 9, scale).alpha(), 200);  // it runs clockwise through 0 degrees
        EXPECT_EQ(at(idle, 9 - 7, 9 + 1, scale).alpha(), 0); // and leaves the upper left open
        EXPECT_GT(at(idle, 9, 9, scale).alpha(), 200);      // the play mark
    }
}

TEST(BrandIcon, IconsServeSharpPixmapsAtTwoTimes)
{
    const QPixmap pixmap = BrandIcon::icon(BrandIcon::State::recording).pixmap(QSize(18, 18), 2.0);
    EXPECT_EQ(pixmap.size(), QSize(36, 36));
    EXPECT_EQ(pixmap.devicePixelRatio(), 2.0);
}
