#include "audio/audio_log.h"
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

bool playsHighFidelity(const AudioSnapshot& snapshot, const AudioDevice& device)
{
    const AudioCard* card = snapshot.cardOf(device);
    return card && card->activeKind() == CardProfileKind::highFidelity && device.sampleRate
        && *device.sampleRate >= 44100;
}

}  // namespace

// Switches away from Bluetooth headphones to the muted built-in speakers and
// back, so the system renegotiates the route without a restart.
QCoro::Task<std::string> RepairCoordinator::reselectOutput(AudioSnapshot before)
{
    guardInput(before);
    const AudioDevice* alternatePointer = before.reselectionAlternate();
    if (!alternatePointer)
        throw AudioRepairError::unsupported();
    const AudioDevice target = *before.outputDevice();
    const AudioDevice alternate = *alternatePointer;

    std::vector<AudioConfigurationChange> temporary;
    bool switchedProfile = false;
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
        const AudioDevice* headphones = deselected.connectedOutput(target.uid);
        if (!headphones)
            throw AudioRepairError::deviceGone();

        // Switching away and back never changes a card's profile: a card left
        // in call mode is switched back to high fidelity first.
        const auto highFidelity = deselected.highFidelityProfileToRestore(*headphones);
        if (highFidelity) {
            const AudioCard& card = *deselected.cardOf(*headphones);
            temporary.push_back(
                {AudioSetting::Profile{card.name, card.activeProfile}, AudioSetting::Profile{card.name, *highFidelity}});
            switchedProfile = true;
            co_await switchCardProfile(card.name, *highFidelity);
        }
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
        const AudioSnapshot last = m_audio.snapshot();
        if (!isDefaultOutput(last, target.uid) || (switchedProfile && !playsHighFidelity(last, *last.outputDevice())))
            throw AudioRepairError::recoveryFailed();
    } catch (const std::exception& error) {
        const std::string problems = rollBackReselection(temporary, alternate);
        if (problems.empty())
            throw;
        throw AudioRepairError::system("Reselection stopped: " + describe(error)
                                       + " Some temporary settings could not be restored: " + problems
                                       + " Check Devices before playing audio.");
    }
    if (switchedProfile)
        co_return target.name
            + " switched back to high-fidelity playback. The built-in speakers stayed muted during the switch. Listen "
              "again to check the result.";
    co_return target.name
        + " was reselected without restarting the audio service. The alternate speakers stayed muted during the "
          "switch. Listen again to check the result.";
}

// The write takes the headset microphone from whoever uses it, so input is
// guarded; it is recorded for undo and waited for (bounded) like a rate change.
QCoro::Task<> RepairCoordinator::switchCardProfile(std::string card, std::string profile)
{
    guardInput(m_audio.snapshot());
    try {
        m_audio.setCardProfile(card, profile);
    } catch (const AudioRepairError& error) {
        if (error == AudioRepairError::deviceGone())
            throw;
        // A refused switch leaves the card in call mode: the repair did not
        // take effect. The server's reason goes to the journal.
        qCWarning(audioLog) << "The card profile switch was refused:" << error.description().c_str();
        throw AudioRepairError::recoveryFailed();
    }
    const AudioSetting written = AudioSetting::Profile{card, profile};
    m_writtenSettings.push_back(written);
    for (int check = 1;; ++check) {
        const AudioSnapshot now = m_audio.snapshot();
        guardInput(now);
        if (now.confirms(written))
            co_return;
        if (check == profileChecks)
            throw AudioRepairError::recoveryFailed();
        co_await m_pause();
    }
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
        // A card switch that was refused or never showed has nothing to take
        // back; writing it again would only meet the input guard.
        if (std::holds_alternative<AudioSetting::Profile>(change->before.value) && now.confirms(change->before))
            continue;
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
