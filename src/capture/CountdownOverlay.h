#pragma once
// The round dark badge that counts whole seconds down before a capture starts, over the
// recorded area or in the corner of a selection. Escape cancels it, also while another program
// has the keyboard. Main thread only.

#include "platform/Screens.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <optional>
#include <qcorotask.h>

class GlobalKeyGrabber;
class QWidget;

class CountdownOverlay final : public QObject {
    Q_OBJECT
public:
    static constexpr int badgePoints = 160;

    CountdownOverlay(Screens &screens, GlobalKeyGrabber &keys, QObject *parent = nullptr);
    ~CountdownOverlay() override;

    // Shows `seconds` (at least 1), n, n−1, … 1, one second each. True when it ran out or no
    // screen has the display id (the capture goes ahead), false when Escape was pressed.
    QCoro::Task<bool> run(quint32 displayID, std::optional<QRectF> sourceRect, int seconds, bool atCorner);

    // The badge's window and digit while a countdown runs.
    QWidget *window() const { return m_window; }
    QString digit() const { return m_digit; }

    // Where the badge's centre goes, in global points: the middle of the rectangle (or of the
    // screen), or 8 points inside its top-right corner (the visible area's without a rectangle).
    static QPointF badgeCentre(const ScreenInfo &screen, const std::optional<QRectF> &sourceRect, bool atCorner);
    static QRect badgeGeometry(const ScreenInfo &screen, const std::optional<QRectF> &sourceRect, bool atCorner);

signals:
    void digitChanged(const QString &digit);

private:
    void setDigit(const QString &digit);

    Screens &m_screens;
    GlobalKeyGrabber &m_keys;
    QPointer<QWidget> m_window;
    QString m_digit;
};
