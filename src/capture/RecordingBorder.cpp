#include "capture/RecordingBorder.h"

#include "capture/OverlayWindows.h"

#include <QPainter>
#include <QPainterPath>
#include <QWidget>

namespace {

class BorderView final : public QWidget {
public:
    BorderView() { OverlayWindows::makeClickThrough(*this); }

protected:
    void resizeEvent(QResizeEvent *) override
    {
        // Without a compositor transparent pixels would show black over the recorded area:
        // the window exists only where the ring is.
        const int ring = RecordingBorder::outsetPoints;
        setMask(QRegion(rect()).subtracted(QRegion(rect().adjusted(ring, ring, -ring, -ring))));
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal inset = RecordingBorder::ringPoints;
        QPainterPath ring;
        ring.addRect(rect());
        ring.addRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset));
        ring.setFillRule(Qt::OddEvenFill);
        painter.fillPath(ring, QColor(7, 112, 252));
    }
};

} // namespace

RecordingBorder::RecordingBorder(Screens &screens)
    : m_screens(screens)
{
}

RecordingBorder::~RecordingBorder() = default;

QRect RecordingBorder::windowGeometry(const ScreenInfo &screen, const QRectF &sourceRect)
{
    const QRectF global = OverlayWindows::toGlobal(screen, sourceRect);
    return global.adjusted(-outsetPoints, -outsetPoints, outsetPoints, outsetPoints).toAlignedRect();
}

void RecordingBorder::show(quint32 displayID, const QRectF &sourceRect)
{
    hide();
    const auto screen = OverlayWindows::findScreen(m_screens, displayID);
    if (!screen)
        return;
    m_window = std::make_unique<BorderView>();
    m_window->setGeometry(windowGeometry(*screen, sourceRect));
    m_window->show();
}

void RecordingBorder::hide()
{
    m_window.reset();
}
