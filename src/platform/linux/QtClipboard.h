#pragma once
// The X clipboard through Qt.

#include "platform/Clipboard.h"

class QtClipboard final : public Clipboard {
public:
    void setText(const QString &text) override;
    void setImage(const QImage &image) override;
    QString text() const override;
};
