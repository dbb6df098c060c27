#pragma once
// Lets the user drag one rectangle on any screen: every connected screen gets a dimmed
// overlay with a crosshair, the dragged area shows undimmed with its size in pixels. Escape
// (also while another program has the keyboard), a plain click or a rectangle under 8 points
// either way cancels. Main thread only.

#include "capture/RegionSelection.h"
#include "platform/Screens.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <memory>
#include <optional>
#include <qcorotask.h>

class EscapeCatcher;
class GlobalKeyGrabber;
class QWidget;

class RegionSelector final : public QObject {
    Q_OBJECT
public:
    static constexpr qreal minimumSidePoints = 8;

    RegionSelector(Screens &screens, GlobalKeyGrabber &keys, QObject *parent = nullptr);
    ~RegionSelector() override;

    // The chosen rectangle, or nothing when the user cancelled. While a selection is open a
    // second call answers nothing at once and leaves the open one alone.
    QCoro::Task<std::optional<RegionSelection>> selectRegion();
    bool isOpen() const { return !m_windows.isEmpty(); }
    // Ends an open selection with no result.
    void cancel() { finish(std::nullopt); }

    // The open overlays, one per covered screen.
    QList<QWidget *> overlays() const;

    // The screens to cover: those with an id, online and with a size; all of them when none
    // qualifies.
    static QList<ScreenInfo> connectedScreens(const QList<ScreenInfo> &screens);
    // Where the size label goes in an overlay of `viewHeight`: 8 points left of the rectangle's
    // right edge, 8 points below it, or inside it when that would come within 4 points of the bottom.
    static QRectF sizeLabelRect(const QRectF &selection, QSizeF textSize, qreal viewHeight);
    // "W × H" in the screen's pixels, truncated.
    static QString sizeLabelText(QSizeF points, qreal scale);

signals:
    void finished(std::optional<RegionSelection> selection);

private:
    void begin();
    void finish(std::optional<RegionSelection> selection);

    Screens &m_screens;
    GlobalKeyGrabber &m_keys;
    QList<QPointer<QWidget>> m_windows;
    std::unique_ptr<EscapeCatcher> m_escape;
};
