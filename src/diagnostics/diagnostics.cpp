#include "diagnostics/diagnostics.h"

#include "model/text_format.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

namespace sonorel::Diagnostics {

namespace {

bool isSilent(std::optional<float> volume)
{
    return volume && *volume <= silenceThreshold;
}

// A control that reads muted or at zero level.
bool isSilent(const AudioChannelState& control)
{
    return control.isMuted.value_or(false) || isSilent(control.volume);
}

// Restoring a silent control needs the mute writable when muted and the
// volume writable when at zero.
bool isRestorable(const AudioChannelState& control)
{
    const bool muteOk = !control.isMuted.value_or(false) || control.canSetMute;
    const bool volumeOk = !isSilent(control.volume) || control.canSetVolume;
    return muteOk && volumeOk;
}

bool allRestorable(const std::vector<AudioChannelState>& controls)
{
    return std::all_of(controls.begin(), controls.end(), [](const auto& c) { return isRestorable(c); });
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator)
{
    std::string result;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            result += separator;
        result += parts[i];
    }
    return result;
}

DiagnosticCheck row(CheckKind kind, CheckState state, std::string detail,
                    std::optional<RepairAction> action = std::nullopt)
{
    return DiagnosticCheck{kind, state, std::move(detail), action};
}

std::optional<RepairAction> offer(bool condition, RepairAction action)
{
    return condition ? std::optional(action) : std::nullopt;
}

}  // namespace

namespace {

// The first kernel card whose playback (or capture) another process holds.
const HardwareCard* heldHardware(const AudioSnapshot& snapshot, AudioDirection side)
{
    for (const auto& card : snapshot.hardwareCards)
        if (side == AudioDirection::output ? card.playbackOwnerPID.has_value() : card.captureOwnerPID.has_value())
            return &card;
    return nullptr;
}

std::string holderText(const std::string& owner, ProcessID pid)
{
    return owner + " (process " + std::to_string(pid) + ")";
}

// Why no real output plays, and what to do: `lead` says what the user hears;
// `otherwise` is the whole detail when no cause is known.
DiagnosticCheck noOutputCheck(const AudioSnapshot& snapshot, const std::string& lead, std::string otherwise)
{
    if (const auto turnOn = snapshot.cardOutputToTurnOn())
        return row(CheckKind::output, CheckState::issue,
                   lead + " " + turnOn->card->description
                       + (turnOn->card->activeProfile == "off" ? " is turned off." : " has no output that can play now.")
                       + " Turn its output on.",
                   RepairAction::turnOnOutput);
    if (const HardwareCard* held = heldHardware(snapshot, AudioDirection::output))
        return row(CheckKind::output, CheckState::issue,
                   lead + " " + held->name + " is held by " + holderText(held->playbackOwnerName, *held->playbackOwnerPID)
                       + ", which uses it directly. Close that app, then check again.");
    // A card whose outputs are all unavailable: an HDMI card with no display that plays sound.
    for (const auto& card : snapshot.cards)
        if (card.bus != "bluetooth" && card.offersOutput() && !card.playsOutput())
            return row(CheckKind::output, CheckState::issue,
                       lead + " " + card.description
                           + " has no output that can play now. Connect headphones, a display, or speakers.");
    if (snapshot.hardwareCards.empty() && snapshot.cards.empty())
        return row(CheckKind::output, CheckState::issue,
                   lead + " The system sees no sound card, so its driver or firmware may be missing. The diagnostic "
                          "report lists what the system found.");
    return row(CheckKind::output, CheckState::issue, std::move(otherwise));
}

// The output that Restore output would choose: the preferred one when it is
// connected, otherwise the fallback; null when it would fail.
const AudioDevice* restoreTarget(const AudioSnapshot& snapshot, const std::optional<PreferredOutput>& preferred)
{
    return preferred ? snapshot.connectedOutput(preferred->uid) : snapshot.fallbackOutput();
}

// The active connector of the output is unplugged: another connector of it,
// another output, or another profile of its card plays instead.
DiagnosticCheck unpluggedOutputCheck(const AudioSnapshot& snapshot, const AudioDevice& out,
                                     const std::optional<PreferredOutput>& preferred)
{
    const std::string lead =
        out.name + " plays to " + out.port(out.activePort)->description + ", which is not plugged in.";
    if (const AudioPort* other = out.portToSwitchTo())
        return row(CheckKind::output, CheckState::issue, lead + " Switch to " + other->description + ".",
                   RepairAction::switchOutputPort);
    const AudioDevice* target = restoreTarget(snapshot, preferred);
    if (target && target->uid != out.uid && !target->isActivePortUnavailable())
        return row(CheckKind::output, CheckState::issue, lead + " Switch to " + target->name + ".",
                   RepairAction::restoreOutput);
    if (const auto turnOn = snapshot.cardOutputToTurnOn())
        return row(CheckKind::output, CheckState::issue,
                   lead + " Switch " + turnOn->card->description + " to " + turnOn->profile->description + ".",
                   RepairAction::turnOnOutput);
    return row(CheckKind::output, CheckState::issue,
               lead + " Plug it in, or connect other headphones or speakers.");
}

}  // namespace

