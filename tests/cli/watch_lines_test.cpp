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
    AudioSnapshot s = snapshot({output(1, "Speakers"), output(2, "Headphones")}, 1);
    AudioSnapshot gone = snapshot({});
    gone.readError = "The audio service is unavailable.";
    const auto titles = [&](const AudioSnapshot& reading, CheckState state, std::string detail = "") {
        std::vector<std::string> said;
        for (const json& line : parsed(lines.afterReading(reading, {{CheckKind::output, state, detail, {}}})))
            said.push_back(line.is_array() ? "checks " + line[0]["state"].get<std::string>()
                                           : line["title"].get<std::string>() + ": " + line["detail"].get<std::string>());
        return said;
    };
    using Said = std::vector<std::string>;

    EXPECT_EQ(titles(s, CheckState::passed, "Speakers is the output."), Said{"checks Good"});
    EXPECT_EQ(titles(s, CheckState::passed, "Other words."), Said{});
    s.outputID = 2;
    EXPECT_EQ(titles(s, CheckState::passed), Said{"Output changed: Headphones"});
    EXPECT_EQ(titles(gone, CheckState::unknown),
              (Said{"Audio service unavailable: The audio service is unavailable.", "checks Unavailable"}));
    EXPECT_EQ(titles(gone, CheckState::unknown), Said{});
    // Back on another default: the recovery, and no output change across the gap.
    s.outputID = 1;
    EXPECT_EQ(titles(s, CheckState::unknown), Said{"Audio service available again: Audio settings can be read again."});
}

// A status bar gets the state, once per change: its word, the headline and what
// needs attention, and a class to style by.
TEST(watch_lines, a_bar_line_says_the_state_once_per_change)
{
    WatchLines lines(false);
    const AudioSnapshot s = snapshot({output(1, "Speakers")}, 1);
    const std::vector<DiagnosticCheck> good{{CheckKind::output, CheckState::passed, "Speakers is the output.", {}}};
    const json healthy = json::parse(lines.barLineAfterReading(s, good));
    EXPECT_EQ(healthy["text"], "No faults detected");
    EXPECT_EQ(healthy["class"], "healthy");
    EXPECT_EQ(lines.barLineAfterReading(s, good), "");
    const std::vector<DiagnosticCheck> muted{{CheckKind::output, CheckState::passed, "", {}},
                                             {CheckKind::volume, CheckState::issue, "Output is muted.", {}}};
    const json issue = json::parse(lines.barLineAfterReading(s, muted));
    EXPECT_EQ(issue["class"], "issue");
    EXPECT_EQ(issue["alt"], "issue");
    EXPECT_EQ(issue["text"], "1 thing to check");
    EXPECT_TRUE(issue["tooltip"].get<std::string>().ends_with("\nVolume & mute: Output is muted.")) << issue["tooltip"];
    AudioSnapshot gone = snapshot({});
    gone.readError = "The audio service is unavailable.";
    EXPECT_EQ(json::parse(lines.barLineAfterReading(gone, {}))["class"], "unavailable");
}

}  // namespace
}  // namespace sonorel
