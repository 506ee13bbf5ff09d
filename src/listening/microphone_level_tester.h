#pragma once

#include "model/audio_snapshot.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace sonorel {

// The measurement of one buffer of float samples (1.0 = full scale).
struct AudioLevelSummary {
    float rms = 0;
    float peak = 0;
    int64_t clippedSamples = 0;
    int64_t sampleCount = 0;

    static constexpr float clipThreshold = 0.995f;
    // NaN and infinite samples are skipped.
    static AudioLevelSummary of(std::span<const float> samples);
    bool operator==(const AudioLevelSummary&) const = default;
};

// Whether a fresh reading still lets the input `uid` be tested: readable,
// the same input current and alive, its activity known, nothing recording.
bool inputStillFree(const AudioSnapshot& fresh, const std::string& uid);

// The capture back end: hands buffers of the default input to a handler on
// its own thread, until stopped.
class MicrophoneCapturing {
public:
    using Handler = std::function<void(std::span<const float>)>;
    virtual ~MicrophoneCapturing() = default;
    // Throws AudioRepairError when capture cannot start. `endedEarly` runs at
    // most once, on any thread, when a running capture ends by itself.
    virtual QCoro::Task<> start(Handler handler, std::function<void()> endedEarly) = 0;
    // No handler call runs after it returns.
    virtual void stop() = 0;
};

// The ten-second microphone level test: listens to the default input,
// keeps only levels, peak and clipping, and ends with one sentence. Main
// thread only; late buffers of a stopped run are told apart by its generation.
class MicrophoneLevelTester final : public QObject {
    Q_OBJECT

public:
    enum class State { idle, requesting, listening, finished, denied, blocked, unavailable, failed };
    using Permission = std::function<QCoro::Task<bool>()>;
    using Guard = std::function<QCoro::Task<bool>()>;

    explicit MicrophoneLevelTester(std::unique_ptr<MicrophoneCapturing> capture, Permission permission,
                                   std::chrono::milliseconds listeningPeriod = std::chrono::seconds(10),
                                   QObject* parent = nullptr);
    ~MicrophoneLevelTester() override;

    // `canStillTest` takes a fresh look just before capture begins.
    void start(bool hasInput, bool inputBusy, bool activityKnown, Guard canStillTest);
    // The same, for the default input of `reading`.
    void start(const AudioSnapshot& reading, Guard canStillTest);
    // Ends the test early: judged on what was heard, no verdict when nothing was.
    void stop();
    // A result stands for the input it measured: it is cleared once a readable
    // reading has another default input.
    void follow(const AudioSnapshot& reading);

    State state() const { return m_state; }
    float level() const { return m_level; }
    float peak() const { return m_peak; }
    float maximumRMS() const { return m_maximumRMS; }
    int64_t clippedSamples() const { return m_clippedSamples; }
    const std::string& detail() const { return m_detail; }

signals:
    void changed();

private:
    QCoro::Task<> run(quint64 generation, Guard canStillTest);
    void apply(quint64 generation, const AudioLevelSummary& summary);
    void endEarly(quint64 generation);
    // Ends the run; true when it was running.
    bool end();
    void judge();
    void enter(State state, std::string detail);

    std::unique_ptr<MicrophoneCapturing> m_capture;
    Permission m_permission;
    QTimer m_listening;

    State m_state = State::idle;
    float m_level = 0;
    float m_peak = 0;
    float m_maximumRMS = 0;
    int64_t m_clippedSamples = 0;
    int64_t m_buffers = 0;  // heard in this run
    std::string m_inputUID;  // the input of the last run
    std::string m_detail;
    quint64 m_generation = 0;  // every start and stop makes a new one
};

}  // namespace sonorel
