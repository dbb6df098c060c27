#include "platform/linux/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

void QtClipboard::setText(const QString &text)
{
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

void QtClipboard::setImage(const QImage &image)
{
    QGuiApplication::clipboard()->setImage(image, QClipboard::Clipboard);
}

QString QtClipboard::text() const
{
    return QGuiApplication::clipboard()->text(QClipboard::Clipboard);
}
