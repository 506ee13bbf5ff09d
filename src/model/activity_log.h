#pragma once

#include "model/date.h"
#include "model/enum_text.h"
#include "model/uuid.h"

#include <string>
#include <string_view>
#include <vector>

namespace sonorel {

struct ActivityEntry {
    enum class Kind { repair, marker, error, signal, feedback };

    // In characters. A device may name itself with 60,000 of them; a row
    // of Activity shows a line and a paragraph.
    static constexpr size_t maximumTitleLength = 200;
    static constexpr size_t maximumDetailLength = 2000;

    Uuid id;
    Date date{};
    std::string title;
    std::string detail;
    Kind kind = Kind::signal;

    bool operator==(const ActivityEntry&) const = default;
};

inline constexpr EnumTexts<ActivityEntry::Kind, 5> activityKindNames{{
    {ActivityEntry::Kind::repair, "repair"},
    {ActivityEntry::Kind::marker, "marker"},
    {ActivityEntry::Kind::error, "error"},
    {ActivityEntry::Kind::signal, "signal"},
    {ActivityEntry::Kind::feedback, "feedback"},
}};

constexpr std::string_view caseName(ActivityEntry::Kind kind)
{
    return textOf(activityKindNames, kind);
}

// Shortens the entry's title and detail to their maximum lengths, cut
// between two UTF-8 characters and ended with an ellipsis.
void shortenTexts(ActivityEntry& entry);

// A stored entry this version cannot read (a kind a newer version added):
// its JSON, written back unchanged at its place among all entries.
struct UnreadActivityEntry {
    size_t position = 0;  // among all entries, newest first
    std::string json;

    bool operator==(const UnreadActivityEntry&) const = default;
};

// Newest first, never more than `capacity` entries, the unread ones
// included; entries are never edited.
struct ActivityLog {
    static constexpr size_t capacity = 200;

    std::vector<ActivityEntry> entries;
    std::vector<UnreadActivityEntry> unread;  // by position

    // Puts `entry` first, bounded, and drops the oldest beyond the capacity.
    void add(ActivityEntry entry);

    bool operator==(const ActivityLog&) const = default;
};

}  // namespace sonorel
