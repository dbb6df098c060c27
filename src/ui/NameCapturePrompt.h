#pragma once
// Asks for a name for a capture about to be published, in a small floating window with a
// text field, "Save" and "Skip". The rest of the program keeps working while it is open.

#include <QDialog>
#include <QString>
#include <qcorotask.h>
#include <optional>

class QLineEdit;
class NameCapturePromptDialog;

namespace NameCapturePrompt {
// The name typed (possibly empty or unchanged) on "Save"; nothing on "Skip" or close.
QCoro::Task<std::optional<QString>> run(QString title, QString message, QString initial);
// Completes the most recent open prompt with no name (used when finishing gives up).
void cancelCurrent();
bool isOpen();
// The most recent open prompt's window, if any.
NameCapturePromptDialog *current();
} // namespace NameCapturePrompt

// The prompt's window. It answers exactly once, then goes away.
class NameCapturePromptDialog final : public QDialog {
    Q_OBJECT
public:
    NameCapturePromptDialog(const QString &title, const QString &message, const QString &initial);

    QLineEdit *field() const { return m_field; }
    void save();
    void skip();

signals:
    void answered(const std::optional<QString> &name);

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void finish(const std::optional<QString> &name);

    QLineEdit *m_field = nullptr;
    bool m_finished = false;
};
