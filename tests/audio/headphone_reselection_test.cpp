#include "audio/headphone_reselection.h"
#include "audio/repair_coordinator.h"
#include "support/scripted_audio_system.h"
#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

namespace {

using namespace sonorel;
using namespace sonorel::testing;

constexpr AudioObjectID speakersID = 1;
constexpr AudioObjectID headphonesID = 2;
const std::string speakers = "uid-Built-in Audio";
const std::string headphones = "uid-Headphones";

const std::string reselected = "Headphones was reselected without restarting the audio service. The alternate "
                               "speakers stayed muted during the switch. Listen again to check the result.";
const std::string keptMuted = "Built-in Audio speakers remain muted to prevent unintended playback. Reconnect "
                              "headphones or use Restore sound when you are ready.";

// Bluetooth headphones as the output, unmuted built-in speakers beside them.
AudioSnapshot headphonesAndSpeakers()
{
    return fixtures::snapshot({fixtures::output(speakersID, "Built-in Audio"),
                               fixtures::output(headphonesID, "Headphones", AudioTransport::bluetooth)},
                              headphonesID, 0, headphonesID);
}

AudioSetting muteSpeakers(bool muted)
{
    return AudioSetting::Mute{speakers, AudioDirection::output, 0, muted};
}

AudioSetting outputTo(const std::string& uid)
{
    return AudioSetting::Output{uid};
}

std::string stopped(const std::string& error, const std::string& notes)
{
    return "Reselection stopped: " + error + " Some temporary settings could not be restored: " + notes
        + " Check Devices before playing audio.";
}

struct Reselection {
    ScriptedAudioSystem audio;
    ScriptedRestarter restarter;
    ScriptedPause pause;
    RepairCoordinator coordinator{audio, restarter, std::ref(pause)};

    explicit Reselection(AudioSnapshot start = headphonesAndSpeakers()) : audio(std::move(start)) {}

    std::string run() { return runNow(coordinator.perform(RepairAction::reselectOutput, std::nullopt, std::nullopt)); }

    AudioRepairError failure()
    {
        try {
            run();
        } catch (const AudioRepairError& error) {
            return error;
        }
        throw std::logic_error("the reselection succeeded");
    }

    bool speakersMuted() const { return audio.state.deviceWithUID(speakers)->isMuted == true; }
    std::string output() const { return audio.state.outputDevice() ? audio.state.outputDevice()->uid : "none"; }

