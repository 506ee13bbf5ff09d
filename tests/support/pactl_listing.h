#pragma once

// Recorded `pactl list` output of real machines read back into the records
// libpulse would have given, so their hardware goes through the same mapping
// as a live reading. Cards, sinks and sources are read; other sections are
// skipped. Lines starting with "#" at the start of the file describe it.

#include "pulse/pulse_records.h"

#include <filesystem>
#include <string>

namespace sonorel::testing {

using ServerReading = pulse::ServerReading;

// The server's defaults are the ones named here unless the file holds
// `pactl info`'s "Default Sink:" or "Default Source:" line. Throws when the
// file cannot be read.
ServerReading readListing(const std::filesystem::path& file, std::string defaultSink = {},
                          std::string defaultSource = {});

}  // namespace sonorel::testing
