#pragma once

// What PipeWire's graph clock settings mean for the audio model. Pure
// functions over plain values; the "settings" metadata is read elsewhere.

#include "model/audio_snapshot.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonorel::pulse {

// The clock of the whole graph, as the "settings" metadata states it; 0
// where a value is missing or unreadable.
struct GraphClock {
    uint32_t rate = 0;
    std::vector<uint32_t> allowedRates;
    uint32_t quantum = 0;
    uint32_t minQuantum = 0;
    uint32_t maxQuantum = 0;
    uint32_t forceRate = 0;  // 0: the graph picks the rate itself
    uint32_t forceQuantum = 0;

    bool operator==(const GraphClock&) const = default;
};

// "[ 44100 48000 ]" (commas allowed); anything that is not a positive whole
// number is skipped.
std::vector<uint32_t> allowedRatesOf(std::string_view text);

// From the metadata's key/value pairs (subject 0).
GraphClock graphClockOf(const std::map<std::string, std::string>& settings);

// A device as the graph runs it: the allowed rates, the forced rate over the
// one the pulse server reports (which ignores a force), the quantum as its
// buffer.
void applyGraphClock(AudioDevice& device, const GraphClock& clock);

// The clock.force-rate value that makes a device run at `rate`: the rate
// itself when the graph allows it, 0 (lifting a force) when it is the rate
// the device reports unforced. Absent when the graph cannot run at it.
std::optional<uint32_t> forceRateFor(double rate, const GraphClock& clock, std::optional<uint32_t> unforcedRate);

// The node that PipeWire's "default" metadata names for `kind` ("audio.sink"
// or "audio.source"): the configured choice while a node of that name
// `exists`, else the one the session manager settled on; empty when neither
// is readable. Values are JSON such as {"name": "alsa_output.pci-0000_00_1f.3"}.
std::string defaultNodeOf(const std::map<std::string, std::string>& metadata, std::string_view kind,
                          const std::function<bool(const std::string&)>& exists);

// PipeWire's socket beside the pulse socket "[unix:]<dir>/pulse/native" (the
// rig and a user session keep both in one runtime directory); absent for any
// other address, leaving the choice to libpipewire (PIPEWIRE_REMOTE,
// XDG_RUNTIME_DIR). Either way the bridge proves it reached the same server.
std::optional<std::string> pipeWireRemoteFor(const std::optional<std::string>& pulseServer);

// The property our pulse connection carries, which the bridge looks for
// among PipeWire's clients to prove that both talk to one server.
inline constexpr const char* connectionTagKey = "sonorel.connection.tag";
inline constexpr const char* clientName = "Sonorel Doctor";

}  // namespace sonorel::pulse
