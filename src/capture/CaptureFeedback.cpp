#include "capture/CaptureFeedback.h"

#include "capture/OverlayWindows.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QTimer>
#include <QWidget>
#include <cmath>

namespace {

constexpr int thumbnailX = 12;
constexpr QSize thumbnailSize(96, 54);
constexpr int labelX = 118;
constexpr int labelPixelSize = 13;

QFont labelFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(labelPixelSize);
    font.setWeight(QFont::DemiBold);
    return font;
}

// Fades a window out and deletes it.
void fadeOut(QWidget *window, int durationMs)
{
    auto *fade = new QPropertyAnimation(window, "windowOpacity", window);
    fade->setDuration(durationMs);
    fade->setEndValue(0.0);
    QObject::connect(fade, &QPropertyAnimation::finished, window, &QWidget::close);
    fade->start();
}

class FlashView final : public QWidget {
public:
    FlashView()
    {
        OverlayWindows::makeClickThrough(*this);
        setAttribute(Qt::WA_TranslucentBackground, false);
        setAttribute(Qt::WA_DeleteOnClose);
        setAutoFillBackground(true);
        setPalette(QPalette(Qt::white));
        setWindowOpacity(0.75);
    }
};

class ToastView final : public QWidget {
public:
    ToastView(const QString &message, const QString &imagePath)
        : m_message(message)
        , m_font(labelFont())
    {
        OverlayWindows::makeClickThrough(*this);
        setAttribute(Qt::WA_DeleteOnClose);
        QImageReader reader(imagePath);
        reader.setAutoTransform(true);
        m_thumbnail = reader.read();
        const QFontMetricsF metrics(m_font);
        m_labelSize = QSizeF(std::ceil(metrics.horizontalAdvance(m_message)), std::ceil(metrics.height()));
        setFixedSize(CaptureFeedback::toastWidth(m_labelSize.width()), CaptureFeedback::toastHeightPoints);
    }

protected:
    void resizeEvent(QResizeEvent *) override
    {
        QPainterPath shape;
        shape.addRoundedRect(rect(), 12, 12);
        setMask(QRegion(shape.toFillPolygon().toPolygon()));
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 217));
        painter.drawRoundedRect(rect(), 12, 12);

        const QRectF box(QPointF(thumbnailX, 12), QSizeF(thumbnailSize));
        if (!m_thumbnail.isNull()) {
            painter.save();
            QPainterPath corners;
            corners.addRoundedRect(box, 4, 4);
            painter.setClipPath(corners);
            QSizeF fitted = QSizeF(m_thumbnail.size()).scaled(box.size(), Qt::KeepAspectRatio);
            QRectF target(QPointF(), fitted);
            target.moveCenter(box.center());
            painter.drawImage(target, m_thumbnail);
            painter.restore();
        }

        painter.setFont(m_font);
        painter.setPen(Qt::white);
        const QRectF label(QPointF(labelX, (height() - m_labelSize.height()) / 2), m_labelSize);
        painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, m_message);
    }

private:
    QString m_message;
    QFont m_font;
    QImage m_thumbnail;
    QSizeF m_labelSize;
};

} // namespace

CaptureFeedback::CaptureFeedback(Screens &screens, QObject *parent)
    : QObject(parent)
    , m_screens(screens)
{
}

CaptureFeedback::~CaptureFeedback()
{
    delete m_toastWindow;
}

void CaptureFeedback::flash(quint32 displayID, const QRectF &sourceRect)
{
    const auto screen = OverlayWindows::findScreen(m_screens, displayID);
    if (!screen)
        return;
    auto *flash = new FlashView;
    flash->setGeometry(OverlayWindows::toGlobal(*screen, sourceRect).toAlignedRect());
    flash->show();
    fadeOut(flash, 400);
}

int CaptureFeedback::toastWidth(qreal labelWidth)
{
    return int(std::ceil(labelWidth)) + labelX + 12 + 2;
}

QRect CaptureFeedback::toastGeometry(const ScreenInfo &screen, int width)
{
    const QRect visible = screen.visibleArea;
    const int right = visible.x() + visible.width();
    const int bottom = visible.y() + visible.height();
    return QRect(right - width - 24, bottom - 24 - toastHeightPoints, width, toastHeightPoints);
}

void CaptureFeedback::toast(const QString &message, const QString &imagePath, quint32 displayID)
{
    // The old toast goes at once, and its timer with it.
    delete m_toastWindow;
    auto screen = OverlayWindows::findScreen(m_screens, displayID);
    if (!screen) {
        const ScreenInfo primary = m_screens.primaryScreen();
        if (primary.frame.isEmpty())
            return;
        screen = primary;
    }
    auto *toast = new ToastView(message, imagePath);
    toast->setGeometry(toastGeometry(*screen, toast->width()));
    toast->show();
    m_toastWindow = toast;
    QTimer::singleShot(toastDuration, toast, [toast] { fadeOut(toast, 300); });
}
