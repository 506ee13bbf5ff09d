#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sonorel {

// The reference tone as a WAV file: two seconds at 44100 Hz, 16-bit stereo,
// a 440 Hz burst on the left, then a 660 Hz burst on the right, each at a
// peak of 1600 with a 30 ms rise and a 60 ms fall. Always the same bytes.
const std::vector<uint8_t>& testToneWav();
inline constexpr size_t wavHeaderSize = 44;

// The platform's player of an in-memory WAV on the default output.
class TonePlayback {
public:
    virtual ~TonePlayback() = default;
    // True once the tone is playing; false when there is no output to play it on;
    // throws AudioRepairError when the sound server cannot be reached. Ends (false)
    // when the player is stopped or destroyed first. `ended` runs at most once, on
    // any thread, when a playing tone ends by itself: all played, or cut short.
    virtual QCoro::Task<bool> start(std::shared_ptr<const std::vector<uint8_t>> wav,
                                    std::function<void(bool played)> ended) = 0;
};

// Plays the reference tone on the current output; a second play() stops it.
// Main thread only.
class TestTonePlayer final : public QObject {
    Q_OBJECT

public:
    using MakePlayback = std::function<std::unique_ptr<TonePlayback>()>;

    // A tone ends when the server has played it; `finishAfter` (from its start)
    // stops one whose end is never reported.
    explicit TestTonePlayer(MakePlayback makePlayback,
                            std::chrono::milliseconds finishAfter = std::chrono::milliseconds(3500),
                            QObject* parent = nullptr);

    // Starts the tone, or stops it while it plays or starts. Throws
    // AudioRepairError when it could not play.
    QCoro::Task<> play();
    // Ends playback at once; harmless when idle.
    void stop();
    bool isPlaying() const { return m_isPlaying; }

signals:
    void isPlayingChanged();
    // A playing tone ended before its end: its output or the sound server went away.
    void cutShort(const std::string& sentence);

private:
    void end(quint64 generation, bool played);
    void setPlaying(bool playing);

    MakePlayback m_makePlayback;
    std::unique_ptr<TonePlayback> m_player;  // while starting or playing
    bool m_isPlaying = false;
    QTimer m_finish;
    quint64 m_generation = 0;  // every start and stop makes a new one
};

}  // namespace sonorel
