#include "audio/audio_repair_error.h"
#include "audio/run_task.h"
#include "listening/microphone_level_tester.h"
#include "listening/test_tone_player.h"

#include <QCoreApplication>
#include <QFuture>
#include <QPromise>

#include <QCoro/QCoroFuture>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace sonorel;

namespace {

// A gate the test opens: what a server or a prompt answers, when the test says so.
template <typename T>
struct Gate {
    std::shared_ptr<QPromise<T>> promise = std::make_shared<QPromise<T>>();
    Gate() { promise->start(); }
    QFuture<T> future() const { return promise->future(); }
    void open(T value)
    {
        promise->addResult(value);
        promise->finish();
    }
};

QCoro::Task<bool> awaited(QFuture<bool> future)
{
    co_return co_await future;
}

void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

int16_t sampleAt(const std::vector<uint8_t>& wav, size_t frame, int channel)
{
    const size_t at = wavHeaderSize + frame * 4 + size_t(channel) * 2;
    return int16_t(uint16_t(wav[at] | (wav[at + 1] << 8)));
}

uint32_t fieldAt(const std::vector<uint8_t>& wav, size_t at, int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= uint32_t(wav[at + size_t(i)]) << (8 * i);
    return value;
}

TEST(test_tone, is_the_same_two_bursts_in_a_wav_file_every_time)
{
    const auto& wav = testToneWav();
    ASSERT_EQ(wav.size(), 352844u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
    const std::vector<std::pair<size_t, uint32_t>> fields{{4, 352836}, {16, 16}, {24, 44100}, {28, 176400}, {40, 352800}};
    for (const auto& [at, value] : fields)
        EXPECT_EQ(fieldAt(wav, at, 4), value) << "offset " << at;
    for (const auto& [at, value] : std::vector<std::pair<size_t, uint32_t>>{{20, 1}, {22, 2}, {32, 4}, {34, 16}})
        EXPECT_EQ(fieldAt(wav, at, 2), value) << "offset " << at;

    for (const size_t frame : {0u, 22050u, 44100u})
        EXPECT_EQ(sampleAt(wav, frame, 0) | sampleAt(wav, frame, 1), 0) << "frame " << frame;
    EXPECT_EQ(sampleAt(wav, 22051, 0), 100);
    EXPECT_EQ(sampleAt(wav, 22051, 1), 0);
    int largest[2] = {0, 0};
    for (size_t frame = 0; frame < 88200; ++frame) {
        const bool second = frame >= 44100;
        // The silent side of each burst stays silent.
        ASSERT_EQ(sampleAt(wav, frame, second ? 0 : 1), 0) << "frame " << frame;
        largest[second] = std::max(largest[second], std::abs(int(sampleAt(wav, frame, second ? 1 : 0))));
    }
    EXPECT_EQ(largest[0], 1599);
    EXPECT_EQ(largest[1], 1599);
}

// A player whose start the test answers.
struct ScriptedPlayback final : TonePlayback {
    std::shared_ptr<Gate<bool>> answer;
    int* starts;
    std::function<void(bool)>* ended;
    ScriptedPlayback(std::shared_ptr<Gate<bool>> gate, int* count, std::function<void(bool)>* end)
        : answer(std::move(gate)), starts(count), ended(end)
    {
    }
    QCoro::Task<bool> start(std::shared_ptr<const std::vector<uint8_t>>, std::function<void(bool)> end) override
    {
        ++*starts;
        *ended = std::move(end);
        return awaited(answer->future());
    }
};

TEST(test_tone_player, toggles_ignores_a_start_stopped_meanwhile_and_reports_a_tone_that_cannot_play_or_is_cut_short)
{
    int starts = 0;
    std::shared_ptr<Gate<bool>> gate;
    std::function<void(bool)> ended;
    TestTonePlayer tone([&] {
        gate = std::make_shared<Gate<bool>>();
        return std::make_unique<ScriptedPlayback>(gate, &starts, &ended);
    });
    std::vector<std::string> cutShort;
    QObject::connect(&tone, &TestTonePlayer::cutShort, [&](const std::string& sentence) { cutShort.push_back(sentence); });
    tone.stop();  // idle: nothing happens
    EXPECT_FALSE(tone.isPlaying());

    // A second press while the server is still asked stops it; the late answer changes nothing.
    auto first = tone.play();
    auto earlyGate = gate;
    runTask(tone.play());
    earlyGate->open(true);
    runTask(std::move(first));
    EXPECT_FALSE(tone.isPlaying());

    auto second = tone.play();
    gate->open(true);
    runTask(std::move(second));
    EXPECT_TRUE(tone.isPlaying());
    ended(true);  // played to its end
    settle();
    EXPECT_FALSE(tone.isPlaying());
    auto secondEnded = ended;
    auto third = tone.play();
    gate->open(true);
    runTask(std::move(third));
    runTask(tone.play());
    EXPECT_FALSE(tone.isPlaying());

    // The output or the server went away mid-tone; an end of a stopped tone says nothing.
    secondEnded(false);
    auto fourth = tone.play();
    gate->open(true);
    runTask(std::move(fourth));
    ended(false);
    settle();
    EXPECT_FALSE(tone.isPlaying());
    EXPECT_EQ(cutShort, std::vector<std::string>{"The test tone was cut short: its output or the audio service went "
                                                 "away. Check the output and try again."});

    auto failing = tone.play();
    gate->open(false);
    try {
        runTask(std::move(failing));
        FAIL() << "a tone that could not start was reported as playing";
    } catch (const AudioRepairError& error) {
        EXPECT_EQ(error.description(), "The test tone could not play. Select a connected output and try again.");
    }
    EXPECT_FALSE(tone.isPlaying());
    EXPECT_EQ(starts, 5);
}

TEST(audio_level_summary, counts_clipping_from_0_995_and_skips_what_is_not_a_number)
{
    const std::vector<float> samples{0.995f, 0.1f, 0.1f, 0.9949f, -0.995f};
    const auto summary = AudioLevelSummary::of(samples);
    EXPECT_EQ(summary.clippedSamples, 2);
    EXPECT_EQ(summary.sampleCount, 5);
    EXPECT_FLOAT_EQ(summary.peak, 0.995f);
    EXPECT_NEAR(summary.rms, std::sqrt((2 * 0.995 * 0.995 + 0.9949 * 0.9949 + 2 * 0.1 * 0.1) / 5), 1e-6);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(AudioLevelSummary::of(std::vector<float>{nan, nan, inf}), AudioLevelSummary{});
}

// A capture whose buffers the test hands over, as the capture thread would.
struct ScriptedCapture final : MicrophoneCapturing {
    Handler handler;
    std::function<void()> ended;
    int starts = 0;
    std::optional<std::string> failure;
    QCoro::Task<> start(Handler h, std::function<void()> endedEarly) override
    {
        ++starts;
        if (failure)
            throw AudioRepairError::system(*failure);
        handler = std::move(h);
        ended = std::move(endedEarly);
        co_return;
    }
    void stop() override { handler = nullptr; }
    void deliver(std::vector<float> samples) const
    {
        if (handler)
            handler(samples);
    }
};

class microphone_level_tester : public ::testing::Test {
protected:
    ScriptedCapture* capture = nullptr;
    std::shared_ptr<Gate<bool>> permission;
    bool inputStillFree = true;
    std::unique_ptr<MicrophoneLevelTester> tester = make();

    std::unique_ptr<MicrophoneLevelTester> make()
    {
        auto scripted = std::make_unique<ScriptedCapture>();
        capture = scripted.get();
        return std::make_unique<MicrophoneLevelTester>(std::move(scripted), [this] {
            permission = std::make_shared<Gate<bool>>();
            return awaited(permission->future());
        });
    }
    void start()
    {
        tester->start(true, false, true, [this]() -> QCoro::Task<bool> { co_return inputStillFree; });
    }
    void grant(bool granted = true)
    {
        permission->open(granted);
        settle();
    }
    using State = MicrophoneLevelTester::State;
};

TEST_F(microphone_level_tester, refuses_without_input_or_while_it_is_busy_or_unknown_and_fails_when_cut_short)
{
    tester->start(false, true, false, {});
    EXPECT_EQ(tester->state(), State::unavailable);
    EXPECT_EQ(tester->detail(), "Choose an available microphone first.");
    tester->start(true, true, false, {});
    EXPECT_EQ(tester->detail(), "Finish the call or recording before testing input.");
    tester->start(true, false, false, {});
    EXPECT_EQ(tester->state(), State::blocked);
    EXPECT_EQ(tester->detail(), "Microphone activity could not be checked. Try refreshing first.");
    // No server is no server, not a missing microphone.
    AudioSnapshot unread;
    unread.readError = "The audio service is not running: Connection refused";
    tester->start(unread, {});
    EXPECT_EQ(tester->state(), State::unavailable);
    EXPECT_EQ(tester->detail(), *unread.readError);

    start();
    grant(false);
    EXPECT_EQ(tester->state(), State::denied);
    inputStillFree = false;
    start();
    grant();
    EXPECT_EQ(tester->state(), State::blocked);
    EXPECT_EQ(capture->starts, 0);
    inputStillFree = true;
    capture->failure = "The microphone has no available input stream.";
    start();
    grant();
    EXPECT_EQ(tester->state(), State::failed);
    EXPECT_EQ(tester->detail(), "The microphone has no available input stream.");

    // The input or the server went away mid-test: no verdict on what was heard so far.
    capture->failure.reset();
    start();
    grant();
    ASSERT_EQ(tester->state(), State::listening);
    capture->deliver({0.5f});
    capture->ended();
    settle();
    EXPECT_EQ(tester->state(), State::failed);
    EXPECT_EQ(tester->detail(), "The microphone test was cut short: the input or the audio service went away. "
                                "Check the input and try again.");
}

TEST_F(microphone_level_tester, measures_only_its_own_run_and_ends_with_the_sentence_of_what_it_heard)
{
    // Stopped while permission is pending: no verdict, and the late answer starts nothing.
    start();
    tester->start(true, false, true, {});  // ignored while requesting
    tester->stop();
    EXPECT_EQ(tester->state(), State::idle);
    EXPECT_EQ(tester->detail(), "");
    grant();
    EXPECT_EQ(capture->starts, 0);
    // Nor when stopped before a buffer came.
    start();
    grant();
    tester->stop();
    EXPECT_EQ(tester->state(), State::idle);

    start();
    grant();
    ASSERT_EQ(tester->state(), State::listening);
    auto lateHandler = capture->handler;
    capture->deliver({0.5f, -0.5f});
    capture->deliver({0.1f});
    settle();
    EXPECT_FLOAT_EQ(tester->peak(), 0.1f);  // the latest buffer's
    EXPECT_FLOAT_EQ(tester->maximumRMS(), 0.5f);
    tester->stop();
    EXPECT_EQ(tester->level(), 0.0f);
    EXPECT_EQ(tester->detail(), "Input signal was measured. Check the affected app’s own permission and selected "
                                "microphone if it still cannot hear you.");

    // A buffer of the first run arriving during the second is not counted.
    start();
    grant();
    lateHandler(std::vector<float>{1.0f});
    settle();
    EXPECT_EQ(tester->clippedSamples(), 0);
    capture->deliver({1.0f, 0.2f});
    settle();
    tester->stop();
    EXPECT_EQ(tester->clippedSamples(), 1);
    EXPECT_EQ(tester->detail(), "Signal reached full scale. Lower input gain or move farther from the microphone.");

    // The result stands until another input is the default, not through a failed reading.
    AudioSnapshot other;
    other.devices = {AudioDevice{}};
    other.devices[0].uid = "usb-mic";
    other.inputID = other.devices[0].id;
    other.readError = "unreadable";
    tester->follow(other);
    EXPECT_EQ(tester->state(), State::finished);
    other.readError.reset();
    tester->follow(other);
    EXPECT_EQ(tester->state(), State::idle);
    EXPECT_EQ(tester->detail(), "");
}

}  // namespace
