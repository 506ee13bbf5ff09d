#include "cli/watch_lines.h"
#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace sonorel {
namespace {

using nlohmann::json;
using namespace fixtures;

std::vector<json> parsed(const std::string& text)
{
    std::vector<json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(json::parse(line));
    return lines;
}

TEST(watch_lines, an_entry_is_one_line_of_date_kind_title_and_detail_in_that_order)
{
    const ActivityEntry entry{Uuid{}, at(1000.25), "Audio device connected", "Scarlett \"2i2\"",
                              ActivityEntry::Kind::signal};
    EXPECT_EQ(WatchLines::entryLine(entry), R"({"date":"2001-01-01T00:16:40.25Z","kind":"signal",)"
                                            R"("title":"Audio device connected","detail":"Scarlett \"2i2\""})"
                                            "\n");
}

// Each transition is said once: the checks when a state changes (not a detail),
// the server going and coming back, a default moved between two readable readings.
TEST(watch_lines, a_reading_adds_a_line_only_for_what_changed)
{
    WatchLines lines(true);
    AudioSnapshot s = snapshot({output(1, "Speakers"), output(2, "Headphones"), input(3, "Microphone")}, 1, 3);
    const auto checks = [](CheckState state, std::string detail) {
        return std::vector<DiagnosticCheck>{{CheckKind::output, state, std::move(detail), std::nullopt}};
    };

    auto first = parsed(lines.afterReading(s, checks(CheckState::passed, "Speakers is the output.")));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0], json::parse(R"([{"kind":"output","state":"Good","detail":"Speakers is the output.","action":null}])"));
    EXPECT_EQ(lines.afterReading(s, checks(CheckState::passed, "Other words.")), "");

    s.outputID = 2;
    auto moved = parsed(lines.afterReading(s, checks(CheckState::passed, "")));
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0]["title"], "Output changed");
    EXPECT_EQ(moved[0]["detail"], "Headphones");
    EXPECT_EQ(moved[0]["kind"], "signal");

    AudioSnapshot gone = snapshot({});
    gone.readError = "The audio service is unavailable.";
    auto failed = parsed(lines.afterReading(gone, checks(CheckState::unknown, *gone.readError)));
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_EQ(failed[0]["kind"], "error");
    EXPECT_EQ(failed[0]["title"], "Audio service unavailable");
    EXPECT_EQ(failed[0]["detail"], "The audio service is unavailable.");
    EXPECT_EQ(failed[1][0]["state"], "Unavailable");
    EXPECT_EQ(lines.afterReading(gone, checks(CheckState::unknown, *gone.readError)), "");

    // Back on another default: the recovery, and no output change across the gap.
    s.outputID = 1;
    s.inputID.reset();
    auto back = parsed(lines.afterReading(s, checks(CheckState::unknown, "")));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0]["title"], "Audio service available again");
    s.inputID = 3;
    auto input = parsed(lines.afterReading(s, checks(CheckState::unknown, "")));
    ASSERT_EQ(input.size(), 1u);
    EXPECT_EQ(input[0]["title"], "Input changed");
    EXPECT_EQ(input[0]["detail"], "Microphone");

    WatchLines withoutChecks(false);
    EXPECT_EQ(withoutChecks.afterReading(s, checks(CheckState::passed, "")), "");
}

}  // namespace
}  // namespace sonorel
