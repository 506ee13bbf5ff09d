#include "feedback/murmex_feedback_sender.h"
#include "support/store_fixture.h"
#include "views/feedback_view.h"

#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>

#include <QCoro/QCoroTimer>

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::fixtures;
using namespace sonorel::testing;

namespace {

struct ScriptedSender final : FeedbackSending {
    std::vector<QString> sent;
    std::exception_ptr failure;
    bool configured = true;
    bool hold = false;  // for up to two seconds, or until stopped
    int stopped = 0;
    QCoro::Task<void> send(QString message, std::optional<QString>, FeedbackCategory, std::stop_token stop) override
    {
        if (failure)
            std::rethrow_exception(failure);
        for (int waited = 0; hold && waited < 200; ++waited) {
            if (stop.stop_requested()) {
                ++stopped;
                throw std::runtime_error("stopped");
            }
            co_await QCoro::sleepFor(std::chrono::milliseconds(10));
        }
        sent.push_back(message);
    }
    bool isConfigured() const override { return configured; }
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

TEST_F(feedbackWindow, a_failed_send_keeps_the_text_and_without_a_service_copying_comes_first)
{
    sender->failure = std::make_exception_ptr(std::runtime_error("offline"));
    DoctorFeedbackView view(*feedback, {});
    view.show();  // appearing prepares the form
    runTask(store->refresh());
    ASSERT_TRUE(feedback->composer().context().has_value());
    EXPECT_EQ(find<QLabel>(view, "feedback-heading")->text(), "Help Doctor get better.");
    EXPECT_FALSE(shows(view, "feedback-error"));
    type(view, "feedback-message", "No sound after sleep.");
    find<QPushButton>(view, "feedback-send")->click();
    EXPECT_TRUE(shows(view, "feedback-error"));
    EXPECT_EQ(find<QPlainTextEdit>(view, "feedback-message")->toPlainText(), "No sound after sleep.");
    find<QPushButton>(view, "feedback-copy")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "No sound after sleep.");
    screenshot(view, "feedback-error");

    // No service in this build: said before anything is typed, and nothing offers to send.
    sender->configured = false;
    SupportFeedback unsent(*store, sender, QStringLiteral("help@example.org"));
    DoctorFeedbackView form(unsent, {});
    form.show();
    EXPECT_TRUE(find<QLabel>(form, "feedback-no-service")->text().endsWith("email it to help@example.org."));
    EXPECT_FALSE(shows(form, "feedback-send"));
    auto* copy = find<QPushButton>(form, "feedback-copy-message");
    EXPECT_FALSE(copy->isEnabled());
    type(form, "feedback-message", "Crackles.");
    copy->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "Crackles.");
    EXPECT_EQ(copy->text(), "Copied");
    EXPECT_TRUE(shows(form, "feedback-mail-support"));
    screenshot(form, "feedback-no-service");
}

TEST_F(feedbackWindow, close_and_escape_stop_a_send_in_flight_and_keep_the_message)
{
    sender->hold = true;
    DoctorFeedbackView view(*feedback, [this] { ++dismissed; });
    view.show();
    type(view, "feedback-message", "Hums on HDMI.");
    auto* close = find<QPushButton>(view, "feedback-close");
    QShortcut* escape = nullptr;
    for (auto* shortcut : view.findChildren<QShortcut*>())
        if (shortcut->key() == QKeySequence(Qt::Key_Escape))
            escape = shortcut;
    ASSERT_TRUE(escape);
    // Close, Escape, and last the window's own close button, which hides the view.
    for (const auto& dismiss : {std::function<void()>([close] { close->click(); }),
                                std::function<void()>([escape] { Q_EMIT escape->activated(); }),
                                std::function<void()>([&view] { view.hide(); })}) {
        const int stoppedBefore = sender->stopped;
        find<QPushButton>(view, "feedback-send")->click();
        ASSERT_EQ(feedback->composer().phase(), FeedbackComposer::Phase::sending);
        EXPECT_TRUE(close->isEnabled());
        dismiss();
        EXPECT_EQ(feedback->composer().phase(), FeedbackComposer::Phase::editing);
        QElapsedTimer clock;
        clock.start();
        while (sender->stopped == stoppedBefore && clock.elapsed() < 3000)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
        EXPECT_EQ(sender->stopped, stoppedBefore + 1);
    }
    EXPECT_EQ(dismissed, 2);
    EXPECT_TRUE(sender->sent.empty());
    EXPECT_EQ(find<QPlainTextEdit>(view, "feedback-message")->toPlainText(), "Hums on HDMI.");
    EXPECT_FALSE(shows(view, "feedback-error"));
    EXPECT_TRUE(find<QPushButton>(view, "feedback-send")->isEnabled());
}

}  // namespace
