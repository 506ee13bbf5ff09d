#include "pulse/graph_clock.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace sonorel::pulse {

namespace {

std::optional<uint32_t> positive(std::string_view text)
{
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value == 0)
        return std::nullopt;
    return value;
}

uint32_t setting(const std::map<std::string, std::string>& settings, const char* key)
{
    auto found = settings.find(key);
    return found == settings.end() ? 0 : positive(found->second).value_or(0);
}

}  // namespace

std::vector<uint32_t> allowedRatesOf(std::string_view text)
{
    std::vector<uint32_t> rates;
    const auto isSeparator = [](char c) { return c == '[' || c == ']' || c == ',' || c == ' ' || c == '\t' || c == '\n'; };
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && isSeparator(text[at]))
            ++at;
        size_t end = at;
        while (end < text.size() && !isSeparator(text[end]))
            ++end;
        if (end > at)
            if (auto rate = positive(text.substr(at, end - at)))
                rates.push_back(*rate);
        at = end;
    }
    return rates;
}

GraphClock graphClockOf(const std::map<std::string, std::string>& settings)
{
    GraphClock clock;
    clock.rate = setting(settings, "clock.rate");
    if (auto found = settings.find("clock.allowed-rates"); found != settings.end())
        clock.allowedRates = allowedRatesOf(found->second);
    clock.quantum = setting(settings, "clock.quantum");
    clock.minQuantum = setting(settings, "clock.min-quantum");
    clock.maxQuantum = setting(settings, "clock.max-quantum");
    clock.forceRate = setting(settings, "clock.force-rate");
    clock.forceQuantum = setting(settings, "clock.force-quantum");
    return clock;
}

void applyGraphClock(AudioDevice& device, const GraphClock& clock)
{
    device.availableRates.clear();
    for (uint32_t rate : clock.allowedRates)
        device.availableRates.push_back({double(rate), double(rate)});
    device.canSetRate = true;
    if (clock.forceRate > 0)
        device.sampleRate = clock.forceRate;
    if (const uint32_t quantum = clock.forceQuantum > 0 ? clock.forceQuantum : clock.quantum; quantum > 0)
        device.bufferFrames = quantum;
    if (clock.minQuantum > 0 && clock.minQuantum <= clock.maxQuantum)
        device.bufferRange = ClosedRange<uint32_t>{clock.minQuantum, clock.maxQuantum};
}

std::optional<uint32_t> forceRateFor(double rate, const GraphClock& clock, std::optional<uint32_t> unforcedRate)
{
    if (!std::isfinite(rate) || rate < 1 || rate > 1e7 || rate != std::floor(rate))
        return std::nullopt;
    const auto wanted = uint32_t(rate);
    // Back to the device's own rate (an undo): lift the force rather than pin it.
    if (unforcedRate == wanted)
        return 0;
    if (std::find(clock.allowedRates.begin(), clock.allowedRates.end(), wanted) != clock.allowedRates.end())
        return wanted;
    return std::nullopt;
}

namespace {

std::string nodeNameIn(const std::map<std::string, std::string>& metadata, const std::string& key)
{
    auto found = metadata.find(key);
    if (found == metadata.end())
        return {};
    const auto value = nlohmann::json::parse(found->second, nullptr, false);
    if (!value.is_object() || !value.contains("name") || !value["name"].is_string())
        return {};
    return value["name"].get<std::string>();
}

}  // namespace

std::string defaultNodeOf(const std::map<std::string, std::string>& metadata, std::string_view kind,
                          const std::function<bool(const std::string&)>& exists)
{
    const std::string configured = nodeNameIn(metadata, "default.configured." + std::string(kind));
    if (!configured.empty() && exists(configured))
        return configured;
    return nodeNameIn(metadata, "default." + std::string(kind));
}

std::optional<std::string> pipeWireRemoteFor(const std::optional<std::string>& pulseServer)
{
    const std::string_view prefix = "unix:";
    const std::string_view suffix = "/pulse/native";
    if (!pulseServer)
        return std::nullopt;
    std::string_view address = *pulseServer;
    // libpulse names the sockets it finds by itself without the prefix.
    if (address.starts_with(prefix))
        address.remove_prefix(prefix.size());
    if (!address.ends_with(suffix) || address.size() <= suffix.size())
        return std::nullopt;
    const std::string_view dir = address.substr(0, address.size() - suffix.size());
    if (!dir.starts_with('/'))
        return std::nullopt;
    return std::string(dir) + "/pipewire-0";
}

}  // namespace sonorel::pulse
