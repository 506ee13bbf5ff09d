#include "listening/test_tone_player.h"

#include "audio/audio_repair_error.h"

#include <QMetaObject>
#include <QPointer>

#include <cmath>
#include <numbers>

namespace sonorel {

namespace {

constexpr uint32_t toneRate = 44100;
constexpr uint32_t toneFrames = 2 * toneRate;
constexpr uint32_t toneBytes = toneFrames * 4;

void putLE(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}

void putText(std::vector<uint8_t>& out, const char* text)
{
    for (; *text; ++text)
        out.push_back(uint8_t(*text));
}

std::vector<uint8_t> makeTone()
{
    std::vector<uint8_t> wav;
    wav.reserve(wavHeaderSize + toneBytes);
    putText(wav, "RIFF");
    putLE(wav, 36 + toneBytes, 4);
    putText(wav, "WAVEfmt ");
    putLE(wav, 16, 4);
    putLE(wav, 1, 2);  // integer PCM
    putLE(wav, 2, 2);
    putLE(wav, toneRate, 4);
    putLE(wav, toneRate * 4, 4);
    putLE(wav, 4, 2);
    putLE(wav, 16, 2);
    putText(wav, "data");
    putLE(wav, toneBytes, 4);
    for (uint32_t n = 0; n < toneFrames; ++n) {
        const double t = double(n) / toneRate;
        const double p = t - std::trunc(t);
        const double fadeIn = p / 0.03;
        const double fadeOut = (1 - p) / 0.06;
        double gain = fadeIn < 1 ? std::min(fadeIn, fadeOut) : fadeOut < 1 ? fadeOut : 1.0;
        gain = std::max(gain, 0.0);
        const double frequency = t < 1 ? 440 : 660;
        // Truncation toward zero: the peak is 1599, never 1600.
        const auto value = int16_t(std::sin(2 * std::numbers::pi * frequency * t) * gain * 1600);
        const auto left = t < 1 ? value : int16_t(0);
        const auto right = t < 1 ? int16_t(0) : value;
        putLE(wav, uint16_t(left), 2);
        putLE(wav, uint16_t(right), 2);
    }
    return wav;
}

}  // namespace

const std::vector<uint8_t>& testToneWav()
{
    static const std::vector<uint8_t> wav = makeTone();
    return wav;
}

TestTonePlayer::TestTonePlayer(MakePlayback makePlayback, std::chrono::milliseconds finishAfter, QObject* parent)
    : QObject(parent), m_makePlayback(std::move(makePlayback))
{
    m_finish.setSingleShot(true);
    m_finish.setInterval(finishAfter);
    connect(&m_finish, &QTimer::timeout, this, &TestTonePlayer::stop);
}

QCoro::Task<> TestTonePlayer::play()
{
    if (m_player) {
        stop();
        co_return;
    }
    static const auto wav = std::make_shared<const std::vector<uint8_t>>(testToneWav());
    const quint64 generation = ++m_generation;
    QPointer<TestTonePlayer> self(this);
    m_player = m_makePlayback();
    // The player goes before this object does, and with it any late call.
    auto ended = [player = this, generation](bool played) {
        QMetaObject::invokeMethod(
            player, [player, generation, played] { player->end(generation, played); }, Qt::QueuedConnection);
    };
    bool started = false;
    try {
        started = co_await m_player->start(wav, std::move(ended));
    } catch (const AudioRepairError&) {
        if (self && m_generation == generation)
            m_player.reset();
        throw;
    }
    // Stopped, or started again, while the server was asked.
    if (!self || m_generation != generation)
        co_return;
    if (!started) {
        m_player.reset();
        throw AudioRepairError::system("The test tone could not play. Select a connected output and try again.");
    }
    setPlaying(true);
    m_finish.start();
}

void TestTonePlayer::stop()
{
    ++m_generation;
    m_finish.stop();
    m_player.reset();
    setPlaying(false);
}

void TestTonePlayer::end(quint64 generation, bool played)
{
    if (generation != m_generation || !m_isPlaying)
        return;
    stop();
    if (!played)
        emit cutShort("The test tone was cut short: its output or the audio service went away. Check the output and "
                  "try again.");
}

void TestTonePlayer::setPlaying(bool playing)
{
    if (m_isPlaying == playing)
        return;
    m_isPlaying = playing;
    emit isPlayingChanged();
}

}  // namespace sonorel
