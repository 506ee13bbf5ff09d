#pragma once

#include <QCoro/QCoroTask>

namespace sonorel {

// Restarts the audio service the app reads.
class AudioRestarting {
public:
    virtual ~AudioRestarting() = default;

    // Completes once the service was asked to restart and the reset tool
    // reported success; it never touches settings. Throws AudioRepairError
    // (recordingActive, inputActivityUnknown, system).
    virtual QCoro::Task<void> restart() = 0;

protected:
    AudioRestarting() = default;
    AudioRestarting(const AudioRestarting&) = delete;
    AudioRestarting& operator=(const AudioRestarting&) = delete;
};

}  // namespace sonorel
