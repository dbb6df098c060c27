#pragma once
// Alerts and prompts of the program: titled "Tovrika", above other windows.

#include <QMessageBox>
#include <qcorotask.h>

namespace Alerts {
// A message box with no buttons yet; add them, then present() it and await finished().
QMessageBox *make(QMessageBox::Icon icon, const QString &message, const QString &informative);
// Opens the window (not modal to the event loop) and brings it to the front.
void present(QDialog *window);
// Waits until the window is closed, answers its result and deletes it afterwards. (A window
// that deletes itself on close would be gone before a coroutine awaiting its signal resumes,
// and the coroutine would never resume.)
QCoro::Task<int> finished(QDialog *window);
} // namespace Alerts