DiagnosticCheck outputCheck(const AudioSnapshot& snapshot, const std::optional<PreferredOutput>& preferred)
{
    const auto* out = snapshot.outputDevice();
    const bool usable = out && out->isAlive && out->outputChannels > 0;
    if (usable && out->isPlaceholder) {
        if (const auto* fallback = snapshot.fallbackOutput())
            return row(CheckKind::output, CheckState::issue,
                       "Sound plays to " + out->name + ", which plays to nothing. Switch to " + fallback->name + ".",
                       RepairAction::restoreOutput);
        const std::string lead =
            "No working sound device is available, so sound plays to " + out->name + ", which plays to nothing.";
        return noOutputCheck(snapshot, lead, lead + " Connect headphones, a display, or speakers.");
    }
    if (!usable) {
        if (const auto* fallback = snapshot.fallbackOutput())
            return row(CheckKind::output, CheckState::issue,
                       "No working output is selected. Switch to " + fallback->name + ".", RepairAction::restoreOutput);
        return noOutputCheck(snapshot, "No working sound device is available.",
                             "No output is connected. Connect headphones, a display, or speakers.");
    }
    if (out->isActivePortUnavailable())
        return unpluggedOutputCheck(snapshot, *out, preferred);
    if (preferred && preferred->uid != out->uid) {
        if (snapshot.connectedOutput(preferred->uid))
            return row(CheckKind::output, CheckState::note,
                       "Sound is playing through " + out->name + ". Your preferred output, " + preferred->name
                           + ", is also connected.",
                       RepairAction::restoreOutput);
        return row(CheckKind::output, CheckState::note,
                   preferred->name + " is not connected. Sound is playing through " + out->name + ".",
                   offer(preferred->isBluetooth, RepairAction::openBluetooth));
    }
    if (out->isPhysical())
        return row(CheckKind::output, CheckState::passed, out->name + " is connected and selected.");
    return row(CheckKind::output, CheckState::note,
               out->name + " is a virtual output. You hear it only while the app that owns it is passing sound along.");
}

DiagnosticCheck volumeCheck(const AudioSnapshot& snapshot)
{
    const auto* out = snapshot.outputDevice();
    if (!out)
        return row(CheckKind::volume, CheckState::unknown, "Select an output to check its volume.");
    if (out->isMuted == true) {
        // Unmuting alone would stay silent when the volume is at zero and cannot be raised.
        const bool stuckAtZero = isSilent(out->volume) && !out->canSetVolume;
        return row(CheckKind::volume, CheckState::note,
                   "Your computer is muted. Turn sound back on when you want to hear it.",
                   offer(out->canSetMute && !stuckAtZero, RepairAction::unmute));
    }
    if (!out->volume && out->isMuted == false)
        return row(CheckKind::volume, CheckState::passed, "The output is not muted. Volume is managed by the device.");
    if (!out->volume)
        return row(CheckKind::volume, CheckState::unknown,
                   "This output manages volume externally. Check the speaker or destination app.");
    if (*out->volume > silenceThreshold) {
        return row(CheckKind::volume, CheckState::passed,
                   "Output volume is " + std::to_string(wholePercent(*out->volume)) + "%.");
    }
    return row(CheckKind::volume, CheckState::note, "Volume is at zero. Turn it up when you want to hear sound.",
               offer(out->canSetVolume, RepairAction::unmute));
}

