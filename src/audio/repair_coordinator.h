#pragma once

#include "audio/audio_restarting.h"
#include "audio/audio_system.h"
#include "model/audio_configuration_change.h"
#include "model/preferred_output.h"
#include "model/repair_action.h"

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sonorel {

// The one place that changes the audio configuration for the user: runs a
// repair, verifies every write by reading back, records the changes it caused
// itself, and undoes them only while nobody has changed them since.
// Lives on the Qt main thread; it suspends only in `pause` and the restart.
class RepairCoordinator {
public:
    // The wait between two looks at a change that takes effect slowly; an
    // exception it throws (cancellation) ends the repair.
    using Pause = std::function<QCoro::Task<>()>;

    RepairCoordinator(AudioSystem& audio, AudioRestarting& restarter, Pause pause);

    // Runs one repair and returns the sentence for the user. Throws
    // AudioRepairError, or the error of `pause` or of the restart. Whatever it
    // wrote before returning or failing is recorded in `lastChanges`.
    // `restartUnanswered`: the user agreed to restart a service that does not
    // answer (nothing can record through it then).
    QCoro::Task<std::string> perform(RepairAction action, std::optional<PreferredOutput> preferredOutput,
                                     std::optional<PreferredOutput> lastWorkingOutput, bool restartUnanswered = false);

    // The verified changes of the most recent repair that this coordinator wrote.
    const std::vector<AudioConfigurationChange>& lastChanges() const { return m_lastChanges; }

    // Writes the `before` values back, provided every `after` value is still
    // current; throws AudioRepairError and writes nothing when one is not.
    void undo(const std::vector<AudioConfigurationChange>& changes);

private:
    QCoro::Task<std::string> runProcedure(RepairAction action, AudioSnapshot before,
                                          std::optional<PreferredOutput> preferredOutput,
                                          std::optional<PreferredOutput> lastWorkingOutput, bool restartUnanswered);

    // Writes each setting (guarding input-affecting ones), then verifies each
    // on a fresh reading.
    void apply(const std::vector<AudioSetting>& settings);
    // Selects a default device outside `apply`, still recorded for undo.
    void selectOutput(const std::string& uid);
    void selectInput(const std::string& uid);
    void recordChanges(const AudioSnapshot& before);

    std::string restoreOutput(const AudioSnapshot& before, const std::optional<PreferredOutput>& preferredOutput);
    std::string unmute(const AudioSnapshot& before);
    std::string useBuiltInMic(const AudioSnapshot& before);
    QCoro::Task<std::string> normalizeRate(AudioSnapshot before);
    QCoro::Task<std::string> restartAudio(AudioSnapshot before, bool evenIfNotAnswering);
    std::optional<std::string> recoverAfterRestart(const AudioSnapshot& before);
    std::string restoreInput(const AudioSnapshot& before);
    std::string restoreStereo(const AudioSnapshot& before);
    std::string alignAlerts(const AudioSnapshot& before);
    std::string restoreLastOutput(const AudioSnapshot& before, const std::optional<PreferredOutput>& lastWorkingOutput);
    QCoro::Task<std::string> reselectOutput(AudioSnapshot before);
    QCoro::Task<> switchCardProfile(std::string card, std::string profile);
    QCoro::Task<std::string> turnOnOutput(AudioSnapshot before);
    std::string switchPort(const AudioSnapshot& before, AudioDirection side);
    std::string unmuteApps(const AudioSnapshot& before);
    std::string raiseAppVolume(const AudioSnapshot& before);
    std::string moveAppsToOutput(const AudioSnapshot& before);
    std::string rollBackReselection(const std::vector<AudioConfigurationChange>& temporary,
                                    const AudioDevice& alternate);

    // Checks of a card profile switch (and of the card's output appearing):
    // one at once, then one after each of nine pauses.
    static constexpr int profileChecks = 10;

    AudioSystem& m_audio;
    AudioRestarting& m_restarter;
    Pause m_pause;
    std::vector<AudioConfigurationChange> m_lastChanges;
    std::vector<AudioSetting> m_writtenSettings;
};

// Refuses while input is running or its activity is unknown.
void guardInput(const AudioSnapshot& snapshot);
// Refuses (naming the apps) while something records what an output plays.
void guardOutputCapture(const AudioSnapshot& snapshot);

// Input, rate, card profile and input-side level and port changes can interrupt a recording.
bool isInputAffecting(const AudioSetting& setting);

}  // namespace sonorel
