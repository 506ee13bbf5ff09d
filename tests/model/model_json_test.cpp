#include "model/model_json.h"
#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::fixtures;
using nlohmann::json;

namespace {

template <typename Decode>
std::string decodeError(Decode decode, std::string_view text)
{
    try {
        decode(text);
    } catch (const JsonDecodeError& error) {
        return error.what();
    }
    return "decoded without error";
}

// A reading that sets every optional, with floats and dates that do not
// survive a careless text form.
AudioSnapshot fullSnapshot()
{
    auto dac = output(3, "DAC", AudioTransport::usb);
    dac.inputChannels = 2;
    dac.isRunningInput = true;
    dac.sampleRate = 44100;
    dac.availableRates = {{8000, 96000}, {176400, 176400}};
    dac.memberRates = {44100, 48000};
    dac.volume = 0.45f;
    dac.isMuted = true;
    dac.inputControls = {control(0, 0.33f, false, true, false), control(1, std::nullopt, true)};
    dac.outputControls = {control(1, 0.45f, std::nullopt, false, true)};
    dac.stereoChannels = {1, 2};
    dac.balance = 0.45f;
    dac.canSetBalance = true;
    dac.bufferFrames = 512;
    dac.bufferRange = ClosedRange<uint32_t>{64, 4096};
    dac.latencyFrames = 32;
    dac.safetyOffsetFrames = 16;
    dac.exclusiveOwnerPID = -1;
    dac.formats = {{AudioDirection::output, 44100, 24, 2, false}, {AudioDirection::input, 48000, 32, 1, true}};
    dac.cardName = "alsa_card.usb-DAC";
    dac.ports = {{"analog-output", "Analog Output", PortAvailability::available, "line", 9900},
                 {"iec958-stereo-output", "Digital Output", PortAvailability::unknown, "", 0}};
    dac.activePort = "analog-output";
    auto bare = output(4, "Loopback", AudioTransport::virtual_);
    bare.sampleRate.reset();
    bare.volume.reset();
    bare.isMuted.reset();

    auto s = snapshot({dac, bare, input(5, "Mic")}, 3, 5, 4);
    s.capturedAt = at(818'000'000.123456);
    s.lastOverload = at(817'999'990.5);
    s.readError = "partly read";
    s.inputIOActive = true;
    s.clients = {AudioClient{9, 4242, "Recorder", "org.example.recorder", {5}, {3, 4}, true, false, {3}},
                 AudioClient{10, 77, "player", std::nullopt, {}, {3}, false, true, {}}};
    s.overloadDates = {at(-3600.5), at(817'999'990.5)};
    s.cards = {{"alsa_card.usb-DAC", "USB DAC", "usb", "output:analog-stereo",
                {{"output:analog-stereo", "Analog Stereo Output", true, 6500, 1, 0}, {"off", "Off", false, 0, 0, 0}}}};
    s.appStreams = {{31, "player", "org.example.player", 77, 3, 0.25f, true, false, true},
                    {32, "player", std::nullopt, 0, std::nullopt, 1, false, true, false}};
    s.hardwareCards = {{1, "USB DAC", std::nullopt, "", 4242, "arecord"}};
    return s;
}

}  // namespace

TEST(activity_log_json, is_an_array_of_entries_with_seconds_since_2001_and_upper_case_ids)
{
    ActivityEntry entry{*Uuid::fromText("0f8fad5b-d9cb-469f-a165-70867728950e"), at(-86400.25), "Output changed",
                        "Speakers", ActivityEntry::Kind::repair};
    EXPECT_EQ(json::parse(encodeActivityLog({{entry}, {}})), json::parse(R"([{"id": "0F8FAD5B-D9CB-469F-A165-70867728950E",
        "date": -86400.25, "title": "Output changed", "detail": "Speakers", "kind": "repair"}])"));
}

