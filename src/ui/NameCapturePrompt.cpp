#include "ui/NameCapturePrompt.h"

#include "support/L10n.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <qcorosignal.h>

namespace {
// The most recent prompt; earlier ones keep answering their own callers.
QPointer<NameCapturePromptDialog> g_current;
} // namespace

NameCapturePromptDialog::NameCapturePromptDialog(const QString &title, const QString &message, const QString &initial)
{
    setWindowTitle(QStringLiteral("Tovrika"));
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto *layout = new QVBoxLayout(this);
    auto *titleLabel = new QLabel(title, this);
    QFont bold = titleLabel->font();
    bold.setBold(true);
    titleLabel->setFont(bold);
    titleLabel->setWordWrap(true);
    layout->addWidget(titleLabel);
    if (!message.isEmpty()) {
        auto *messageLabel = new QLabel(message, this);
        messageLabel->setWordWrap(true);
        layout->addWidget(messageLabel);
    }

    m_field = new QLineEdit(initial, this);
    m_field->setFixedSize(320, 24);
    layout->addWidget(m_field);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *saveButton = buttons->addButton(L10n::tr(QStringLiteral("Save")), QDialogButtonBox::AcceptRole);
    QPushButton *skipButton = buttons->addButton(L10n::tr(QStringLiteral("Skip")), QDialogButtonBox::RejectRole);
    saveButton->setDefault(true);
    connect(saveButton, &QPushButton::clicked, this, &NameCapturePromptDialog::save);
    connect(skipButton, &QPushButton::clicked, this, &NameCapturePromptDialog::skip);
    layout->addWidget(buttons);
}

void NameCapturePromptDialog::save()
{
    finish(m_field->text());
}

void NameCapturePromptDialog::skip()
{
    finish(std::nullopt);
}

void NameCapturePromptDialog::closeEvent(QCloseEvent *event)
{
    finish(std::nullopt);
    event->accept();
}

void NameCapturePromptDialog::reject()
{
    finish(std::nullopt);
}

void NameCapturePromptDialog::finish(const std::optional<QString> &name)
{
    if (m_finished)
        return;
    m_finished = true;
    if (g_current == this)
        g_current = nullptr;
    hide();
    emit answered(name);
    deleteLater();
}

namespace NameCapturePrompt {

QCoro::Task<std::optional<QString>> run(QString title, QString message, QString initial)
{
    auto *dialog = new NameCapturePromptDialog(title, message, initial);
    g_current = dialog;
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    dialog->field()->setFocus();
    dialog->field()->selectAll();
    co_return co_await qCoro(dialog, &NameCapturePromptDialog::answered);
}

void cancelCurrent()
{
    if (g_current)
        g_current->skip();
}

bool isOpen()
{
    return !g_current.isNull();
}

NameCapturePromptDialog *current()
{
    return g_current.data();
}

} // namespace NameCapturePrompt
