#pragma once

// The listening tests on the sound server: the tone as a playback stream on
// the default output, the microphone test as a record stream on the default
// input, each over a connection of its own.

#include "listening/microphone_level_tester.h"
#include "listening/test_tone_player.h"
#include "pulse/pulse_stream.h"

namespace sonorel {

class LiveTonePlayback final : public TonePlayback {
public:
    // `server`: a pulse address; empty: the environment's.
    explicit LiveTonePlayback(std::string server = {})
        : m_stream("Sonorel Doctor test tone", std::move(server))
    {
    }
    QCoro::Task<bool> start(std::shared_ptr<const std::vector<uint8_t>> wav,
                            std::function<void(bool played)> ended) override;

private:
    pulse::PulseStream m_stream;
};

// Float fragments of 1024 frames in the input's own rate and channels.
class LiveMicrophoneCapture final : public MicrophoneCapturing {
public:
    explicit LiveMicrophoneCapture(std::string server = {})
        : m_stream("Sonorel Doctor microphone level test", std::move(server))
    {
    }
    QCoro::Task<> start(Handler handler, std::function<void()> endedEarly) override;
    void stop() override { m_stream.stop(); }

private:
    pulse::PulseStream m_stream;
};

// A desktop session has no microphone gate; a sandbox whose server refuses
// the connection counts as denied.
QCoro::Task<bool> liveMicrophonePermission(std::string server = {});

}  // namespace sonorel