TEST(activity_log_json, round_trips_lower_case_ids_and_dates_before_2001)
{
    const auto log = decodeActivityLog(R"([
        {"id": "0f8fad5b-d9cb-469f-a165-70867728950e", "date": -978307200.000001, "title": "t", "detail": "d",
         "kind": "marker"},
        {"id": "0F8FAD5B-D9CB-469F-A165-70867728950F", "date": 0.001001, "title": "t", "detail": "d",
         "kind": "feedback"}])");
    ASSERT_EQ(log.entries.size(), 2u);
    EXPECT_EQ(log.entries[0].id.text(), "0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_EQ(log.entries[0].date, Date{std::chrono::sys_days{} - std::chrono::microseconds{1}});
    // 0.001001 * 1e6 is 1000.9999999999999 in floating point.
    EXPECT_EQ(log.entries[1].date, referenceDate + std::chrono::microseconds{1001});
    EXPECT_EQ(decodeActivityLog(encodeActivityLog(log)), log);
}

TEST(activity_log_json, a_stored_list_of_250_entries_loads_as_its_first_200_with_long_texts_cut)
{
    ActivityLog stored;
    for (int n = 250; n >= 1; --n)
        stored.entries.push_back(activityEntry(n));
    stored.entries[0].detail = std::string(128 * 1024, 'x');
    auto loaded = decodeActivityLog(encodeActivityLog(stored));
    EXPECT_EQ(loaded.entries[0].detail, std::string(1999, 'x') + "…");
    loaded.entries[0].detail = stored.entries[0].detail;
    EXPECT_EQ(loaded.entries, std::vector(stored.entries.begin(), stored.entries.begin() + 200));
}

TEST(activity_log_json, entries_this_version_cannot_read_are_kept_in_place_and_written_back_unchanged)
{
    const std::string known = R"({"id": "0F8FAD5B-D9CB-469F-A165-70867728950E", "date": 0, "title": "t", "detail": "d",
                                  "kind": "repair"})";
    const std::string stored = "[" + known + R"(,
        {"id": "0F8FAD5B-D9CB-469F-A165-70867728950F", "date": 1, "title": "t", "detail": "d", "kind": "warning",
         "severity": [1, 2.5]},
        {"id": "0F8FAD5B", "date": 0, "title": "t", "detail": "d", "kind": "repair"},
        {"id": "0F8FAD5B-D9CB-469F-A165-70867728950E", "date": 1e13, "title": "t", "detail": "d", "kind": "repair"},
        7, )" + known + "]";
    const auto log = decodeActivityLog(stored);
    EXPECT_EQ(log.entries.size(), 2u);
    ASSERT_EQ(log.unread.size(), 4u);
    EXPECT_EQ(log.unread[0].position, 1u);
    EXPECT_EQ(log.unread[3].position, 4u);
    EXPECT_EQ(json::parse(encodeActivityLog(log)), json::parse(stored));
}

TEST(activity_log_json, only_a_document_that_is_no_list_of_entries_is_an_error)
{
    EXPECT_EQ(decodeError(decodeActivityLog, R"({"entries": []})"), "activity log: expected a list of entries");
    const auto truncated = decodeError(decodeActivityLog, R"([{"id": "0F8FAD5B-D9CB-469F-A165-70867728950E")");
    EXPECT_TRUE(truncated.starts_with("activity log: not valid JSON (")) << truncated;
}

TEST(preferred_output_json, is_an_object_of_uid_name_and_bluetooth_flag)
{
    const PreferredOutput headphones{"uid-Buds", "Buds", true};
    EXPECT_EQ(json::parse(encodePreferredOutput(headphones)),
              json::parse(R"({"uid": "uid-Buds", "name": "Buds", "isBluetooth": true})"));
    EXPECT_EQ(decodePreferredOutput(encodePreferredOutput(headphones)), headphones);
    EXPECT_EQ(decodeError(decodePreferredOutput, R"({"uid": "a", "name": 1e309})"),
              "preferred output.name: number out of range");
}