DiagnosticCheck bluetoothCheck(const AudioSnapshot& snapshot)
{
    const auto* out = snapshot.outputDevice();
    if (!out)
        return row(CheckKind::bluetooth, CheckState::unknown, "No output is selected.");
    if (out->transport != AudioTransport::bluetooth)
        return row(CheckKind::bluetooth, CheckState::passed,
                   "Your current output uses " + lowercased(label(out->transport)) + " audio.");

    // A headset shows up as separate input and output devices sharing its name
    // (and, where the server says so, its card).
    auto isHeadsetPart = [out](const AudioDevice& d) {
        const bool sameCard = d.cardName && d.cardName == out->cardName;
        return d.transport == AudioTransport::bluetooth && (d.uid == out->uid || d.name == out->name || sameCard);
    };
    std::set<AudioObjectID> headsetIDs;
    for (const auto& d : snapshot.devices)
        if (isHeadsetPart(d))
            headsetIDs.insert(d.id);
    std::vector<std::string> users;
    for (const auto& client : snapshot.clients)
        if (std::any_of(client.inputDeviceIDs.begin(), client.inputDeviceIDs.end(),
                        [&](AudioObjectID id) { return headsetIDs.count(id) > 0; }))
            users.push_back(client.name);

    const auto* in = snapshot.inputDevice();
    const bool microphoneEngaged = (in && isHeadsetPart(*in)) || !users.empty();
    const std::string usersSuffix =
        users.empty() ? ""
                      : " Input users: " + joined(users, ", ") + ". Finish input use before changing the route.";
    // A card in a call profile may report no rate below 44.1 kHz (PipeWire's
    // graph can run it at a forced rate): the rate is shown only when it tells.
    const bool lowRate = out->sampleRate && *out->sampleRate < 44100;
    const std::string callModeText =
        "The headset is in low-bandwidth call mode" + (lowRate ? " (" + kilohertzText(*out->sampleRate) + ")" : "") + ".";

    // No switch restores what the system cannot play: a headset whose
    // high-fidelity mode is missing, or listed but not available now.
    const AudioCard* card = snapshot.cardOf(*out);
    const bool callMode = snapshot.isInCallMode(*out);
    if (callMode && card && !card->listsProfileOf(CardProfileKind::highFidelity))
        return row(CheckKind::bluetooth, CheckState::issue,
                   callModeText + " The system offers this headset no high-fidelity mode: its Bluetooth audio support "
                                  "lacks it."
                       + usersSuffix);
    if (callMode && card && !card->bestHighFidelityProfile())
        return row(CheckKind::bluetooth, CheckState::issue,
                   callModeText + " High-fidelity playback is not available right now. Reconnect the headset in "
                                  "Bluetooth settings."
                       + usersSuffix,
                   RepairAction::openBluetooth);
    if (!microphoneEngaged && callMode)
        return row(CheckKind::bluetooth, CheckState::issue,
                   callModeText + " Switching it back to high-fidelity playback restores listening quality.",
                   offer(snapshot.highFidelityProfileToRestore(*out) && canReselectOutput(snapshot),
                         RepairAction::reselectOutput));
    if (!microphoneEngaged)
        return row(CheckKind::bluetooth, CheckState::passed,
                   "Bluetooth output is connected. The headset microphone is not selected.");
    if (callMode)
        return row(CheckKind::bluetooth, CheckState::issue,
                   callModeText + " Using the built-in microphone can restore listening quality." + usersSuffix,
                   offer(snapshot.builtInMicrophone() != nullptr, RepairAction::useBuiltInMic));
    return row(CheckKind::bluetooth, CheckState::note,
               "The headset microphone is selected or in use. If music sounds muffled, choose the built-in "
               "microphone in Devices."
                   + usersSuffix);
}

