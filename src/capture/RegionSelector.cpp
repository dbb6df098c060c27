#include "capture/RegionSelector.h"

#include "hotkeys/EscapeCatcher.h"

#include <QCursor>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <qcorosignal.h>
#include <cmath>
#include <functional>

namespace {

const QColor selectionBlue(7, 112, 252);

// A full-screen overlay over one screen; the view's coordinates are the display's points.
class SelectionView final : public QWidget {
public:
    SelectionView(const ScreenInfo &screen, std::function<void(std::optional<RegionSelection>)> onDone)
        : QWidget(nullptr,
                  Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint)
        , m_screen(screen)
        , m_onDone(std::move(onDone))
    {
        setAttribute(Qt::WA_DeleteOnClose);
        setMouseTracking(true);
        setCursor(Qt::CrossCursor);
        setFocusPolicy(Qt::StrongFocus);
        setGeometry(screen.frame);
        // Without a compositor a translucent window shows black, so the dimmed picture is a
        // still of the screen when Qt can take one; otherwise the desktop shows through.
        if (QScreen *qscreen = QGuiApplication::screenAt(screen.frame.center());
            qscreen && qscreen->geometry() == screen.frame) {
            m_backdrop = qscreen->grabWindow(0);
        }
        if (m_backdrop.isNull())
            setAttribute(Qt::WA_TranslucentBackground);
        const QPoint pointer = QCursor::pos();
        if (screen.frame.contains(pointer))
            m_mouse = QPointF(pointer - screen.frame.topLeft());
    }

protected:
    void enterEvent(QEnterEvent *event) override
    {
        m_mouse = event->position();
        update();
    }

    void leaveEvent(QEvent *) override
    {
        m_mouse.reset();
        update();
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton)
            return;
        activateWindow();
        m_start = clamped(event->position());
        m_current = QRectF();
        m_mouse = m_start;
        update();
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        m_mouse = event->position();
        if (m_start) {
            // The recorder can only take what lies on this display.
            const QPointF pointer = clamped(event->position());
            m_mouse = pointer;
            m_current = QRectF(QPointF(std::min(m_start->x(), pointer.x()), std::min(m_start->y(), pointer.y())),
                               QSizeF(std::abs(pointer.x() - m_start->x()), std::abs(pointer.y() - m_start->y())));
        }
        update();
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton || !m_start)
            return;
        m_start.reset();
        const bool bigEnough = m_current.width() >= RegionSelector::minimumSidePoints
            && m_current.height() >= RegionSelector::minimumSidePoints;
        const auto onDone = m_onDone;
        if (bigEnough)
            onDone(RegionSelection{m_screen.displayID, m_current});
        else
            onDone(std::nullopt);
    }

    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Escape) {
            const auto onDone = m_onDone;
            onDone(std::nullopt);
            return;
        }
        QWidget::keyPressEvent(event);
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QRectF bounds = rect();
        const QColor dim(0, 0, 0, 64);
        const bool hasSelection = m_current.width() > 0 && m_current.height() > 0;
        if (!m_backdrop.isNull()) {
            painter.drawPixmap(bounds, m_backdrop, QRectF(m_backdrop.rect()));
            QPainterPath dimmed;
            dimmed.addRect(bounds);
            if (hasSelection)
                dimmed.addRect(m_current);
            dimmed.setFillRule(Qt::OddEvenFill);
            painter.fillPath(dimmed, dim);
        } else {
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(bounds, dim);
            if (hasSelection)
                painter.fillRect(m_current, Qt::transparent);
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
        if (m_mouse) {
            const QColor line(255, 255, 255, 179);
            painter.fillRect(QRectF(0, m_mouse->y() - 0.5, bounds.width(), 1), line);
            painter.fillRect(QRectF(m_mouse->x() - 0.5, 0, 1, bounds.height()), line);
        }
        if (!hasSelection)
            return;
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(selectionBlue, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(m_current);

        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(12);
        font.setWeight(QFont::Medium);
        painter.setFont(font);
        const QString label = RegionSelector::sizeLabelText(m_current.size(), m_screen.scale);
        const QFontMetricsF metrics(font);
        const QSizeF textSize(metrics.horizontalAdvance(label), metrics.height());
        const QRectF textRect = RegionSelector::sizeLabelRect(m_current, textSize, bounds.height());
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 179));
        painter.drawRoundedRect(textRect.adjusted(-6, -3, 6, 3), 4, 4);
        painter.setPen(Qt::white);
        painter.drawText(textRect, Qt::AlignCenter, label);
    }

