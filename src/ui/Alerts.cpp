#include "ui/Alerts.h"

#include <QPointer>
#include <qcorosignal.h>

namespace Alerts {

QMessageBox *make(QMessageBox::Icon icon, const QString &message, const QString &informative)
{
    auto *box = new QMessageBox(icon, QStringLiteral("Tovrika"), message, QMessageBox::NoButton);
    box->setInformativeText(informative);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    return box;
}

void present(QDialog *window)
{
    window->open();
    window->raise();
    window->activateWindow();
}

QCoro::Task<int> finished(QDialog *window)
{
    QPointer<QDialog> guard(window);
    const int result = co_await qCoro(window, &QDialog::finished);
    if (guard)
        guard->deleteLater();
    co_return result;
}

} // namespace Alerts
