#pragma once

// The audio side of the app over a rig's live server, on its own thread.

#include "pulse/pulse_audio_system.h"
#include "store/audio_thread.h"
#include "support/audio_rig.h"
#include "support/scripted_audio_system.h"

#include <QCoro/QCoroTimer>

#include <memory>

namespace sonorel::testing {

inline std::unique_ptr<AudioThread> liveAudioThread(const AudioRig& rig)
{
    return std::make_unique<AudioThread>([address = rig.address()] {
        return AudioThread::Parts{std::make_unique<PulseAudioSystem>(PulseAudioOptions{address}),
                                  std::make_unique<ScriptedRestarter>(),
                                  [] { return QCoro::sleepFor(std::chrono::milliseconds(500)); }};
    });
}

}  // namespace sonorel::testing
