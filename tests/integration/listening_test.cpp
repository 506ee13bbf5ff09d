#include "audio/audio_repair_error.h"
#include "audio/run_task.h"
#include "listening/live_audio_streams.h"
#include "pulse/pulse_audio_system.h"
#include "pulse/pulse_stream.h"
#include "support/audio_rig.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fcntl.h>
#include <mutex>
#include <numbers>
#include <signal.h>
#include <thread>
#include <unistd.h>

namespace sonorel {
namespace {

using testing::AudioRig;
using testing::processEventsUntil;
using namespace testing::rigDevices;
using State = MicrophoneLevelTester::State;

// What a stereo sink plays, taken from its monitor at 48 kHz.
class MonitorRecording {
public:
    MonitorRecording(const AudioRig& rig, const std::string& sink) : m_stream("monitor recording", rig.address())
    {
        pulse::PulseStream::Record record;
        record.source = sink + ".monitor";
        record.onFragment = [this](std::span<const float> samples) {
            const std::lock_guard lock(m_mutex);
            m_samples.insert(m_samples.end(), samples.begin(), samples.end());
        };
        m_stream.start(std::move(record), [this](auto failure) { m_failed = failure.has_value(); });
    }
    ~MonitorRecording() { m_stream.stop(); }

    // Interleaved left, right.
    std::vector<float> samples()
    {
        const std::lock_guard lock(m_mutex);
        return m_samples;
    }
    size_t frames() { return samples().size() / 2; }
    bool failed() const { return m_failed; }

private:
    pulse::PulseStream m_stream;
    std::mutex m_mutex;
    std::vector<float> m_samples;
    std::atomic<bool> m_failed = false;
};

constexpr double rate = 48000;

void waitFor(std::chrono::milliseconds time)
{
    processEventsUntil([] { return false; }, time);
}

struct Burst {
    double peak = 0;
    double rms = 0;
    double other = 0;  // the largest magnitude on the other channel
    double at440 = 0;
    double at660 = 0;
};

double goertzelPower(const std::vector<float>& s, size_t from, size_t to, int channel, double frequency)
{
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / rate);
    double s1 = 0, s2 = 0;
    for (size_t frame = from; frame < to; ++frame) {
        const double s0 = double(s[2 * frame + size_t(channel)]) + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

// The steady middle of a burst on `channel`, from `from` for `length` frames.
Burst burstAt(const std::vector<float>& s, size_t from, size_t length, int channel)
{
    Burst burst;
    double sum = 0;
    for (size_t frame = from; frame < from + length; ++frame) {
        burst.peak = std::max(burst.peak, double(std::fabs(s[2 * frame + size_t(channel)])));
        sum += double(s[2 * frame + size_t(channel)]) * double(s[2 * frame + size_t(channel)]);
        burst.other = std::max(burst.other, double(std::fabs(s[2 * frame + size_t(1 - channel)])));
    }
    burst.rms = std::sqrt(sum / double(length));
    burst.at440 = goertzelPower(s, from, from + length, channel, 440);
    burst.at660 = goertzelPower(s, from, from + length, channel, 660);
    return burst;
}

TEST(listening, the_tone_plays_440_hz_left_then_660_hz_right_and_stopping_silences_it)
{
    AudioRig rig;
    rig.startPlaying();  // keeps the sink running between tones
    MonitorRecording recording(rig, speakers);
    ASSERT_TRUE(processEventsUntil([&] { return recording.frames() > 4800; })) << "the monitor records nothing";

    TestTonePlayer tone([&] { return std::make_unique<LiveTonePlayback>(rig.address()); });
    runTask(tone.play());
    ASSERT_TRUE(tone.isPlaying());
    ASSERT_TRUE(processEventsUntil([&] { return !tone.isPlaying(); }));
    waitFor(std::chrono::milliseconds(300));

    const auto s = recording.samples();
    size_t start = 0;
    while (2 * start < s.size() && std::fabs(s[2 * start]) < 0.001f)
        ++start;
    ASSERT_LT(2 * (start + size_t(2 * rate)), s.size()) << "no whole tone recorded";
    // A peak of 1599 of 32768, a sine's RMS of it; resampling to 48 kHz moves both a little.
    const double peak = 1599.0 / 32768;
    const auto check = [&](const Burst& burst, bool left) {
        EXPECT_NEAR(burst.peak, peak, peak * 0.03);
        EXPECT_NEAR(burst.rms, peak / std::sqrt(2), peak * 0.02);
        EXPECT_LT(burst.other, 1e-4);
        EXPECT_GT(left ? burst.at440 : burst.at660, 1000 * (left ? burst.at660 : burst.at440));
    };
    {
        SCOPED_TRACE("left burst");
        check(burstAt(s, start + size_t(0.1 * rate), size_t(0.8 * rate), 0), true);
    }
    {
        SCOPED_TRACE("right burst, to its fall");  // ended when played, not by a clock started too early
        check(burstAt(s, start + size_t(1.1 * rate), size_t(0.83 * rate), 1), false);
    }

    runTask(tone.play());
    waitFor(std::chrono::milliseconds(500));
    tone.stop();
    const size_t stoppedAt = recording.frames();
    waitFor(std::chrono::milliseconds(700));
    const auto after = recording.samples();
    // Allow for what was already on its way through the server.
    const size_t quietFrom = stoppedAt + size_t(0.25 * rate);
    ASSERT_GT(after.size() / 2, quietFrom + size_t(0.2 * rate));
    float loudest = 0;
    for (size_t i = 2 * quietFrom; i < after.size(); ++i)
        loudest = std::max(loudest, std::fabs(after[i]));
    EXPECT_LT(loudest, 1e-4);
}

// A source that plays what the test writes into its pipe: 32-bit float mono at 48 kHz.
class PipeSource {
public:
    explicit PipeSource(const AudioRig& rig) : m_rig(rig)
    {
        // The module makes the fifo; PulseAudio refuses one that exists.
        const QString fifo = m_dir.filePath("signal");
        m_rig.run("pactl", {"load-module", "module-pipe-source", "source_name=test_signal",
                            "file=" + fifo, "format=float32le", "rate=48000", "channels=1"});
        m_fd = ::open(fifo.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK);
        if (m_fd < 0)
            throw std::runtime_error("the pipe source did not open its fifo");
    }
    ~PipeSource()
    {
        m_writing = false;
        if (m_writer.joinable())
            m_writer.join();
        ::close(m_fd);
    }
    // Writes `pattern` again and again, as fast as the source takes it.
    void play(std::vector<float> pattern)
    {
        m_writer = std::thread([this, pattern] {
            std::vector<float> chunk;
            while (chunk.size() < 4096)
                chunk.insert(chunk.end(), pattern.begin(), pattern.end());
            const auto* bytes = reinterpret_cast<const char*>(chunk.data());
            size_t offset = 0;
            const size_t total = chunk.size() * sizeof(float);
            while (m_writing) {
                const ssize_t written = ::write(m_fd, bytes + offset, total - offset);
                if (written > 0)
                    offset = (offset + size_t(written)) % total;
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }

private:
    const AudioRig& m_rig;
    QTemporaryDir m_dir;
    int m_fd = -1;
    std::thread m_writer;
    std::atomic<bool> m_writing = true;
};

TEST(listening, the_microphone_test_measures_the_default_input_and_never_counts_itself_as_recording)
{
    AudioRig rig;
    PulseAudioSystem audio(PulseAudioOptions{rig.address()});
    const auto make = [&] {
        return std::make_unique<MicrophoneLevelTester>(
            std::make_unique<LiveMicrophoneCapture>(rig.address()),
            [&] { return liveMicrophonePermission(rig.address()); }, std::chrono::milliseconds(800));
    };
    const auto run = [&](MicrophoneLevelTester& tester) {
        const AudioSnapshot reading = audio.snapshot();
        const std::string uid = reading.inputDevice() ? reading.inputDevice()->uid : "";
        tester.start(reading, [&, uid]() -> QCoro::Task<bool> { co_return inputStillFree(audio.snapshot(), uid); });
        EXPECT_TRUE(processEventsUntil([&] { return tester.state() == State::listening; })) << tester.detail();
        // Our own capture is not somebody recording.
        EXPECT_FALSE(audio.snapshot().isInputActive());
        EXPECT_TRUE(processEventsUntil([&] { return tester.state() == State::finished; })) << tester.detail();
    };

    auto silent = make();
    run(*silent);
    EXPECT_EQ(silent->maximumRMS(), 0.0f);
    EXPECT_EQ(silent->detail(), "No signal was measured. Check the selected microphone, its mute switch, input "
                                "level, and permissions.");

    PipeSource source(rig);
    source.play({0.995f, -0.5f, 0.9949f, 0.1f});
    rig.run("pactl", {"set-default-source", "test_signal"});
    ASSERT_TRUE(processEventsUntil([&] {
        const AudioSnapshot reading = audio.snapshot();
        return reading.inputDevice() && reading.inputDevice()->uid == "test_signal";
    }));
    auto loud = make();
    run(*loud);
    const double rms = std::sqrt((0.995 * 0.995 + 0.25 + 0.9949 * 0.9949 + 0.01) / 4);
    EXPECT_NEAR(loud->maximumRMS(), rms, rms * 0.01);
    EXPECT_NEAR(loud->peak(), 0.995, 0.995 * 0.01);
    EXPECT_GT(loud->clippedSamples(), 0);
    EXPECT_EQ(loud->detail(), "Signal reached full scale. Lower input gain or move farther from the microphone.");

    rig.startRecording("test_signal");
    ASSERT_TRUE(processEventsUntil([&] { return audio.snapshot().isInputActive(); }));
    auto busy = make();
    busy->start(audio.snapshot(), {});
    EXPECT_EQ(busy->state(), State::blocked);
}

// A test whose device or server goes away says so; without a server the server is named.
TEST(listening, a_tone_or_microphone_test_cut_short_by_its_device_or_the_server_says_so)
{
    AudioRig rig;
    PulseAudioSystem audio(PulseAudioOptions{rig.address()});
    const std::string address = rig.address();
    TestTonePlayer tone([&] { return std::make_unique<LiveTonePlayback>(address); },
                        std::chrono::seconds(10));
    std::string cutShort;
    QObject::connect(&tone, &TestTonePlayer::cutShort, [&](const std::string& sentence) { cutShort = sentence; });
    runTask(tone.play());
    ASSERT_TRUE(tone.isPlaying());
    rig.removeDevice(audio.snapshot().outputDevice()->uid);
    EXPECT_TRUE(processEventsUntil([&] { return !cutShort.empty(); }, std::chrono::milliseconds(1500)));
    EXPECT_FALSE(tone.isPlaying());

    MicrophoneLevelTester microphone(std::make_unique<LiveMicrophoneCapture>(address),
                                     [&] { return liveMicrophonePermission(address); }, std::chrono::seconds(10));
    microphone.start(true, false, true, []() -> QCoro::Task<bool> { co_return true; });
    ASSERT_TRUE(processEventsUntil([&] { return microphone.state() == State::listening; })) << microphone.detail();
    ASSERT_EQ(::kill(rig.serverPid(), SIGKILL), 0);
    EXPECT_TRUE(processEventsUntil([&] { return microphone.state() == State::failed; }, std::chrono::seconds(2)));
    EXPECT_EQ(microphone.detail(), "The microphone test was cut short: the input or the audio service went away. "
                                   "Check the input and try again.");

    try {
        runTask(tone.play());
        ADD_FAILURE() << "a tone without a server was called playing";
    } catch (const AudioRepairError& error) {
        EXPECT_EQ(error.description(), "The audio service is unavailable. Try checking again or reset the audio service.");
    }
}

}  // namespace
}  // namespace sonorel
