#pragma once
// The system clipboard.

#include <QImage>
#include <QString>

class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual void setText(const QString &text) = 0;
    virtual void setImage(const QImage &image) = 0;
    virtual QString text() const = 0;
};
