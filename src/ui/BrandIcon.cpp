#include "ui/BrandIcon.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace {
const QColor kRed(255, 59, 48);
const QColor kOrange(255, 149, 0);

// The design works in an 18 x 18 square with the origin at the bottom-left; this maps it into
// Qt's top-left space.
QPointF designPoint(qreal x, qreal y)
{
    return {x, 18.0 - y};
}

QPolygonF triangle(qreal cx, qreal cy, qreal left, qreal halfHeight, qreal right)
{
    return QPolygonF{designPoint(cx - left, cy + halfHeight), designPoint(cx - left, cy - halfHeight),
                     designPoint(cx + right, cy)};
}

class BrandIconEngine final : public QIconEngine {
public:
    explicit BrandIconEngine(BrandIcon::State state) : m_state(state) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override
    {
        BrandIcon::paint(*painter, rect, m_state, QGuiApplication::palette().color(QPalette::WindowText));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    // `size` is in device pixels already; the pixmap carries the scale so it is drawn sharp.
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        pixmap.setDevicePixelRatio(scale);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), (QSizeF(size) / scale).toSize()), mode, state);
        return pixmap;
    }

    QIconEngine *clone() const override { return new BrandIconEngine(m_state); }

private:
    BrandIcon::State m_state;
};
} // namespace

namespace BrandIcon {

QIcon icon(State state)
{
    static const QIcon idle(new BrandIconEngine(State::idle));
    static const QIcon recording(new BrandIconEngine(State::recording));
    static const QIcon paused(new BrandIconEngine(State::paused));
    switch (state) {
    case State::idle: return idle;
    case State::recording: return recording;
    case State::paused: return paused;
    }
    return idle;
}

void paint(QPainter &painter, const QRectF &target, State state, const QColor &inkColor)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(target.topLeft());
    painter.scale(target.width() / 18.0, target.height() / 18.0);
    const qreal cx = 9, cy = 9;

    switch (state) {
    case State::idle: {
        // An arc of radius 7 from 90 degrees clockwise to -139 degrees, round caps.
        painter.setPen(QPen(inkColor, 2, Qt::SolidLine, Qt::RoundCap));
        painter.setBrush(Qt::NoBrush);
        const QRectF circle(cx - 7, cy - 7, 14, 14);
        painter.drawArc(circle, 90 * 16, -(90 + 139) * 16);
        painter.setPen(Qt::NoPen);
        painter.setBrush(inkColor);
        painter.drawPolygon(triangle(cx, cy, 2.2, 3.2, 3.4));
        break;
    }
    case State::recording:
        painter.setPen(Qt::NoPen);
        painter.setBrush(kRed);
        painter.drawEllipse(QPointF(cx, cy), 8, 8);
        painter.setBrush(Qt::white);
        painter.drawPolygon(triangle(cx, cy, 2.4, 3.4, 3.6));
        break;
    case State::paused:
        painter.setPen(Qt::NoPen);
        painter.setBrush(kOrange);
        painter.drawEllipse(QPointF(cx, cy), 8, 8);
        painter.setBrush(Qt::white);
        // Lower-left corners at (cx - 3.2, cy - 3.4) and (cx + 1, cy - 3.4), 2.2 x 6.8 each.
        for (const qreal left : {cx - 3.2, cx + 1.0})
            painter.drawRect(QRectF(designPoint(left, cy + 3.4), QSizeF(2.2, 6.8)));
        break;
    }
    painter.restore();
}

QImage render(State state, int pixelSize, const QColor &inkColor)
{
    QImage image(pixelSize, pixelSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paint(painter, QRectF(0, 0, pixelSize, pixelSize), state, inkColor);
    return image;
}

} // namespace BrandIcon