TEST(snapshot_json, round_trips_unchanged_with_iso_dates_labels_ranges_short_floats_and_no_absent_values)
{
    const auto s = fullSnapshot();
    EXPECT_EQ(decodeSnapshot(encodeSnapshot(s)), s);
    const auto encoded = json::parse(encodeSnapshot(s));
    EXPECT_EQ(encoded["capturedAt"], "2026-12-03T14:13:20.123456Z");
    EXPECT_EQ(encoded["overloadDates"][0], "2000-12-31T22:59:59.5Z");
    const auto& dac = encoded["devices"][0];
    EXPECT_EQ(dac["transport"], "USB");
    EXPECT_EQ(dac["availableRates"], json::parse("[[8000, 96000], [176400, 176400]]"));
    EXPECT_EQ(dac["bufferRange"], json::parse("[64, 4096]"));
    EXPECT_EQ(dac["volume"], 0.45);
    const auto& bare = encoded["devices"][1];
    // Cards are a list of their own, which devices name.
    EXPECT_EQ(dac["card"], "alsa_card.usb-DAC");
    EXPECT_EQ(encoded["cards"][0]["profiles"][1],
              json::parse(R"({"name": "off", "description": "Off", "isAvailable": false, "priority": 0, "sinks": 0,
                              "sources": 0})"));
    EXPECT_EQ(dac["ports"][0]["availability"], "available");
    for (const char* key : {"sampleRate", "volume", "isMuted", "balance", "bufferFrames", "bufferRange",
                            "exclusiveOwnerPID", "card", "activePort"})
        EXPECT_FALSE(bare.contains(key)) << key;
    EXPECT_FALSE(encoded["clients"][1].contains("bundleID"));
    EXPECT_FALSE(encoded["hardwareCards"][0].contains("playbackOwnerName"));
}

// Files written before a field existed load too: a device without "card" has
// none, and a device that held its whole card gives it to the cards.
TEST(snapshot_json, missing_fields_take_their_defaults_and_an_embedded_card_joins_the_cards)
{
    AudioSnapshot expected;
    expected.capturedAt = std::chrono::sys_days{std::chrono::year{2026} / 12 / 6} + std::chrono::seconds{59167};
    expected.devices = {AudioDevice{}};
    expected.clients = {AudioClient{}};
    EXPECT_EQ(decodeSnapshot(R"({"capturedAt": "2026-12-06T16:26:07Z", "devices": [{}], "clients": [{}]})"), expected);

    const auto earlier = decodeSnapshot(R"({"capturedAt": "2026-12-06T16:26:07Z", "devices": [
        {"uid": "a", "card": {"name": "bluez_card.1", "activeProfile": "headset_head_unit"}},
        {"uid": "b", "card": {"name": "bluez_card.1", "activeProfile": "headset_head_unit"}}]})");
    ASSERT_EQ(earlier.cards.size(), 1u);
    EXPECT_EQ(earlier.cards[0].activeProfile, "headset_head_unit");
    EXPECT_EQ(earlier.devices[1].cardName, "bluez_card.1");
}

