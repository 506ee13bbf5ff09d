#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace sonorel {

// Microsecond resolution keeps dates exact through both JSON forms (seconds
// since 2001 as a double, and ISO 8601 text).
using Date = std::chrono::sys_time<std::chrono::microseconds>;

// 2001-01-01 00:00:00 UTC, the origin of stored dates.
inline constexpr Date referenceDate{std::chrono::sys_days{std::chrono::year{2001} / 1 / 1}};

double secondsSinceReferenceDate(Date date);
Date dateFromSecondsSinceReferenceDate(double seconds);

// "2026-12-06T16:26:07Z", with a fraction only when the date has one.
std::string isoDateText(Date date);
// Accepts "YYYY-MM-DDTHH:MM:SS[.fraction](Z|±HH:MM)"; nothing else.
std::optional<Date> dateFromIsoText(std::string_view text);

// Seconds from `earlier` to `later` (negative when `earlier` is after).
double secondsBetween(Date earlier, Date later);

}  // namespace sonorel
