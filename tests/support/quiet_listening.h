#pragma once

#include "listening/microphone_level_tester.h"
#include "listening/test_tone_player.h"

namespace sonorel::testing {

// A tone that starts at once, a microphone that hears nothing.
struct InstantPlayback final : TonePlayback {
    QCoro::Task<bool> start(std::shared_ptr<const std::vector<uint8_t>>, std::function<void(bool)>) override
    {
        co_return true;
    }
};
struct SilentCapture final : MicrophoneCapturing {
    QCoro::Task<> start(Handler, std::function<void()>) override { co_return; }
    void stop() override {}
};

}  // namespace sonorel::testing
