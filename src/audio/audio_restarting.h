#pragma once

#include <QCoro/QCoroTask>

namespace sonorel {

// Restarts the audio service the app reads.
class AudioRestarting {
public:
    virtual ~AudioRestarting() = default;

    // Completes once the service was asked to restart and the reset tool
    // reported success; it never touches settings. Throws AudioRepairError
    // (recordingActive, inputActivityUnknown, serverNotAnswering, system).
    // `evenIfNotAnswering` is the user's consent to restart a server that
    // does not answer, where no recording can be checked.
    virtual QCoro::Task<void> restart(bool evenIfNotAnswering = false) = 0;

protected:
    AudioRestarting() = default;
    AudioRestarting(const AudioRestarting&) = delete;
    AudioRestarting& operator=(const AudioRestarting&) = delete;
};

}  // namespace sonorel
