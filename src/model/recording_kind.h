#pragma once

// What a recording stream is, by the rule the app and the reset tool share
// (the tool includes this header and links nothing of the app).

#include <cstdint>

namespace sonorel {

enum class RecordingKind {
    // A microphone or other input being recorded: a call, a voice memo.
    input,
    // A volume control's level meter: 25 peaks a second, never a recording.
    levelMeter,
    // A recording of what an output plays (a screen recorder, a stream of
    // what you hear): a service restart would cut it, input changes would not.
    outputCapture,
};

// Level meters ask for 1 kHz or less, or for the server's peak detection.
inline constexpr uint32_t levelMeterMaximumRate = 1000;

constexpr RecordingKind recordingKind(uint32_t rate, bool serverDetectsPeaks, bool recordsMonitor)
{
    if (serverDetectsPeaks || (rate > 0 && rate <= levelMeterMaximumRate))
        return RecordingKind::levelMeter;
    return recordsMonitor ? RecordingKind::outputCapture : RecordingKind::input;
}

}  // namespace sonorel