DiagnosticCheck sampleRateCheck(const AudioSnapshot& snapshot)
{
    const auto* out = snapshot.outputDevice();
    if (!out || !out->sampleRate || !(*out->sampleRate > 0))
        return row(CheckKind::sampleRate, CheckState::unknown, "The device did not report a sample rate.");
    const double rate = *out->sampleRate;
    const std::set<double> memberRates(out->memberRates.begin(), out->memberRates.end());
    if (out->transport == AudioTransport::aggregate && memberRates.size() >= 2)
        return row(CheckKind::sampleRate, CheckState::warning,
                   "Aggregate subdevices have different rates. Open Volume Control to align their format and check "
                   "drift correction.");
    // A Bluetooth output in call mode is the Bluetooth row's business.
    if (rate < 44100 && out->transport != AudioTransport::bluetooth)
        return row(CheckKind::sampleRate, CheckState::warning,
                   kilohertzText(rate)
                       + " limits playback bandwidth. A supported 44.1 or 48 kHz format is preferable for music.",
                   offer(out->canSetRate && out->standardRate() && out->isPhysical(), RepairAction::normalizeRate));
    return row(CheckKind::sampleRate, CheckState::passed,
               kilohertzText(rate) + " is valid for this output. Independent input and output rates may differ.");
}

DiagnosticCheck playbackCheck(const AudioSnapshot& snapshot)
{
    const auto* out = snapshot.outputDevice();
    const std::string bufferNote =
        out && out->bufferFrames
            ? " Reported I/O buffer: " + std::to_string(*out->bufferFrames)
                  + " frames. In an audio app, a larger supported buffer can reduce underruns at the cost of latency."
            : "";
    const int count = snapshot.recentOverloadCount();
    const bool lastIsRecent = snapshot.lastOverload && isRecent(*snapshot.lastOverload, snapshot.capturedAt);
    if (count >= 1 || lastIsRecent)
        return row(CheckKind::playback, CheckState::issue,
                   "The audio service reported " + std::to_string(std::max(count, 1))
                       + " missed playback deadlines in the last two minutes. These can cause clicks or crackles."
                       + bufferNote,
                   RepairAction::restartAudio);
    return row(CheckKind::playback, CheckState::passed,
               "No recent overload was reported. Listening remains the final check." + bufferNote);
}

namespace {

// A Bluetooth headset plays, but its card has no call profile: the system
// offers no microphone of it, whatever the user looks for.
std::string headsetMicrophoneNote(const AudioSnapshot& snapshot)
{
    const AudioDevice* out = snapshot.outputDevice();
    const AudioCard* card = out ? snapshot.cardOf(*out) : nullptr;
    if (!out || out->transport != AudioTransport::bluetooth || !card || card->listsProfileOf(CardProfileKind::call))
        return {};
    return " The system offers no microphone of " + out->name + ": use the built-in microphone.";
}

DiagnosticCheck microphoneRow(const AudioSnapshot& snapshot)
{
    const auto* in = snapshot.inputDevice();
    if (!in || !in->isAlive)
        return row(CheckKind::microphone, CheckState::unknown,
                   "No working microphone is selected. Choose an input in Devices.");
    if (in->isActivePortUnavailable()) {
        const std::string lead =
            in->name + " listens to " + in->port(in->activePort)->description + ", which is not plugged in.";
        if (const AudioPort* other = in->portToSwitchTo())
            return row(CheckKind::microphone, CheckState::issue, lead + " Switch to " + other->description + ".",
                       RepairAction::switchInputPort);
        return row(CheckKind::microphone, CheckState::issue,
                   lead + " Plug it in, or choose another microphone in Devices.");
    }
    std::vector<AudioChannelState> silent;
    std::copy_if(in->inputControls.begin(), in->inputControls.end(), std::back_inserter(silent),
                 [](const AudioChannelState& c) { return isSilent(c); });
    if (silent.empty() && !in->inputVolume() && !in->inputMuted())
        return row(CheckKind::microphone, CheckState::unknown,
                   "This microphone does not expose level or mute controls. Troubleshoot can test for a signal with "
                   "your permission.");
    if (silent.empty())
        return row(CheckKind::microphone, CheckState::passed,
                   in->name
                       + " has no reported muted or zero-level controls. This does not verify app permission or an "
                         "audible signal.");
    return row(CheckKind::microphone, CheckState::issue,
               in->name
                   + " has muted or zero-level input controls. Restore them explicitly, then test your voice. App "
                     "permissions are checked separately in Privacy settings.",
               offer(allRestorable(silent), RepairAction::restoreInput));
}

}  // namespace

