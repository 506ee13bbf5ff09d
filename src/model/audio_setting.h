#pragma once

#include "model/audio_direction.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
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
    // The active profile of a card, named by the card's name.
    struct Profile {
        std::string card;
        std::string value;
        bool operator==(const Profile&) const = default;
    };
    // The active port of a device (its side says whether it is an input).
    struct Port {
        std::string uid;
        AudioDirection direction = AudioDirection::output;
        std::string value;
        bool operator==(const Port&) const = default;
    };
    // One app stream's own volume, mute and output, named by the stream's
    // number and its app: a number another app reuses is another stream.
    struct AppVolume {
        uint32_t stream = 0;
        std::string app;
        float value = 1;
        bool operator==(const AppVolume&) const = default;
    };
    struct AppMute {
        uint32_t stream = 0;
        std::string app;
        bool value = false;
        bool operator==(const AppMute&) const = default;
    };
    struct AppOutput {
        uint32_t stream = 0;
        std::string app;
        std::string uid;
        bool operator==(const AppOutput&) const = default;
    };

    using Value =
        std::variant<Output, Input, Alerts, Volume, Mute, Balance, Rate, Profile, Port, AppVolume, AppMute, AppOutput>;

    template <typename Case>
        requires std::is_constructible_v<Value, Case>
    AudioSetting(Case setting) : value(std::move(setting))
    {
    }

    Value value;

    // The device the setting names or moves to; the card of a profile;
    // empty for an app's volume or mute.
    const std::string& uid() const;
    // The app stream it is about, for the app cases.
    std::optional<std::pair<uint32_t, std::string>> appStream() const;

    // Both address the same thing: the one default output, input or alert
    // output by case alone; volume and mute per device, side and element;
    // balance, rate and port per device; a profile per card; app settings per
    // stream and app.
    bool isSameTarget(const AudioSetting& other) const;

    // Same target with a value close enough to count as applied.
    bool matches(const AudioSetting& other) const;

    bool operator==(const AudioSetting&) const = default;
};

}  // namespace sonorel
