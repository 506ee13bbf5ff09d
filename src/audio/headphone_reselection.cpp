#include "audio/headphone_reselection.h"

#include "audio/audio_repair_error.h"
#include "audio/repair_coordinator.h"

#include <algorithm>

namespace sonorel {

namespace {

// Step-7 waits for the headphones to become the output again.
constexpr int maximumReturnWaits = 10;

std::string describe(const std::exception& error)
{
    if (const auto* repairError = dynamic_cast<const AudioRepairError*>(&error))
        return repairError->description();
    return error.what();
}

bool isDefaultOutput(const AudioSnapshot& snapshot, const std::string& uid)
{
    const AudioDevice* out = snapshot.outputDevice();
    return out && out->uid == uid;
}

}  // namespace

const AudioDevice* reselectionAlternate(const AudioSnapshot& snapshot)
{
    const AudioDevice* target = snapshot.outputDevice();
    if (!target || target->transport != AudioTransport::bluetooth)
        return nullptr;
    const auto outputs = snapshot.outputDevices();
    auto alternate = std::find_if(outputs.begin(), outputs.end(), [target](const AudioDevice* d) {
        return d->transport == AudioTransport::builtIn && d->uid != target->uid;
    });
    if (alternate == outputs.end())
        return nullptr;
    const auto controls = (*alternate)->controls(AudioDirection::output);
    const bool hasMute = std::any_of(controls.begin(), controls.end(), [](const auto& c) { return c.isMuted; });
    const bool muteWritable =
        std::all_of(controls.begin(), controls.end(), [](const auto& c) { return !c.isMuted || c.canSetMute; });
    return hasMute && muteWritable ? *alternate : nullptr;
}

// Switches away from Bluetooth headphones to the muted built-in speakers and
// back, so the system renegotiates the route without a restart.
QCoro::Task<std::string> RepairCoordinator::reselectOutput(AudioSnapshot before)
{
    guardInput(before);
    const AudioDevice* alternatePointer = reselectionAlternate(before);
    if (!alternatePointer)
        throw AudioRepairError::unsupported();
    const AudioDevice target = *before.outputDevice();
    const AudioDevice alternate = *alternatePointer;

    std::vector<AudioConfigurationChange> temporary;
    std::vector<AudioSetting> mutes;
    for (const auto& control : alternate.controls(AudioDirection::output))
        if (control.isMuted == false)
            mutes.push_back(AudioSetting::Mute{alternate.uid, AudioDirection::output, control.element, true});
    if (!mutes.empty()) {
        apply(mutes);
        for (const auto& muted : mutes) {
            auto unmuted = std::get<AudioSetting::Mute>(muted.value);
            unmuted.value = false;
            temporary.push_back({unmuted, muted});
        }
    }
    const auto muteChanges = temporary;

    try {
        guardInput(m_audio.snapshot());
        // Recorded first: a switch the server accepted but shows only later must
        // still be taken back, or the rollback would unmute speakers about to play.
        temporary.push_back({AudioSetting::Output{target.uid}, AudioSetting::Output{alternate.uid}});
        apply({AudioSetting::Output{alternate.uid}});

        co_await m_pause();
        const AudioSnapshot deselected = m_audio.snapshot();
        guardInput(deselected);
        if (!deselected.connectedOutput(target.uid))
            throw AudioRepairError::deviceGone();

        apply({AudioSetting::Output{target.uid}});
        AudioSnapshot now = m_audio.snapshot();
        guardInput(now);
        for (int waits = 0; !isDefaultOutput(now, target.uid) && waits < maximumReturnWaits; ++waits) {
            co_await m_pause();
            now = m_audio.snapshot();
            guardInput(now);
        }
        // Unmuting while the speakers are still the output would play through them;
        // the check below then fails and the rollback keeps them muted.
        if (isDefaultOutput(now, target.uid) && !muteChanges.empty()) {
            std::vector<AudioSetting> unmutes;
            for (const auto& change : muteChanges)
                unmutes.push_back(change.before);
            apply(unmutes);
        }

        co_await m_pause();
        if (!isDefaultOutput(m_audio.snapshot(), target.uid))
            throw AudioRepairError::recoveryFailed();
    } catch (const std::exception& error) {
        const std::string problems = rollBackReselection(temporary, alternate);
        if (problems.empty())
            throw;
        throw AudioRepairError::system("Reselection stopped: " + describe(error)
                                       + " Some temporary settings could not be restored: " + problems
                                       + " Check Devices before playing audio.");
    }
    co_return target.name
        + " was reselected without restarting the audio service. The alternate speakers stayed muted during the "
          "switch. Listen again to check the result.";
}

// Takes the temporary changes back, last first, but never unmutes the
// speakers while they could play. Returns the problems noted, space-joined.
std::string RepairCoordinator::rollBackReselection(const std::vector<AudioConfigurationChange>& temporary,
                                                   const AudioDevice& alternate)
{
    std::vector<std::string> problems;
    auto note = [&problems](std::string problem) {
        if (std::find(problems.begin(), problems.end(), problem) == problems.end())
            problems.push_back(std::move(problem));
    };
    for (auto change = temporary.rbegin(); change != temporary.rend(); ++change) {
        const bool isMute = std::holds_alternative<AudioSetting::Mute>(change->before.value);
        const AudioSnapshot now = m_audio.snapshot();
        const bool speakersCouldPlay = now.readError || !now.outputDevice() || isDefaultOutput(now, alternate.uid);
        if (isMute && speakersCouldPlay) {
            try {
                apply({change->after});
                note(alternate.name
                                   + " speakers remain muted to prevent unintended playback. Reconnect headphones or "
                                     "use Restore sound when you are ready.");
            } catch (const std::exception& error) {
                note("Could not verify that " + alternate.name
                                   + " remains muted. Check its hardware volume before playing audio: "
                                   + describe(error));
            }
            continue;
        }
        try {
            apply({change->before});
        } catch (const std::exception& error) {
            note(describe(error));
        }
    }
    std::string joined;
    for (const auto& problem : problems)
        joined += (joined.empty() ? "" : " ") + problem;
    return joined;
}

}  // namespace sonorel
