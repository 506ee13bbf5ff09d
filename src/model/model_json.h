#pragma once

// The stored and exchanged JSON forms of the model. Decoders throw
// JsonDecodeError with a message that names the offending field.

#include "model/activity_log.h"
#include "model/audio_configuration_change.h"
#include "model/audio_snapshot.h"
#include "model/json_fields.h"
#include "model/preferred_output.h"

#include <string>
#include <string_view>

namespace sonorel {

// An array of {"id","date","title","detail","kind"}; dates in seconds since
// 2001-01-01, ids in upper case. Decoding keeps the newest `capacity` entries,
// shortens long texts and keeps an entry it cannot read as its JSON, in its
// place; only a document that is no list of entries is an error.
std::string encodeActivityLog(const ActivityLog& log);
ActivityLog decodeActivityLog(std::string_view json);

// {"uid","name","isBluetooth"}
std::string encodePreferredOutput(const PreferredOutput& output);
PreferredOutput decodePreferredOutput(std::string_view json);

// The snapshot with its own field names, dates as ISO 8601 UTC text,
// transports by label and ranges as [min, max]; absent values are omitted.
// Decoding is forgiving where a hand-edited file would be: a missing list,
// flag, number or text takes its empty default and a missing optional stays
// absent; a wrong type or a malformed date is an error.
std::string encodeSnapshot(const AudioSnapshot& snapshot);
AudioSnapshot decodeSnapshot(std::string_view json);

// A list of {"before": setting, "after": setting}; a setting is an object
// {"kind", "uid"} plus "direction", "element" and "value" as its kind needs:
// {"kind": "volume", "uid": "…", "direction": "output", "element": 0, "value": 0.25};
// a card profile names its "card", an app's setting its "stream" and "app".
// Decoding also takes an object whose "changes" member is that list.
std::string encodeChanges(const std::vector<AudioConfigurationChange>& changes);
std::vector<AudioConfigurationChange> decodeChanges(std::string_view json);

}  // namespace sonorel
