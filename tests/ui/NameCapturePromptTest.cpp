#include "TestSupport.h"
#include "ui/NameCapturePrompt.h"

#include <QLineEdit>
#include <QPointer>
#include <gtest/gtest.h>

namespace {
// Starts a prompt and hands back its window and a record of every answer it gave.
struct OpenPrompt {
    OpenPrompt()
    {
        running = [](OpenPrompt *self) -> QCoro::Task<> {
            self->result = co_await NameCapturePrompt::run(QStringLiteral("Name this recording"), QString(),
                                                           QStringLiteral("Screen Recording"));
            self->done = true;
        }(this);
        dialog = NameCapturePrompt::current();
        if (dialog)
            QObject::connect(dialog, &NameCapturePromptDialog::answered, [this] { ++answers; });
    }
    QCoro::Task<> running;
    QPointer<NameCapturePromptDialog> dialog;
    std::optional<QString> result;
    bool done = false;
    int answers = 0;
};
} // namespace

TEST(NameCapturePrompt, SaveAnswersTheFieldEvenWhenEmptyAndOnlyOnce)
{
    OpenPrompt prompt;
    ASSERT_TRUE(prompt.dialog);
    EXPECT_TRUE(NameCapturePrompt::isOpen());
    EXPECT_EQ(prompt.dialog->field()->text(), QStringLiteral("Screen Recording"));
    EXPECT_EQ(prompt.dialog->field()->size(), QSize(320, 24));

    prompt.dialog->field()->clear();
    prompt.dialog->save();
    prompt.dialog->save();
    prompt.dialog->close();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return prompt.done; }));
    EXPECT_EQ(prompt.result, QString(""));
    EXPECT_EQ(prompt.answers, 1);
    EXPECT_FALSE(NameCapturePrompt::isOpen());
}

TEST(NameCapturePrompt, SkipAndCloseAnswerNothing)
{
    OpenPrompt skipped;
    ASSERT_TRUE(skipped.dialog);
    skipped.dialog->skip();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return skipped.done; }));
    EXPECT_EQ(skipped.result, std::nullopt);

    OpenPrompt closed;
    ASSERT_TRUE(closed.dialog);
    closed.dialog->close();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return closed.done; }));
    EXPECT_EQ(closed.result, std::nullopt);
}

TEST(NameCapturePrompt, ASecondPromptBecomesCurrentAndTheFirstStillAnswers)
{
    OpenPrompt first;
    OpenPrompt second;
    ASSERT_TRUE(first.dialog && second.dialog);
    ASSERT_NE(first.dialog, second.dialog);

    NameCapturePrompt::cancelCurrent(); // completes the newest one
    ASSERT_TRUE(TestSupport::waitUntil([&] { return second.done; }));
    EXPECT_EQ(second.result, std::nullopt);
    EXPECT_FALSE(first.done);

    first.dialog->field()->setText(QStringLiteral("Quarterly review"));
    first.dialog->save();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return first.done; }));
    EXPECT_EQ(first.result, QStringLiteral("Quarterly review"));
}
