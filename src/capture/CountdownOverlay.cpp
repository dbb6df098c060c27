#include "capture/CountdownOverlay.h"

#include "capture/OverlayWindows.h"
#include "hotkeys/EscapeCatcher.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QWidget>
#include <qcorotimer.h>
#include <chrono>
#include <memory>

namespace {

using namespace std::chrono_literals;

constexpr auto tick = 200ms;
constexpr int ticksPerSecond = 5;
constexpr qreal cornerInsetPoints = 88; // half the badge plus 8 points

class BadgeView final : public QWidget {
public:
    BadgeView()
    {
        OverlayWindows::makeClickThrough(*this);
        setFixedSize(CountdownOverlay::badgePoints, CountdownOverlay::badgePoints);
        // The window is only the circle, also without a compositor.
        setMask(QRegion(rect(), QRegion::Ellipse));
    }

    void setDigit(const QString &digit)
    {
        m_digit = digit;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 191));
        painter.drawEllipse(rect());

        QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        font.setPixelSize(96);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        // Centred on the ink, not on the line box, so every digit sits in the middle.
        const QRectF ink = QFontMetricsF(font).tightBoundingRect(m_digit);
        painter.drawText(QPointF((width() - ink.width()) / 2 - ink.x(), (height() - ink.height()) / 2 - ink.y()), m_digit);
    }

private:
    QString m_digit;
};

} // namespace

CountdownOverlay::CountdownOverlay(Screens &screens, GlobalKeyGrabber &keys, QObject *parent)
    : QObject(parent)
    , m_screens(screens)
    , m_keys(keys)
{
}

// A running countdown owns its badge and ends on its next tick.
CountdownOverlay::~CountdownOverlay() = default;

QPointF CountdownOverlay::badgeCentre(const ScreenInfo &screen, const std::optional<QRectF> &sourceRect, bool atCorner)
{
    if (!sourceRect) {
        if (!atCorner)
            return QRectF(screen.frame).center();
        const QRectF visible(screen.visibleArea);
        return QPointF(visible.right() - cornerInsetPoints, visible.top() + cornerInsetPoints);
    }
    const QRectF global = OverlayWindows::toGlobal(screen, *sourceRect);
    if (!atCorner)
        return global.center();
    return QPointF(global.right() - cornerInsetPoints, global.top() + cornerInsetPoints);
}

QRect CountdownOverlay::badgeGeometry(const ScreenInfo &screen, const std::optional<QRectF> &sourceRect, bool atCorner)
{
    const QPointF centre = badgeCentre(screen, sourceRect, atCorner);
    const qreal half = badgePoints / 2.0;
    return QRectF(centre - QPointF(half, half), QSizeF(badgePoints, badgePoints)).toAlignedRect();
}

void CountdownOverlay::setDigit(const QString &digit)
{
    m_digit = digit;
    if (auto *badge = static_cast<BadgeView *>(m_window.data()))
        badge->setDigit(digit);
    emit digitChanged(digit);
}

QCoro::Task<bool> CountdownOverlay::run(quint32 displayID, std::optional<QRectF> sourceRect, int seconds, bool atCorner)
{
    const auto screen = OverlayWindows::findScreen(m_screens, displayID);
    if (!screen)
        co_return true;

    auto badge = std::make_unique<BadgeView>();
    badge->setGeometry(badgeGeometry(*screen, sourceRect, atCorner));
    badge->show();
    m_window = badge.get();

    // This run's own flag: a later run must not see an Escape meant for this one.
    const auto cancelled = std::make_shared<bool>(false);
    EscapeCatcher escape(m_keys, [cancelled] { *cancelled = true; });
    const QPointer<CountdownOverlay> self(this);

    bool ranOut = true;
    const int count = seconds < 2 ? 1 : seconds;
    for (int k = count; k >= 1 && ranOut; --k) {
        if (*cancelled) {
            ranOut = false;
            break;
        }
        setDigit(QString::number(k));
        for (int i = 0; i < ticksPerSecond; ++i) {
            co_await QCoro::sleepFor(tick);
            if (!self || *cancelled) {
                ranOut = false;
                break;
            }
        }
    }

    escape.disarm();
    if (self) {
        m_digit.clear();
        if (m_window == badge.get())
            m_window = nullptr;
    }
    co_return ranOut;
}
