#pragma once

#include "audio/audio_restarting.h"
#include "audio/audio_system.h"
#include "audio/repair_coordinator.h"

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>
#include <QFuture>
#include <QObject>
#include <QPromise>
#include <QThread>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace sonorel {

// What a repair run leaves: the sentence for the user or the failure, and
// the verified changes it made either way (a failed step stays undoable).
struct RepairOutcome {
    std::optional<std::string> message;
    std::exception_ptr failure;
    std::vector<AudioConfigurationChange> changes;
};

// The audio side on a thread of its own, with its own event loop: the audio
// system and the repair coordinator live there, so a server that hangs (a
// reading waits up to 0.8 s, a PipeWire default up to 3 s) never holds the
// window's thread. Every call is awaited on the caller's thread; results come
// back as plain values, errors as the exceptions the audio side threw.
class AudioThread final {
public:
    // What lives on the audio thread; built there by `make`.
    struct Parts {
        std::unique_ptr<AudioSystem> audio;
        std::unique_ptr<AudioRestarting> restarter;
        RepairCoordinator::Pause pause;
    };

    // Where the parts live: on a thread of their own, or (for tests and
    // tools that may wait) on the caller's thread, reached the same way.
    enum class Placement { ownThread, callerThread };

    explicit AudioThread(std::function<Parts()> make, Placement placement = Placement::ownThread);
    // Destroys the parts on their thread once the calls queued before have
    // started; a call still suspended there (a repair's pause) is abandoned,
    // so the owner destroys it only when nothing is awaited.
    ~AudioThread();
    AudioThread(const AudioThread&) = delete;
    AudioThread& operator=(const AudioThread&) = delete;

    QCoro::Task<AudioSnapshot> snapshot();
    QCoro::Task<void> setDefaultOutput(std::string uid);
    QCoro::Task<void> setDefaultInput(std::string uid);
    QCoro::Task<RepairOutcome> perform(RepairAction action, std::optional<PreferredOutput> preferredOutput,
                                       std::optional<PreferredOutput> lastWorkingOutput, bool restartUnanswered = false);
    QCoro::Task<void> undo(std::vector<AudioConfigurationChange> changes);
    // The audio system's reports, delivered on the main thread while `receiver` exists.
    void startMonitoring(QObject* receiver, std::function<void()> onChange, std::function<void(Date)> onOverload);
    void stopMonitoring();

private:
    struct Resident;

    // Runs `work(resident)` on the audio thread; `work` may be a coroutine.
    template <typename Work>
    auto call(Work work) -> QCoro::Task<typename std::invoke_result_t<Work, Resident&>::value_type>;
    // Starts `job` on the audio thread.
    void post(std::function<void(Resident&)> job);

    QThread m_thread;
    QObject* m_context = nullptr;  // lives on m_thread; its deletion ends the thread's work
    std::unique_ptr<Resident> m_resident;
};

// The parts over the user's own sound server, with the installed reset tool
// and a half-second pause between two looks at a slow change.
AudioThread::Parts liveAudioParts();

}  // namespace sonorel
