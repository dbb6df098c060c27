#pragma once
// What the user sees right after a screenshot: a white flash over the captured area, and a
// toast with a thumbnail and a short text in the bottom-right corner of the screen. One toast at
// a time: a new one replaces the old at once. Main thread only.

#include "platform/Screens.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <chrono>

class QWidget;

class CaptureFeedback final : public QObject {
    Q_OBJECT
public:
    static constexpr int toastHeightPoints = 78;

    explicit CaptureFeedback(Screens &screens, QObject *parent = nullptr);
    ~CaptureFeedback() override;

    // Returns at once; the flash fades by itself.
    void flash(quint32 displayID, const QRectF &sourceRect);
    // `message` is shown as given (already localised). On the primary screen when no screen has
    // the display id; an unreadable picture leaves the thumbnail empty.
    void toast(const QString &message, const QString &imagePath, quint32 displayID);

    QWidget *toastWindow() const { return m_toastWindow; }

    // The toast's frame in global points: 24 points from the right and bottom of the visible area.
    static QRect toastGeometry(const ScreenInfo &screen, int width);
    // The toast's width for a text of this width.
    static int toastWidth(qreal labelWidth);

    // How long a toast stays before it fades; tests shorten it.
    std::chrono::milliseconds toastDuration{2500};

private:
    Screens &m_screens;
    QPointer<QWidget> m_toastWindow;
};
