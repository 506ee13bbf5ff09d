#include "feedback/murmex_feedback_sender.h"
#include "support/store_fixture.h"
#include "views/feedback_view.h"

#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::fixtures;
using namespace sonorel::testing;

namespace {

struct ScriptedSender final : FeedbackSending {
    std::vector<QString> sent;
    std::exception_ptr failure;
    QCoro::Task<void> send(QString message, std::optional<QString>, FeedbackCategory) override
    {
        if (failure)
            std::rethrow_exception(failure);
        sent.push_back(message);
        co_return;
    }
};

class feedbackWindow : public StoreFixture {
protected:
    std::shared_ptr<ScriptedSender> sender = std::make_shared<ScriptedSender>();
    std::unique_ptr<SupportFeedback> feedback;
    int dismissed = 0;

    void SetUp() override
    {
        start(snapshot({output(1, "Speakers")}, 1));
        feedback = std::make_unique<SupportFeedback>(*store, sender, QStringLiteral("help@example.org"));
    }
    void type(DoctorFeedbackView& view, const char* name, const QString& text)
    {
        if (auto* editor = view.findChild<QPlainTextEdit*>(QLatin1String(name)))
            editor->setPlainText(text);
        else if (auto* field = view.findChild<QLineEdit*>(QLatin1String(name))) {
            field->setText(text);
            Q_EMIT field->textEdited(text);  // as typing does
        }
    }
};

TEST_F(feedbackWindow, send_waits_for_a_message_and_a_valid_address)
{
    runTask(feedback->prepareFeedback(true));
    DoctorFeedbackView view(*feedback, [this] { ++dismissed; });
    view.resize(560, 760);
    EXPECT_EQ(find<QLabel>(view, "feedback-heading")->text(), "Still not sounding right?");
    auto* send = find<QPushButton>(view, "feedback-send");
    EXPECT_FALSE(send->isEnabled());
    type(view, "feedback-message", " \n ");
    EXPECT_FALSE(send->isEnabled());
    type(view, "feedback-message", "Crackles on the left.");
    EXPECT_TRUE(send->isEnabled());
    type(view, "feedback-email", "me@example");
    EXPECT_TRUE(shows(view, "feedback-email-hint"));
    EXPECT_FALSE(send->isEnabled());
    type(view, "feedback-email", "");
    EXPECT_TRUE(send->isEnabled());

    type(view, "feedback-message", QString(7600, QLatin1Char('a')));
    EXPECT_TRUE(shows(view, "feedback-counter"));
    EXPECT_EQ(find<QLabel>(view, "feedback-counter")->text(), "7600 / 8000 characters");
    type(view, "feedback-message", QString(8001, QLatin1Char('a')));
    EXPECT_FALSE(send->isEnabled());
    type(view, "feedback-message", "Crackles on the left.");
    find<QCheckBox>(view, "feedback-include-summary")->setChecked(true);
    screenshot(view, "feedback-form");

    send->click();
    ASSERT_EQ(sender->sent.size(), 1u);
    EXPECT_TRUE(sender->sent[0].startsWith("Crackles on the left.\n\n— Audio summary (included by choice) —\n"));
    EXPECT_TRUE(shows(view, "feedback-confirmation"));
    EXPECT_FALSE(shows(view, "feedback-send"));
    find<QPushButton>(view, "feedback-done")->click();
    EXPECT_EQ(dismissed, 1);
}

TEST_F(feedbackWindow, a_failed_send_keeps_the_text_and_offers_a_copy)
{
    sender->failure = std::make_exception_ptr(FeedbackDeliveryError());
    DoctorFeedbackView view(*feedback, {});
    view.resize(560, 760);
    view.show();  // appearing prepares the form
    runTask(store->refresh());
    ASSERT_TRUE(feedback->composer().context().has_value());
    EXPECT_EQ(find<QLabel>(view, "feedback-heading")->text(), "Help Doctor get better.");
    EXPECT_FALSE(shows(view, "feedback-error"));
    type(view, "feedback-message", "No sound after sleep.");
    find<QPushButton>(view, "feedback-send")->click();
    EXPECT_TRUE(shows(view, "feedback-error"));
    EXPECT_TRUE(find<QLabel>(view, "feedback-email-support")->text().contains("mailto:help@example.org"));
    EXPECT_EQ(find<QPlainTextEdit>(view, "feedback-message")->toPlainText(), "No sound after sleep.");
    find<QPushButton>(view, "feedback-copy")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "No sound after sleep.");
    screenshot(view, "feedback-error");
}

}  // namespace
