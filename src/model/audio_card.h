#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonorel {

// What a Bluetooth card's profile means for listening: stereo at 44.1 or
// 48 kHz, mono at 8 or 16 kHz with the headset microphone, or nothing.
enum class CardProfileKind { highFidelity, call, off, other };

// By the names PulseAudio ("a2dp_sink", "headset_head_unit") and PipeWire
// ("a2dp-sink-sbc", "headset-head-unit-msbc") give Bluetooth profiles.
CardProfileKind cardProfileKind(std::string_view profileName);
// "high fidelity", "call", "off", "other".
std::string_view cardProfileKindText(CardProfileKind kind);

// One profile of a sound card, as the server lists it: which outputs
// (sinks) and inputs (sources) the card offers while it is active.
struct CardProfile {
    std::string name;
    std::string description;
    bool isAvailable = true;
    uint32_t priority = 0;
    uint32_t sinks = 0;
    uint32_t sources = 0;
    bool operator==(const CardProfile&) const = default;
};

// A sound card of the server, whether or not it offers any device now (a
// card whose profile is "off" has none).
struct AudioCard {
    std::string name;
    std::string description;
    // How it is attached, as the server says: "pci", "usb", "bluetooth", or empty.
    std::string bus;
    std::string activeProfile;
    std::vector<CardProfile> profiles;

    const CardProfile* profile(std::string_view profileName) const;
    CardProfileKind activeKind() const { return cardProfileKind(activeProfile); }
    // The available high-fidelity profile of highest priority (the first of
    // equals); null when there is none.
    const CardProfile* bestHighFidelityProfile() const;
    bool listsProfileOf(CardProfileKind kind) const;
    // The available profile with an output, of highest priority, other than
    // the active one: what turns the card's sound on. Null when there is none.
    const CardProfile* bestOutputProfile() const;
    // The active profile gives the card an output that can play.
    bool playsOutput() const;
    // Some profile, available or not, has an output.
    bool offersOutput() const;

    bool operator==(const AudioCard&) const = default;
};

// A sound card as the kernel lists it, whatever the sound server makes of it,
// with any process other than a sound server that opened it directly (which
// keeps the server from using that side of it).
struct HardwareCard {
    int number = 0;
    std::string name;
    std::optional<int32_t> playbackOwnerPID;
    std::string playbackOwnerName;
    std::optional<int32_t> captureOwnerPID;
    std::string captureOwnerName;
    bool operator==(const HardwareCard&) const = default;
};

}  // namespace sonorel