private:
    QPointF clamped(QPointF point) const
    {
        return QPointF(std::clamp(point.x(), 0.0, qreal(width())), std::clamp(point.y(), 0.0, qreal(height())));
    }

    ScreenInfo m_screen;
    std::function<void(std::optional<RegionSelection>)> m_onDone;
    QPixmap m_backdrop;
    std::optional<QPointF> m_start;
    QRectF m_current;
    std::optional<QPointF> m_mouse;
};

} // namespace

RegionSelector::RegionSelector(Screens &screens, GlobalKeyGrabber &keys, QObject *parent)
    : QObject(parent)
    , m_screens(screens)
    , m_keys(keys)
{
}

RegionSelector::~RegionSelector()
{
    finish(std::nullopt);
}

QCoro::Task<std::optional<RegionSelection>> RegionSelector::selectRegion()
{
    if (isOpen())
        co_return std::nullopt;
    begin();
    if (!isOpen()) {
        finish(std::nullopt);
        co_return std::nullopt;
    }
    const std::optional<RegionSelection> selection = co_await qCoro(this, &RegionSelector::finished);
    co_return selection;
}

QList<QWidget *> RegionSelector::overlays() const
{
    QList<QWidget *> open;
    for (const QPointer<QWidget> &window : m_windows) {
        if (window)
            open.append(window);
    }
    return open;
}

void RegionSelector::begin()
{
    m_escape = std::make_unique<EscapeCatcher>(m_keys, [self = QPointer(this)] {
        if (self)
            self->finish(std::nullopt);
    });
    for (const ScreenInfo &screen : connectedScreens(m_screens.screens())) {
        auto *view = new SelectionView(screen, [self = QPointer(this)](std::optional<RegionSelection> selection) {
            if (self)
                self->finish(selection);
        });
        m_windows.append(view);
        view->show();
        view->raise();
    }
    if (m_windows.isEmpty())
        return;
    QWidget *key = m_windows.first();
    for (const QPointer<QWidget> &window : std::as_const(m_windows)) {
        if (window->geometry().contains(QCursor::pos())) {
            key = window;
            break;
        }
    }
    key->activateWindow();
    key->setFocus();
}

void RegionSelector::finish(std::optional<RegionSelection> selection)
{
    if (!m_escape && m_windows.isEmpty())
        return;
    m_escape.reset();
    const QList<QPointer<QWidget>> windows = std::exchange(m_windows, {});
    for (const QPointer<QWidget> &window : windows) {
        // Closing deletes later: one of them may be handling the event that ended the selection.
        if (window)
            window->close();
    }
    emit finished(selection);
}

QList<ScreenInfo> RegionSelector::connectedScreens(const QList<ScreenInfo> &screens)
{
    QList<ScreenInfo> usable;
    for (const ScreenInfo &screen : screens) {
        const bool hasPixels = std::trunc(screen.frame.width() * screen.scale) > 0
            && std::trunc(screen.frame.height() * screen.scale) > 0;
        if (screen.displayID != 0 && screen.online && hasPixels)
            usable.append(screen);
    }
    return usable.isEmpty() ? screens : usable;
}

QRectF RegionSelector::sizeLabelRect(const QRectF &selection, QSizeF textSize, qreal viewHeight)
{
    const qreal x = selection.right() - textSize.width() - 8;
    qreal y = selection.bottom() + 8;
    if (viewHeight - (y + textSize.height()) < 4)
        y = selection.bottom() - 8 - textSize.height();
    return QRectF(QPointF(x, y), textSize);
}

QString RegionSelector::sizeLabelText(QSizeF points, qreal scale)
{
    return QStringLiteral("%1 × %2")
        .arg(qint64(std::trunc(points.width() * scale)))
        .arg(qint64(std::trunc(points.height() * scale)));
}
