#include "audio/run_task.h"
#include "diagnostics/diagnostics.h"
#include "feedback/murmex_feedback_sender.h"
#include "store/doctor_store.h"
#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::fixtures;

namespace {

// Records what would be sent; fails when told.
struct RecordingSender final : FeedbackSending {
    std::vector<QString> sent;
    std::optional<QString> email;
    std::exception_ptr failure;
    QCoro::Task<void> send(QString message, std::optional<QString> to, FeedbackCategory, std::stop_token) override
    {
        if (failure)
            std::rethrow_exception(failure);
        sent.push_back(message);
        email = to;
        co_return;
    }
};

class feedback_composer : public ::testing::Test {
protected:
    std::shared_ptr<RecordingSender> sender = std::make_shared<RecordingSender>();
    FeedbackComposer composer{sender, QStringLiteral("help@example.org")};
};

TEST_F(feedback_composer, sends_only_a_real_message_of_at_most_8000_characters_with_a_plausible_address)
{
    composer.setMessage(QStringLiteral(" \n\t "));
    EXPECT_FALSE(composer.canSend());
    // One user-perceived character made of two code points, 8000 times.
    const QString accented = QStringLiteral("e\u0301");
    composer.setMessage(accented.repeated(8000));
    EXPECT_EQ(composer.messageLength(), 8000);
    EXPECT_TRUE(composer.canSend());
    composer.setMessage(accented.repeated(8000) + QStringLiteral("x"));
    EXPECT_FALSE(composer.canSend());

    composer.setMessage(QStringLiteral("No sound"));
    for (const char* valid : {"", "  ", "name@example.org", " name@mail.example.org\n"}) {
        composer.setEmail(QString::fromUtf8(valid));
        EXPECT_TRUE(composer.isEmailValid()) << valid;
    }
    for (const char* invalid : {"name@example", "na me@example.org", "@example.org", "name@@example.org"}) {
        composer.setEmail(QString::fromUtf8(invalid));
        EXPECT_FALSE(composer.isEmailValid()) << invalid;
        EXPECT_FALSE(composer.canSend());
    }
    composer.setEmail(QStringLiteral("a@b.") + QString(251, QLatin1Char('c')));
    EXPECT_FALSE(composer.isEmailValid());
}

TEST_F(feedback_composer, prepares_a_fresh_form_without_replacing_what_the_user_started)
{
    composer.prepare(true, QStringLiteral("summary 1"));
    EXPECT_EQ(composer.category(), FeedbackCategory::bug);
    composer.setMessage(QStringLiteral("  It still hums  "));
    composer.prepare(false, QStringLiteral("summary 2"));
    EXPECT_EQ(composer.context()->summary, "summary 1");
    EXPECT_EQ(composer.category(), FeedbackCategory::bug);

    EXPECT_EQ(composer.finalMessage(), "It still hums");
    composer.setIncludeDiagnostics(true);
    EXPECT_EQ(composer.finalMessage(), "It still hums\n\n— Audio summary (included by choice) —\nsummary 1");
    runTask(composer.send());
    EXPECT_EQ(composer.phase(), FeedbackComposer::Phase::sent);
    EXPECT_EQ(sender->sent, std::vector<QString>{composer.finalMessage()});
    EXPECT_EQ(sender->email, std::nullopt);

    composer.prepare(false, QStringLiteral("summary 3"));
    EXPECT_EQ(composer.phase(), FeedbackComposer::Phase::editing);
    EXPECT_TRUE(composer.message().isEmpty());
    EXPECT_FALSE(composer.includeDiagnostics());
    EXPECT_EQ(composer.context()->summary, "summary 3");
    EXPECT_EQ(composer.category(), FeedbackCategory::general);
}

TEST_F(feedback_composer, keeps_the_message_when_delivery_fails_and_names_the_support_address_when_unconfigured)
{
    composer.setMessage(QStringLiteral("Crackles"));
    sender->failure = std::make_exception_ptr(FeedbackDeliveryError());
    runTask(composer.send());
    EXPECT_EQ(composer.phase(), FeedbackComposer::Phase::editing);
    EXPECT_EQ(composer.errorMessage(),
              "Feedback isn’t configured in this build. Copy your message and email help@example.org.");
    sender->failure = std::make_exception_ptr(std::runtime_error("offline"));
    runTask(composer.send());
    EXPECT_EQ(composer.errorMessage(), "Your feedback couldn’t be delivered. Your message is safe here. Check your "
                                       "connection and try again.");
    EXPECT_EQ(composer.message(), "Crackles");
}

TEST(murmex_feedback_sender, sends_nothing_without_a_filled_in_token_or_in_the_clear_and_maps_the_category)
{
    std::vector<murmex::MurmexFeedback> submitted;
    bool stopReached = false;
    const auto sender = [&](const char* url, const char* token) {
        return MurmexFeedbackSender({QUrl(QString::fromUtf8(url)), QString::fromUtf8(token), {}},
                                    [&](murmex::MurmexConfig config, murmex::MurmexFeedback feedback,
                                        std::stop_token stop) -> QCoro::Task<> {
                                        EXPECT_EQ(config.endpointURL.path(), "");
                                        EXPECT_EQ(config.appName, "Sonorel Doctor");
                                        stopReached = stop.stop_requested();
                                        submitted.push_back(std::move(feedback));
                                        co_return;
                                    });
    };
    const char* service = "https://feedback.example.org";
    for (const auto& [url, token] : {std::pair{service, ""}, std::pair{service, "$(MURMEX_FEEDBACK_TOKEN)"},
                                     std::pair{"http://feedback.example.org", "t0ken"}}) {
        EXPECT_FALSE(sender(url, token).isConfigured()) << url << " " << token;
        EXPECT_THROW(runTask(sender(url, token).send("Hi", std::nullopt, FeedbackCategory::bug, {})),
                     FeedbackDeliveryError);
    }
    EXPECT_TRUE(sender(service, "t0ken").isConfigured());
    EXPECT_TRUE(submitted.empty());
    std::stop_source closed;
    closed.request_stop();
    runTask(sender(service, "t0ken").send("Hi", QStringLiteral("a@b.co"), FeedbackCategory::idea, closed.get_token()));
    EXPECT_TRUE(stopReached);
    ASSERT_EQ(submitted.size(), 1u);
    EXPECT_EQ(submitted[0].category, murmex::MurmexCategory::featureRequest);
    EXPECT_EQ(submitted[0].metadata, std::nullopt);
}

TEST(feedback_summary, lists_settings_only_and_shrinks_to_four_lines_when_unreadable)
{
    auto speakers = output(1, "Speakers");
    speakers.bufferFrames = 512;
    speakers.volume = 0.69999f;  // PulseAudio's 70 %: the nearest percent, never cut
    auto mic = input(2, "Mic", AudioTransport::usb);
    mic.sampleRate = 44100;
    AudioSnapshot s = snapshot({speakers, mic}, 1, 2);
    s.capturedAt = at(786902400);
    const auto checks = Diagnostics::checks(s, std::nullopt);
    const QString summary = feedbackSummary(s, checks, RepairIntent::playback,
                                            {{RepairAction::unmute, true}, {RepairAction::restartAudio, false}});
    const QStringList lines = summary.split('\n');
    ASSERT_EQ(lines.size(), 9);
    EXPECT_EQ(lines[0].toStdString(), "Snapshot captured: 2025-12-08T16:00:00Z");
    EXPECT_EQ(lines[2], "Audio settings readable: Yes");
    EXPECT_EQ(lines[3], "Output: Built-in; 2 channels; rate 48000 Hz; volume 70%; mute Off; buffer 512 frames");
    EXPECT_TRUE(lines[4].startsWith("Input: USB; ")) << lines[4].toStdString();
    EXPECT_EQ(lines[5], "Input activity: Idle");
    EXPECT_EQ(lines[6], "Recent playback overloads: 0");
    EXPECT_TRUE(lines[7].startsWith("Checks: ")) << lines[7].toStdString();
    EXPECT_EQ(lines[8], "Last repair attempt: Restore sound: settings verified; Restart audio service: Needs attention");
    EXPECT_FALSE(summary.contains("Speakers"));

    s.readError = "The audio service is unavailable.";
    const QStringList unreadable = feedbackSummary(s, checks, RepairIntent::noSound, {}).split('\n');
    ASSERT_EQ(unreadable.size(), 4);
    EXPECT_EQ(unreadable[2], "Audio settings readable: No");
    EXPECT_EQ(unreadable[3], "Last repair attempt: None this session");
}

}  // namespace
