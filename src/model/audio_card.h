#pragma once

#include <cstdint>
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

// One profile of a sound card, as the server lists it.
struct CardProfile {
    std::string name;
    std::string description;
    bool isAvailable = true;
    uint32_t priority = 0;
    bool operator==(const CardProfile&) const = default;
};

// The card a device belongs to: the profile it runs and those it offers.
struct AudioCard {
    std::string name;
    std::string activeProfile;
    std::vector<CardProfile> profiles;

    CardProfileKind activeKind() const { return cardProfileKind(activeProfile); }
    // The available high-fidelity profile of highest priority (the first of
    // equals); null when there is none.
    const CardProfile* bestHighFidelityProfile() const;

    bool operator==(const AudioCard&) const = default;
};

}  // namespace sonorel