TEST(snapshot_json, undecodable_data_is_an_error_that_names_the_field)
{
    const std::pair<std::string, std::string> rows[] = {
        {R"("devices": [{"sampleRate": "48000"}])", "devices[0].sampleRate: expected a number"},
        {R"("devices": [{}, {"outputControls": [{"isMuted": 1}]}])",
         "devices[1].outputControls[0].isMuted: expected true or false"},
        {R"("devices": [{"availableRates": [[48000]]}])", "devices[0].availableRates[0]: expected a range [min, max]"},
        {R"("outputID": -1)", "outputID: number out of range"},
        {R"("clients": [{"bundleID": 7}])", "clients[0].bundleID: expected text"},
        {R"("overloadDates": ["2026-12-06 16:26:07"])",
         "overloadDates[0]: expected an ISO 8601 date such as 2026-12-06T16:26:07Z"},
        // Numbers beyond a double are named like any other bad value, wherever they sit.
        {R"("devices": [{}, {"outputControls": [{}, {"volume": 1e309}]}])",
         "devices[1].outputControls[1].volume: number out of range"},
        {R"("outputID": -1e400)", "outputID: number out of range"},
        // Values with a defined range stay in it.
        {R"("devices": [{"volume": 3e38}])", "devices[0].volume: out of range (0 to 1)"},
        {R"("devices": [{"volume": -5}])", "devices[0].volume: out of range (0 to 1)"},
        {R"("devices": [{"balance": 5}])", "devices[0].balance: out of range (0 to 1)"},
        {R"("devices": [{"inputControls": [{"volume": 1.5}]}])", "devices[0].inputControls[0].volume: out of range (0 to 1)"},
        {R"("devices": [{"sampleRate": 0}])", "devices[0].sampleRate: out of range (1 to 10000000)"},
        {R"("devices": [{"availableRates": [[8000, 1e12]]}])",
         "devices[0].availableRates[0][1]: out of range (1 to 10000000)"},
        {R"("devices": [{"formats": [{"direction": "output", "sampleRate": -48000}]}])",
         "devices[0].formats[0].sampleRate: out of range (1 to 10000000)"},
        {R"("devices": [{"outputChannels": -2}])", "devices[0].outputChannels: out of range (0 to 2147483647)"},
        {R"("devices": [{"bufferFrames": 5e9}])", "devices[0].bufferFrames: number out of range"},
        {R"("devices": [{"outputControls": [{"element": -1}]}])", "devices[0].outputControls[0].element: number out of range"},
        {R"("devices": [{"card": {"profiles": [{"name": "off"}]}}])", "devices[0].card.activeProfile: missing"},
        {R"("devices": [{"ports": [{"name": "a", "availability": "plugged"}]}])",
         "devices[0].ports[0].availability: expected one of \"unknown\", \"available\", \"unavailable\""},
        {R"("appStreams": [{"volume": 2}])", "appStreams[0].volume: out of range (0 to 1)"},
    };
    for (const auto& [fields, error] : rows)
        EXPECT_EQ(decodeError(decodeSnapshot, R"({"capturedAt": "2026-12-06T16:26:07Z", )" + fields + "}"), error);
}

TEST(snapshot_json, a_missing_or_malformed_capture_date_or_broken_document_is_an_error)
{
    EXPECT_EQ(decodeError(decodeSnapshot, "{}"), "capturedAt: missing");
    EXPECT_EQ(decodeError(decodeSnapshot, R"({"capturedAt": "2026-13-06T16:26:07Z"})"),
              "capturedAt: expected an ISO 8601 date such as 2026-12-06T16:26:07Z");
    EXPECT_EQ(decodeError(decodeSnapshot, "[]"), "snapshot: expected an object");
    const auto truncated = decodeError(decodeSnapshot, encodeSnapshot(fullSnapshot()).substr(0, 300));
    EXPECT_TRUE(truncated.starts_with("snapshot: not valid JSON (")) << truncated;
}

