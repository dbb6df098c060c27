// An awaited alert resumes its coroutine when the user closes it, with the button's result.

#include "TestSupport.h"
#include "ui/Alerts.h"

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <gtest/gtest.h>

TEST(Alerts, AwaitingAnAlertResumesWhenItClosesAndThenDeletesIt)
{
    auto *box = Alerts::make(QMessageBox::Warning, QStringLiteral("Message"), QStringLiteral("Details"));
    QPushButton *ok = box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    QPointer<QMessageBox> guard(box);
    std::optional<int> result;
    auto waiting = [](QDialog *window, std::optional<int> *result) -> QCoro::Task<> {
        *result = co_await Alerts::finished(window);
    }(box, &result);
    Alerts::present(box);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return box->isVisible(); }));
    ok->click();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(TestSupport::waitUntil([&] { return guard.isNull(); }));
}
