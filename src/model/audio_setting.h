#pragma once

#include "model/audio_direction.h"

#include <cstdint>
#include <string>
#include <variant>

namespace sonorel {

// A volume at or below this counts as silent everywhere.
inline constexpr float silenceThreshold = 0.001f;

// One writable piece of the audio configuration with the value it should have.
struct AudioSetting {
    struct Output {
        std::string uid;
        bool operator==(const Output&) const = default;
    };
    struct Input {
        std::string uid;
        bool operator==(const Input&) const = default;
    };
    struct Alerts {
        std::string uid;
        bool operator==(const Alerts&) const = default;
    };
    struct Volume {
        std::string uid;
        AudioDirection direction = AudioDirection::output;
        uint32_t element = 0;
        float value = 0;
        bool operator==(const Volume&) const = default;
    };
    struct Mute {
        std::string uid;
        AudioDirection direction = AudioDirection::output;
        uint32_t element = 0;
        bool value = false;
        bool operator==(const Mute&) const = default;
    };
    struct Balance {
        std::string uid;
        float value = 0.5f;
        bool operator==(const Balance&) const = default;
    };
    struct Rate {
        std::string uid;
        double value = 0;
        bool operator==(const Rate&) const = default;
    };
    // The active profile of the card the device belongs to.
    struct Profile {
        std::string uid;
        std::string value;
        bool operator==(const Profile&) const = default;
    };

    using Value = std::variant<Output, Input, Alerts, Volume, Mute, Balance, Rate, Profile>;

    template <typename Case>
        requires std::is_constructible_v<Value, Case>
    AudioSetting(Case setting) : value(std::move(setting))
    {
    }

    Value value;

    // The device the setting names.
    const std::string& uid() const;

    // Both address the same thing: the one default output, input or alert
    // output by case alone; volume and mute per device, side and element;
    // balance, rate and profile per device.
    bool isSameTarget(const AudioSetting& other) const;

    // Same target with a value close enough to count as applied.
    bool matches(const AudioSetting& other) const;

    bool operator==(const AudioSetting&) const = default;
};

}  // namespace sonorel