TEST(changes_json, every_kind_of_change_round_trips_alone_or_inside_a_repair_result)
{
    const std::vector<AudioConfigurationChange> changes = {
        {AudioSetting::Output{"a"}, AudioSetting::Output{"b"}},
        {AudioSetting::Input{"a"}, AudioSetting::Input{"b"}},
        {AudioSetting::Alerts{"a"}, AudioSetting::Alerts{"b"}},
        {AudioSetting::Volume{"a", AudioDirection::input, 2, 0.0f}, AudioSetting::Volume{"a", AudioDirection::input, 2, 0.45f}},
        {AudioSetting::Mute{"a", AudioDirection::output, 0, true}, AudioSetting::Mute{"a", AudioDirection::output, 0, false}},
        {AudioSetting::Balance{"a", 0.52f}, AudioSetting::Balance{"a", 0.5f}},
        {AudioSetting::Rate{"a", 22050}, AudioSetting::Rate{"a", 48000}},
        {AudioSetting::Profile{"card", "headset_head_unit"}, AudioSetting::Profile{"card", "a2dp_sink"}},
        {AudioSetting::Port{"a", AudioDirection::output, "speaker"}, AudioSetting::Port{"a", AudioDirection::output, "hp"}},
        {AudioSetting::AppVolume{7, "Firefox", 0}, AudioSetting::AppVolume{7, "Firefox", 1}},
        {AudioSetting::AppMute{7, "Firefox", true}, AudioSetting::AppMute{7, "Firefox", false}},
        {AudioSetting::AppOutput{7, "Firefox", "a"}, AudioSetting::AppOutput{7, "Firefox", "b"}},
    };
    const std::string encoded = encodeChanges(changes);
    EXPECT_EQ(decodeChanges(encoded), changes);
    // The repair command prints {"message", "changes"}; undo takes that whole.
    EXPECT_EQ(decodeChanges(R"({"message": "done", "changes": )" + encoded + "}"), changes);
    EXPECT_EQ(json::parse(encoded)[3]["after"]["value"], 0.45);
    EXPECT_EQ(json::parse(encoded)[7]["after"]["card"], "card");
    EXPECT_EQ(json::parse(encoded)[9]["after"]["app"], "Firefox");
    // Earlier versions named a Bluetooth card's profile by the device.
    EXPECT_EQ(decodeChanges(R"([{"before": {"kind": "profile", "uid": "bluez_card.1.output", "value": "x"},
                                 "after": {"kind": "profile", "uid": "bluez_card.1.output", "value": "y"}}])"),
              (std::vector<AudioConfigurationChange>{
                  {AudioSetting::Profile{"bluez_card.1", "x"}, AudioSetting::Profile{"bluez_card.1", "y"}}}));
}

TEST(changes_json, a_change_that_cannot_be_undone_safely_is_an_error_that_names_the_field)
{
    auto error = [](const std::string& text) {
        try {
            decodeChanges(text);
        } catch (const JsonDecodeError& e) {
            return std::string(e.what());
        }
        return std::string("decoded");
    };
    EXPECT_EQ(error(R"([{"before": {"kind": "loudness", "uid": "a"}, "after": {"kind": "output", "uid": "b"}}])"),
              "changes[0].before.kind: expected one of output, input, alerts, volume, mute, balance, rate, profile, "
              "port, appVolume, appMute, appOutput");
    EXPECT_EQ(error(R"([{"before": {"kind": "balance", "uid": "a", "value": 0.5}, "after": {"kind": "rate", "uid": "a", "value": 48000}}])"),
              "changes[0]: before and after name different settings");
    EXPECT_EQ(error(R"([{"before": {"kind": "mute", "uid": "a", "element": 0, "value": true}, "after": {"kind": "mute", "uid": "a", "direction": "output", "element": 0, "value": false}}])"),
              "changes[0].before.direction: missing");
    EXPECT_EQ(error(R"([{"before": {"kind": "balance", "uid": "a", "value": 0.5}, "after": {"kind": "balance", "uid": "a", "value": 2}}])"),
              "changes[0].after.value: out of range (0 to 1)");
    EXPECT_EQ(error(R"([{"before": {"kind": "rate", "uid": "a", "value": 1e999}, "after": {"kind": "rate", "uid": "a", "value": 48000}}])"),
              "changes[0].before.value: number out of range");
    EXPECT_EQ(error(R"({"message": "done", "changes": [{"before": {"kind": "rate", "uid": "a", "value": 0}, "after": {"kind": "rate", "uid": "a", "value": 48000}}]})"),
              "changes[0].before.value: out of range (1 to 10000000)");
}
