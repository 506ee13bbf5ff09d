#pragma once

#include "model/audio_card.h"
#include "model/audio_direction.h"
#include "model/audio_setting.h"
#include "model/date.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sonorel {

using AudioObjectID = uint32_t;
using ProcessID = int32_t;

template <typename T>
struct ClosedRange {
    T lowerBound{};
    T upperBound{};
    constexpr bool contains(T value) const { return lowerBound <= value && value <= upperBound; }
    bool operator==(const ClosedRange&) const = default;
};

enum class AudioTransport { builtIn, bluetooth, usb, display, virtual_, aggregate, other };

// Stored and shown by label.
inline constexpr EnumTexts<AudioTransport, 7> audioTransportLabels{{
    {AudioTransport::builtIn, "Built-in"},
    {AudioTransport::bluetooth, "Bluetooth"},
    {AudioTransport::usb, "USB"},
    {AudioTransport::display, "Display"},
    {AudioTransport::virtual_, "Virtual"},
    {AudioTransport::aggregate, "Aggregate"},
    {AudioTransport::other, "Audio device"},
}};

constexpr std::string_view label(AudioTransport transport)
{
    return textOf(audioTransportLabels, transport);
}

struct AudioChannelState {
    uint32_t element = 0;
    std::optional<float> volume;
    std::optional<bool> isMuted;
    bool canSetVolume = false;
    bool canSetMute = false;
    bool operator==(const AudioChannelState&) const = default;
};

struct AudioStreamFormat {
    AudioDirection direction = AudioDirection::output;
    double sampleRate = 0;
    uint32_t bitDepth = 0;
    uint32_t channels = 0;
    bool isFloat = false;

    // "2 ch · 48 kHz · 32-bit float"
    std::string label() const;
    bool operator==(const AudioStreamFormat&) const = default;
};

struct AudioClient {
    AudioObjectID id = 0;
    ProcessID pid = 0;
    std::string name;
    std::optional<std::string> bundleID;
    std::vector<AudioObjectID> inputDeviceIDs;
    std::vector<AudioObjectID> outputDeviceIDs;
    bool isRunningInput = false;
    bool isRunningOutput = false;
    bool operator==(const AudioClient&) const = default;
};

struct AudioDevice {
    AudioObjectID id = 0;
    std::string uid;
    std::string name;
    AudioTransport transport = AudioTransport::other;
    int inputChannels = 0;
    int outputChannels = 0;
    bool isAlive = false;
    bool isRunningInput = false;
    std::optional<double> sampleRate;
    std::vector<ClosedRange<double>> availableRates;
    std::vector<double> memberRates;
    std::optional<float> volume;
    std::optional<bool> isMuted;
    bool canSetVolume = false;
    bool canSetMute = false;
    bool canSetRate = false;
    std::vector<AudioChannelState> inputControls;
    std::vector<AudioChannelState> outputControls;
    std::vector<uint32_t> stereoChannels;
    std::optional<float> balance;
    bool canSetBalance = false;
    std::optional<uint32_t> bufferFrames;
    std::optional<ClosedRange<uint32_t>> bufferRange;
    std::optional<uint32_t> latencyFrames;
    std::optional<uint32_t> safetyOffsetFrames;
    std::optional<ProcessID> exclusiveOwnerPID;
    std::vector<AudioStreamFormat> formats;
    std::optional<AudioCard> card;

    // Neither virtual nor aggregate.
    bool isPhysical() const;
    // A Bluetooth device whose card is in a call profile or, with no card
    // known, that runs below 44.1 kHz: muffled mono, microphone in use or not.
    bool isInCallMode() const;
    // The profile that takes a Bluetooth device's card out of call mode: its
    // best available high-fidelity one; absent when not in a call profile.
    std::optional<std::string> highFidelityProfileToRestore() const;
    // 48 kHz when accepted, else 44.1 kHz when accepted.
    std::optional<double> standardRate() const;
    std::optional<float> inputVolume() const;
    std::optional<bool> inputMuted() const;
    std::optional<double> latencyMilliseconds() const;
    // The control list of one side; an output side without per-element
    // controls but with a main volume or mute reads as one element-0 control.
    std::vector<AudioChannelState> controls(AudioDirection direction) const;
    std::string symbolName() const;

    bool operator==(const AudioDevice&) const = default;
};

struct AudioSnapshot {
    std::vector<AudioDevice> devices;
    std::optional<AudioObjectID> outputID;
    std::optional<AudioObjectID> inputID;
    Date capturedAt{};
    std::optional<Date> lastOverload;
    std::optional<std::string> readError;
    bool inputActivityKnown = false;
    bool inputIOActive = false;
    std::optional<AudioObjectID> systemOutputID;
    bool canSetSystemOutput = false;
    std::vector<AudioClient> clients;
    bool clientActivityKnown = false;
    std::vector<Date> overloadDates;

    const AudioDevice* device(std::optional<AudioObjectID> id) const;
    const AudioDevice* outputDevice() const { return device(outputID); }
    const AudioDevice* inputDevice() const { return device(inputID); }
    const AudioDevice* systemOutputDevice() const { return device(systemOutputID); }
    // Alive devices with at least one output channel, in reading order.
    std::vector<const AudioDevice*> outputDevices() const;
    // The first of `outputDevices` with this uid.
    const AudioDevice* connectedOutput(const std::string& uid) const;
    // The first device with this uid, alive or not.
    const AudioDevice* deviceWithUID(const std::string& uid) const;
    // The built-in speakers a Bluetooth output can briefly be switched to
    // while muted: the first other built-in output, provided it has a mute
    // control and every one it has is writable. Null when the output is not
    // Bluetooth or those speakers cannot be muted.
    const AudioDevice* reselectionAlternate() const;
    const AudioDevice* builtInMicrophone() const;
    const AudioDevice* fallbackOutput() const;
    int recentOverloadCount() const;
    bool isInputActive() const;

    // The configuration this reading represents, in a fixed order.
    std::vector<AudioSetting> settings() const;
    // The reading shows `setting` applied (false for a failed reading).
    bool confirms(const AudioSetting& setting) const;

    bool operator==(const AudioSnapshot&) const = default;
};

// Whether headphone reselection can run on this reading (input aside).
inline bool canReselectOutput(const AudioSnapshot& snapshot)
{
    return snapshot.reselectionAlternate() != nullptr;
}

// The one window for "recent" overloads: at least 0 and below 120 seconds old.
bool isRecent(Date date, Date capturedAt);

}  // namespace sonorel