    // The headphones read back once when reselected, then the route falls back
    // to the speakers. After the first pause the reselection reads to find the
    // headphones, reads to verify their selection, then looks: the third reading.
    void fallBackOnceReselected(std::function<void(AudioSnapshot&)> fallback)
    {
        pause.during(1, [this, fallback] { audio.beforeRead(audio.reads + 3, fallback); });
    }
};

void routeToSpeakers(AudioSnapshot& s)
{
    s.outputID = speakersID;
}

void disconnectHeadphones(AudioSnapshot& s)
{
    std::erase_if(s.devices, [](const AudioDevice& d) { return d.uid == headphones; });
}

TEST(reselection_test, headphones_come_back_with_the_configuration_unchanged)
{
    Reselection r;
    EXPECT_EQ(r.run(), reselected);
    EXPECT_EQ(r.audio.writes, (std::vector<AudioSetting>{muteSpeakers(true), outputTo(speakers), outputTo(headphones),
                                                         muteSpeakers(false)}));
    EXPECT_EQ(r.pause.count, 2);
    EXPECT_TRUE(r.audio.state == headphonesAndSpeakers());
    // Nothing to offer for undo: the switch left no trace.
    EXPECT_TRUE(r.coordinator.lastChanges().empty());
}

TEST(reselection_test, speakers_already_muted_are_neither_muted_nor_unmuted)
{
    auto start = headphonesAndSpeakers();
    start.devices[0].isMuted = true;
    Reselection r(start);
    EXPECT_EQ(r.run(), reselected);
    EXPECT_EQ(r.audio.writes, (std::vector<AudioSetting>{outputTo(speakers), outputTo(headphones)}));
    EXPECT_TRUE(r.speakersMuted());
    EXPECT_EQ(r.pause.count, 2);
}

TEST(reselection_test, a_usb_interface_listed_first_is_never_the_alternate)
{
    auto start = headphonesAndSpeakers();
    start.devices.insert(start.devices.begin(), fixtures::output(3, "Interface", AudioTransport::usb));
    Reselection r(start);
    EXPECT_EQ(r.run(), reselected);
    EXPECT_EQ(r.audio.writes, (std::vector<AudioSetting>{muteSpeakers(true), outputTo(speakers), outputTo(headphones),
                                                         muteSpeakers(false)}));
}

TEST(reselection_test, refusals_before_the_switch_write_nothing)
{
    const std::string unsupported = "This device does not support that change. Use Sound settings or Volume Control.";
    struct Case {
        std::function<void(AudioSnapshot&)> change;
        std::string error;
    };
    const Case cases[] = {
        // Wired outputs renegotiate nothing by being reselected.
        {[](AudioSnapshot& s) { s.devices[1].transport = AudioTransport::usb; }, unsupported},
        // Speakers that cannot be muted would play during the switch.
        {[](AudioSnapshot& s) { s.devices[0].canSetMute = false; }, unsupported},
        // Switching the route would interrupt a call.
        {[](AudioSnapshot& s) { s.inputIOActive = true; },
         "A microphone or input device is in use. End the call or recording before changing the input or resetting "
         "audio."},
        {[](AudioSnapshot& s) { s.inputActivityKnown = false; },
         "Input activity could not be checked. Try again before resetting audio or changing the input."},
    };
    for (const auto& c : cases) {
        auto start = headphonesAndSpeakers();
        c.change(start);
        Reselection r(start);
        EXPECT_EQ(r.failure().description(), c.error);
        EXPECT_TRUE(r.audio.writes.empty());
        EXPECT_EQ(r.pause.count, 0);
    }
}

TEST(reselection_test, headphones_vanishing_during_the_first_pause_leave_the_muted_speakers_as_output)
{
    Reselection r;
    r.pause.during(1, [&r] { disconnectHeadphones(r.audio.state); });
    const std::string gone = "The audio device disconnected. Reconnect it and run the check again.";
    // Selecting the vanished headphones back fails too, and says so.
    EXPECT_EQ(r.failure().description(), stopped(gone, gone + " " + keptMuted));
    EXPECT_EQ(r.output(), speakers);
    EXPECT_TRUE(r.speakersMuted());
    EXPECT_EQ(r.audio.writes, (std::vector<AudioSetting>{muteSpeakers(true), outputTo(speakers), muteSpeakers(true)}));
    EXPECT_EQ(r.pause.count, 1);
}

TEST(reselection_test, a_call_starting_during_the_first_pause_is_rolled_back_and_reported)
{
    Reselection r;
    r.pause.during(1, [&r] { r.audio.state.inputIOActive = true; });
    const auto error = r.failure();
    EXPECT_EQ(error, AudioRepairError::recordingActive());
    EXPECT_EQ(r.audio.writes, (std::vector<AudioSetting>{muteSpeakers(true), outputTo(speakers), outputTo(headphones),
                                                         muteSpeakers(false)}));
    EXPECT_EQ(r.output(), headphones);
    EXPECT_FALSE(r.speakersMuted());
    EXPECT_TRUE(r.coordinator.lastChanges().empty());
    EXPECT_EQ(r.pause.count, 1);
}

TEST(reselection_test, input_becoming_unknown_while_waiting_for_the_headphones_is_rolled_back)
{
    Reselection r;
    r.fallBackOnceReselected(routeToSpeakers);
    r.pause.during(2, [&r] { r.audio.state.inputActivityKnown = false; });
    EXPECT_EQ(r.failure(), AudioRepairError::inputActivityUnknown());
    // The speakers are unmuted only after the headphones are the output again.
    EXPECT_EQ(r.audio.writes, (std::vector<AudioSetting>{muteSpeakers(true), outputTo(speakers), outputTo(headphones),
                                                         outputTo(headphones), muteSpeakers(false)}));
    EXPECT_EQ(r.output(), headphones);
    EXPECT_EQ(r.pause.count, 2);
}

TEST(reselection_test, a_slow_return_of_the_headphones_is_awaited_one_pause_per_look)
{
    for (int waits : {1, 4, 10}) {
        Reselection r;
        r.fallBackOnceReselected(routeToSpeakers);
        for (int wait = 1; wait <= waits; ++wait)
            r.pause.during(1 + wait, [&r, wait, waits] {
                EXPECT_TRUE(r.speakersMuted()) << "speakers unmuted while they were the output";
                if (wait == waits)
                    r.audio.state.outputID = headphonesID;
            });
        EXPECT_EQ(r.run(), reselected) << waits << " waits";
        // The first pause, the waits, and the final look.
        EXPECT_EQ(r.pause.count, waits + 2);
        EXPECT_TRUE(r.audio.state == headphonesAndSpeakers());
    }
}

TEST(reselection_test, headphones_still_missing_after_ten_waits_keep_the_speakers_muted)
{
    Reselection r;
    r.fallBackOnceReselected([](AudioSnapshot& s) {
        disconnectHeadphones(s);
        routeToSpeakers(s);
    });
    EXPECT_EQ(r.failure().description(),
              stopped("The expected audio settings or device could not be verified. Check Devices, reconnect if "
                      "needed, and listen again.",
                      "The audio device disconnected. Reconnect it and run the check again. " + keptMuted));
    EXPECT_EQ(r.pause.count, 12);
    // Unmuting the speakers as the output would play through them.
    EXPECT_EQ(std::count(r.audio.writes.begin(), r.audio.writes.end(), muteSpeakers(false)), 0);
    EXPECT_EQ(r.output(), speakers);
    EXPECT_TRUE(r.speakersMuted());
}

TEST(reselection_test, a_switch_to_the_speakers_that_shows_late_never_leaves_them_playing)
{
    Reselection r;
    // Accepted at once, visible from the third reading on (as when a session
    // manager applies the new default asynchronously).
    r.audio.slowWrites(settingsOf<AudioSetting::Output>(speakers), 2);
    const std::string unverified = "The expected audio settings or device could not be verified. Check Devices, "
                                   "reconnect if needed, and listen again.";
    EXPECT_EQ(r.failure().description(), stopped(unverified, unverified + " " + keptMuted));
    EXPECT_EQ(r.audio.writes, (std::vector<AudioSetting>{muteSpeakers(true), outputTo(speakers), outputTo(headphones),
                                                         muteSpeakers(true)}));
    r.audio.snapshot();
    EXPECT_EQ(r.output(), speakers);
    EXPECT_TRUE(r.speakersMuted());
    EXPECT_EQ(r.pause.count, 0);
}

TEST(reselection_test, a_refused_rollback_write_is_added_to_the_error)
{
    const auto rejected = AudioRepairError::system("The audio service rejected the change (Access denied).");
    Reselection r;
    r.audio.refuseWrites(settingsOf<AudioSetting::Output>(headphones), rejected);
    r.pause.during(1, [&r] { r.audio.state.inputIOActive = true; });
    EXPECT_EQ(r.failure().description(),
              stopped("A microphone or input device is in use. End the call or recording before changing the input "
                      "or resetting audio.",
                      rejected.description() + " " + keptMuted));
    EXPECT_EQ(r.output(), speakers);
    EXPECT_TRUE(r.speakersMuted());
}

TEST(reselection_test, speakers_that_cannot_be_muted_again_are_named_in_the_error)
{
    const auto rejected = AudioRepairError::system("The audio service rejected the change (Timeout).");
    Reselection r;
    r.pause.during(1, [&r, rejected] {
        disconnectHeadphones(r.audio.state);
        r.audio.refuseWrites(settingsOf<AudioSetting::Mute>(speakers), rejected);
    });
    const std::string gone = "The audio device disconnected. Reconnect it and run the check again.";
    EXPECT_EQ(r.failure().description(),
              stopped(gone, gone
                          + " Could not verify that Built-in Audio remains muted. Check its hardware volume before "
                            "playing audio: "
                          + rejected.description()));
    EXPECT_EQ(r.audio.writes, (std::vector<AudioSetting>{muteSpeakers(true), outputTo(speakers)}));
}

TEST(reselection_precondition_test, holds_only_for_bluetooth_output_with_speakers_that_can_be_muted)
{
    struct Case {
        std::function<void(AudioSnapshot&)> change;
        bool holds;
    };
    const Case cases[] = {
        {[](AudioSnapshot&) {}, true},
        // Not Bluetooth.
        {[](AudioSnapshot& s) { s.devices[1].transport = AudioTransport::builtIn; }, false},
        // No built-in speakers, or disconnected ones.
        {[](AudioSnapshot& s) { s.devices[0].transport = AudioTransport::display; }, false},
        {[](AudioSnapshot& s) { s.devices[0].isAlive = false; }, false},
        // No mute control, or a read-only one.
        {[](AudioSnapshot& s) { s.devices[0].isMuted.reset(); }, false},
        {[](AudioSnapshot& s) { s.devices[0].canSetMute = false; }, false},
        // Per-channel controls: every one that reports mute must be writable;
        // volume-only channels do not matter.
        {[](AudioSnapshot& s) {
             s.devices[0].outputControls = {fixtures::control(0, 0.5f, false), fixtures::control(1, 0.5f, {})};
         },
         true},
        {[](AudioSnapshot& s) {
             s.devices[0].outputControls = {fixtures::control(0, 0.5f, false),
                                            fixtures::control(1, 0.5f, false, true, false)};
         },
         false},
        // Only the first built-in output is considered, even if a later one could be muted.
        {[](AudioSnapshot& s) {
             auto silentKind = s.devices[0];
             silentKind.isMuted.reset();
             silentKind.uid = "uid-Line Out";
             silentKind.id = 3;
             s.devices.insert(s.devices.begin(), silentKind);
         },
         false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        auto snapshot = headphonesAndSpeakers();
        cases[i].change(snapshot);
        EXPECT_EQ(canReselectOutput(snapshot), cases[i].holds) << "case " << i;
    }
}

}  // namespace