DiagnosticCheck microphoneCheck(const AudioSnapshot& snapshot)
{
    DiagnosticCheck check = microphoneRow(snapshot);
    check.detail += headsetMicrophoneNote(snapshot);
    return check;
}

DiagnosticCheck stereoCheck(const AudioSnapshot& snapshot)
{
    const auto* out = snapshot.outputDevice();
    if (!out || out->outputChannels < 2)
        return row(CheckKind::stereo, CheckState::unknown, "A stereo output is needed to compare left and right.");

    const std::vector<uint32_t> pair =
        out->stereoChannels.size() == 2 ? out->stereoChannels : std::vector<uint32_t>{1, 2};
    auto inPair = [&pair](const AudioChannelState& c) {
        return std::find(pair.begin(), pair.end(), c.element) != pair.end();
    };
    std::vector<AudioChannelState> silent;
    std::copy_if(out->outputControls.begin(), out->outputControls.end(), std::back_inserter(silent),
                 [&](const AudioChannelState& c) { return inPair(c) && isSilent(c); });
    const bool offCentre = out->balance && std::abs(*out->balance - 0.5f) > 0.01f;
    const bool restorable = allRestorable(silent);
    const std::string tail =
        " This can be intentional. If one side is unexpectedly silent, restore stereo and play the left/right test.";

    if (offCentre && out->canSetBalance)
        return row(CheckKind::stereo, silent.empty() ? CheckState::note : CheckState::warning,
                   "Balance is off center." + tail, offer(restorable, RepairAction::restoreStereo));
    if (offCentre)
        return row(CheckKind::stereo, silent.empty() ? CheckState::note : CheckState::warning,
                   "Balance is off center." + tail);
    if (!silent.empty())
        return row(CheckKind::stereo, CheckState::warning, "A stereo channel is muted or at zero." + tail,
                   offer(restorable, RepairAction::restoreStereo));
    const bool pairReportsControls = std::any_of(out->outputControls.begin(), out->outputControls.end(),
                                                 [&](const AudioChannelState& c) {
                                                     return inPair(c) && (c.volume || c.isMuted);
                                                 });
    if (out->balance || pairReportsControls)
        return row(CheckKind::stereo, CheckState::passed,
                   "No reported stereo channel fault. Intentional channel levels are preserved.");
    return row(CheckKind::stereo, CheckState::unknown,
               "This output does not expose separate stereo controls. Use the left/right test to compare what you "
               "hear.");
}

