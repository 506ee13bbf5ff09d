#pragma once

#include "model/date.h"
#include "model/enum_text.h"
#include "model/uuid.h"

#include <string>
#include <vector>

namespace sonorel {

struct ActivityEntry {
    enum class Kind { repair, marker, error, signal, feedback };

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

// Newest first, never more than `capacity` entries; entries are never edited.
struct ActivityLog {
    static constexpr size_t capacity = 200;

    std::vector<ActivityEntry> entries;

    // Puts `entry` first and drops the oldest beyond the capacity.
    void add(ActivityEntry entry);

    bool operator==(const ActivityLog&) const = default;
};

}  // namespace sonorel
