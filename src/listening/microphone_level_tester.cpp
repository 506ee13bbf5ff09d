#include "listening/microphone_level_tester.h"

#include "audio/audio_repair_error.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace sonorel {

namespace {

const char* const listeningText = "Speak normally. This test stops after ten seconds.";

}  // namespace

AudioLevelSummary AudioLevelSummary::of(std::span<const float> samples)
{
    AudioLevelSummary summary;
    double sum = 0;
    for (const float sample : samples) {
        if (!std::isfinite(sample))
            continue;
        const float magnitude = std::fabs(sample);
        ++summary.sampleCount;
        summary.peak = std::max(summary.peak, magnitude);
        sum += double(sample) * double(sample);
        if (magnitude >= clipThreshold)
            ++summary.clippedSamples;
    }
    if (summary.sampleCount > 0)
        summary.rms = float(std::sqrt(sum / double(summary.sampleCount)));
    return summary;
}

bool inputStillFree(const AudioSnapshot& fresh, const std::string& uid)
{
    const AudioDevice* input = fresh.inputDevice();
    return !fresh.readError && input && input->uid == uid && input->isAlive && fresh.inputActivityKnown
        && !fresh.inputIOActive
        && std::none_of(fresh.devices.begin(), fresh.devices.end(),
                        [](const AudioDevice& device) { return device.isRunningInput; });
}

MicrophoneLevelTester::MicrophoneLevelTester(std::unique_ptr<MicrophoneCapturing> capture, Permission permission,
                                             std::chrono::milliseconds listeningPeriod, QObject* parent)
    : QObject(parent), m_capture(std::move(capture)), m_permission(std::move(permission))
{
    m_listening.setSingleShot(true);
    m_listening.setInterval(listeningPeriod);
    connect(&m_listening, &QTimer::timeout, this, [this] {
        if (end())
            judge();
    });
}

MicrophoneLevelTester::~MicrophoneLevelTester()
{
    // No buffer is handed over once this returns.
    m_capture->stop();
}

void MicrophoneLevelTester::start(bool hasInput, bool inputBusy, bool activityKnown, Guard canStillTest)
{
    if (m_state == State::requesting || m_state == State::listening)
        return;
    if (!hasInput)
        return enter(State::unavailable, "Choose an available microphone first.");
    if (inputBusy)
        return enter(State::blocked, "Finish the call or recording before testing input.");
    if (!activityKnown)
        return enter(State::blocked, "Microphone activity could not be checked. Try refreshing first.");
    m_level = m_peak = m_maximumRMS = 0;
    m_clippedSamples = m_buffers = 0;
    ++m_generation;
    enter(State::requesting, "Waiting for microphone permission…");
    run(m_generation, std::move(canStillTest));
}

void MicrophoneLevelTester::start(const AudioSnapshot& reading, Guard canStillTest)
{
    if (reading.readError && m_state != State::requesting && m_state != State::listening)
        return enter(State::unavailable, *reading.readError);
    const AudioDevice* input = reading.inputDevice();
    m_inputUID = input ? input->uid : std::string();
    start(input && input->isAlive, reading.isInputActive(), reading.inputActivityKnown && !reading.readError,
          std::move(canStillTest));
}

QCoro::Task<> MicrophoneLevelTester::run(quint64 generation, Guard canStillTest)
{
    QPointer<MicrophoneLevelTester> self(this);
    const quint64 runGeneration = generation;
    const auto current = [&] { return self && m_generation == runGeneration; };

    const bool granted = co_await m_permission();
    if (!current())
        co_return;
    if (!granted)
        co_return enter(State::denied, "Allow Sonorel Doctor in your system’s privacy settings, then try again.");
    const bool stillFree = co_await canStillTest();
    if (!current())
        co_return;
    if (!stillFree)
        co_return enter(State::blocked,
                        "The input changed, became busy, or its activity could not be checked while permission was "
                        "pending. Refresh and try again after calls or recordings finish.");

    std::string failure;
    try {
        MicrophoneLevelTester* tester = this;
        // Summarised on the capture thread; only the numbers cross over.
        co_await m_capture->start(
            [tester, runGeneration](std::span<const float> samples) {
                const AudioLevelSummary summary = AudioLevelSummary::of(samples);
                QMetaObject::invokeMethod(
                    tester, [tester, runGeneration, summary] { tester->apply(runGeneration, summary); },
                    Qt::QueuedConnection);
            },
            [tester, runGeneration] {
                QMetaObject::invokeMethod(
                    tester, [tester, runGeneration] { tester->endEarly(runGeneration); }, Qt::QueuedConnection);
            });
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (!current())
        co_return;
    if (!failure.empty()) {
        m_capture->stop();
        co_return enter(State::failed, failure);
    }
    enter(State::listening, listeningText);
    m_listening.start();
}

void MicrophoneLevelTester::apply(quint64 generation, const AudioLevelSummary& summary)
{
    if (generation != m_generation || m_state != State::listening)
        return;
    m_level = summary.rms;
    m_peak = summary.peak;
    m_maximumRMS = std::max(m_maximumRMS, summary.rms);
    m_clippedSamples += summary.clippedSamples;
    ++m_buffers;
    emit changed();
}

void MicrophoneLevelTester::endEarly(quint64 generation)
{
    if (generation != m_generation || m_state != State::listening)
        return;
    end();
    enter(State::failed, "The microphone test was cut short: the input or the audio service went away. Check the "
                         "input and try again.");
}

bool MicrophoneLevelTester::end()
{
    ++m_generation;
    m_listening.stop();
    m_capture->stop();
    m_level = 0;
    return m_state == State::requesting || m_state == State::listening;
}

void MicrophoneLevelTester::stop()
{
    if (!end())
        return emit changed();
    // A test that heard nothing measured nothing: no verdict on the microphone.
    if (m_buffers == 0)
        return enter(State::idle, {});
    judge();
}

void MicrophoneLevelTester::follow(const AudioSnapshot& reading)
{
    const AudioDevice* input = reading.inputDevice();
    if (reading.readError || m_state == State::idle || m_state == State::requesting || m_state == State::listening
        || (input && input->uid == m_inputUID))
        return;
    m_level = m_peak = m_maximumRMS = 0;
    m_clippedSamples = 0;
    enter(State::idle, {});
}

void MicrophoneLevelTester::judge()
{
    if (m_maximumRMS == 0)
        enter(State::finished,
              "No signal was measured. Check the selected microphone, its mute switch, input level, and permissions.");
    else if (m_clippedSamples >= 1)
        enter(State::finished, "Signal reached full scale. Lower input gain or move farther from the microphone.");
    else
        enter(State::finished, "Input signal was measured. Check the affected app’s own permission and selected "
                               "microphone if it still cannot hear you.");
}

void MicrophoneLevelTester::enter(State state, std::string detail)
{
    m_state = state;
    m_detail = std::move(detail);
    emit changed();
}

}  // namespace sonorel