DiagnosticCheck alertsCheck(const AudioSnapshot& snapshot)
{
    const auto* alerts = snapshot.systemOutputDevice();
    if (!alerts || !alerts->isAlive)
        return row(CheckKind::alerts, CheckState::unknown,
                   "The alert output could not be read. Check the alert sound in Sound settings.");
    const auto* out = snapshot.outputDevice();
    if (out && out->uid == alerts->uid)
        return row(CheckKind::alerts, CheckState::passed,
                   "Alerts and media use " + alerts->name
                       + ". Check Do Not Disturb, alert volume, and the app's notification settings if alerts are "
                         "silent.");
    return row(CheckKind::alerts, CheckState::note,
               "Alerts use " + alerts->name + ", while media uses " + (out ? out->name : "no output")
                   + ". This may be intentional. Missing alerts also depend on Do Not Disturb, alert volume, and each "
                     "app's notification settings.",
               offer(out && snapshot.canSetSystemOutput, RepairAction::alignAlerts));
}

namespace {

std::string ownerName(const AudioSnapshot& snapshot, ProcessID pid)
{
    auto client = std::find_if(snapshot.clients.begin(), snapshot.clients.end(),
                               [pid](const AudioClient& c) { return c.pid == pid; });
    return client != snapshot.clients.end() ? client->name : "Process " + std::to_string(pid);
}

// Who holds the microphone hardware directly (a radio or voice program that
// opened it): then no other app hears anything from it.
std::optional<std::string> heldInputText(const AudioSnapshot& snapshot)
{
    const auto* in = snapshot.inputDevice();
    if (in && in->exclusiveOwnerPID && *in->exclusiveOwnerPID > 0)
        return ownerName(snapshot, *in->exclusiveOwnerPID) + " holds " + in->name
               + " directly, so other apps hear nothing from it.";
    // Without a working input, the server may have no device for held hardware at all.
    const HardwareCard* held = in && in->isAlive ? nullptr : heldHardware(snapshot, AudioDirection::input);
    if (held)
        return holderText(held->captureOwnerName, *held->captureOwnerPID) + " holds the microphone of " + held->name
               + " directly, so other apps hear nothing from it.";
    return std::nullopt;
}

}  // namespace

DiagnosticCheck deviceAccessCheck(const AudioSnapshot& snapshot)
{
    const auto* out = snapshot.outputDevice();
    std::optional<std::string> outputText;
    CheckState outputState = CheckState::unknown;
    if (out && out->exclusiveOwnerPID && *out->exclusiveOwnerPID < 0) {
        outputState = CheckState::passed;
        outputText = "No exclusive owner was reported for " + out->name
                     + ". An app can still use its own route or mute settings.";
    } else if (out && out->exclusiveOwnerPID) {
        outputState = CheckState::note;
        outputText = ownerName(snapshot, *out->exclusiveOwnerPID) + " owns exclusive access to " + out->name
                     + ". This may be intentional for recording or high-resolution playback. Release exclusive mode "
                       "in that app before testing another app.";
    }
    if (const auto held = heldInputText(snapshot))
        return row(CheckKind::deviceAccess, CheckState::issue,
                   *held + " Close that app or release the device in it, then check again."
                       + (outputState == CheckState::note ? " " + *outputText : ""));
    if (!outputText)
        return row(CheckKind::deviceAccess, CheckState::unknown,
                   "The driver does not report exclusive-access ownership. Audio users are listed in Troubleshoot "
                   "when available.");
    return row(CheckKind::deviceAccess, outputState, *outputText);
}

std::vector<DiagnosticCheck> checks(const AudioSnapshot& snapshot, const std::optional<PreferredOutput>& preferredOutput)
{
    if (snapshot.readError) {
        std::vector<DiagnosticCheck> unavailable;
        for (CheckKind kind : allCheckKinds)
            unavailable.push_back(row(kind, CheckState::unknown, *snapshot.readError));
        return unavailable;
    }
    return {
        outputCheck(snapshot, preferredOutput),
        volumeCheck(snapshot),
        bluetoothCheck(snapshot),
        sampleRateCheck(snapshot),
        playbackCheck(snapshot),
        microphoneCheck(snapshot),
        stereoCheck(snapshot),
        alertsCheck(snapshot),
        deviceAccessCheck(snapshot),
    };
}

}  // namespace sonorel::Diagnostics
