#include "model/audio_setting.h"

#include <cmath>

namespace sonorel {

namespace {

// Volumes are float32: 0.255f lies just below 0.255, so without this slack a
// difference of exactly half a percent would count as applied.
constexpr double floatSlack = 1e-6;
constexpr double volumeTolerance = 0.005 - floatSlack;
constexpr double rateTolerance = 1.0;

const std::string noDevice;

bool closeEnough(float a, float b)
{
    return std::abs(double(a) - double(b)) < volumeTolerance;
}

}  // namespace

const std::string& AudioSetting::uid() const
{
    return std::visit(
        [](const auto& setting) -> const std::string& {
            using Case = std::decay_t<decltype(setting)>;
            if constexpr (std::is_same_v<Case, Profile>)
                return setting.card;
            else if constexpr (std::is_same_v<Case, AppVolume> || std::is_same_v<Case, AppMute>)
                return noDevice;
            else
                return setting.uid;
        },
        value);
}

std::optional<std::pair<uint32_t, std::string>> AudioSetting::appStream() const
{
    return std::visit(
        [](const auto& setting) -> std::optional<std::pair<uint32_t, std::string>> {
            using Case = std::decay_t<decltype(setting)>;
            if constexpr (std::is_same_v<Case, AppVolume> || std::is_same_v<Case, AppMute>
                          || std::is_same_v<Case, AppOutput>)
                return std::pair(setting.stream, setting.app);
            else
                return std::nullopt;
        },
        value);
}

bool AudioSetting::isSameTarget(const AudioSetting& other) const
{
    if (value.index() != other.value.index())
        return false;
    return std::visit(
        [&other](const auto& setting) {
            using Case = std::decay_t<decltype(setting)>;
            const auto& theirs = std::get<Case>(other.value);
            if constexpr (std::is_same_v<Case, Volume> || std::is_same_v<Case, Mute>)
                return setting.uid == theirs.uid && setting.direction == theirs.direction
                    && setting.element == theirs.element;
            else if constexpr (std::is_same_v<Case, Balance> || std::is_same_v<Case, Rate>
                               || std::is_same_v<Case, Port>)
                return setting.uid == theirs.uid;
            else if constexpr (std::is_same_v<Case, Profile>)
                return setting.card == theirs.card;
            else if constexpr (std::is_same_v<Case, AppVolume> || std::is_same_v<Case, AppMute>
                               || std::is_same_v<Case, AppOutput>)
                return setting.stream == theirs.stream && setting.app == theirs.app;
            else
                return true;
        },
        value);
}

bool AudioSetting::matches(const AudioSetting& other) const
{
    if (!isSameTarget(other))
        return false;
    return std::visit(
        [&other](const auto& setting) {
            using Case = std::decay_t<decltype(setting)>;
            const auto& theirs = std::get<Case>(other.value);
            if constexpr (std::is_same_v<Case, Volume> || std::is_same_v<Case, Balance>
                          || std::is_same_v<Case, AppVolume>)
                return closeEnough(setting.value, theirs.value);
            else if constexpr (std::is_same_v<Case, Rate>)
                return std::abs(setting.value - theirs.value) < rateTolerance;
            else if constexpr (std::is_same_v<Case, Mute> || std::is_same_v<Case, Profile> || std::is_same_v<Case, Port>
                               || std::is_same_v<Case, AppMute>)
                return setting.value == theirs.value;
            else
                return setting.uid == theirs.uid;
        },
        value);
}

}  // namespace sonorel
