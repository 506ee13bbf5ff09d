#include "diagnostics/diagnostics.h"
#include "support/repair_harness.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace sonorel;
using namespace sonorel::testing;

const std::string reselected = "Headphones was reselected without restarting the audio service. The alternate "
                               "speakers stayed muted during the switch. Listen again to check the result.";
const std::string keptMuted = "Built-in Audio speakers remain muted to prevent unintended playback. Reconnect "
                              "headphones or use Restore sound when you are ready.";

std::string stopped(const std::string& error, const std::string& notes)
{
    return "Reselection stopped: " + error + " Some temporary settings could not be restored: " + notes
        + " Check Devices before playing audio.";
}

// The harness's headphones, made Bluetooth; its unmuted built-in speakers are the alternate.
class reselection : public RepairHarness {
protected:
    void SetUp() override
    {
        device(headphonesID).transport = AudioTransport::bluetooth;
        device(speakersID).name = "Built-in Audio";
        start = audio.state;
    }

    std::string run() { return outcome(RepairAction::reselectOutput); }
    bool speakersMuted() { return device(speakersID).isMuted == true; }
    std::string output() const { return audio.state.outputDevice() ? audio.state.outputDevice()->uid : "none"; }
    S muteSpeakers(bool muted) const { return S::Mute{speakers, outputSide, 0, muted}; }
    // mute, switch to the speakers, switch back, unmute
    std::vector<S> roundTrip() const
    {
        return {muteSpeakers(true), S::Output{speakers}, S::Output{headphones}, muteSpeakers(false)};
    }

    // The headphones read back once when reselected, then the route falls back
    // to the speakers. After the first pause the reselection reads to find the
    // headphones, reads to verify their selection, then looks: the third reading.
    void fallBackOnceReselected(std::function<void(AudioSnapshot&)> fallback)
    {
        pause.during(1, [this, fallback] { audio.beforeRead(audio.reads + 3, fallback); });
    }
    void disconnectHeadphones() { std::erase_if(audio.state.devices, [](auto& d) { return d.id == headphonesID; }); }

    AudioSnapshot start;
};

TEST_F(reselection, headphones_come_back_unchanged_and_a_usb_output_listed_first_is_never_the_alternate)
{
    audio.state.devices.insert(audio.state.devices.begin(), fixtures::output(5, "Interface", AudioTransport::usb));
    // Channels without a mute are neither muted nor in the way.
    device(speakersID).outputControls = {fixtures::control(0, 0.5f, false), fixtures::control(1, 0.5f, {})};
    start = audio.state;
    EXPECT_EQ(run(), reselected);
    EXPECT_EQ(audio.writes, roundTrip());
    EXPECT_EQ(pause.count, 2);
    EXPECT_TRUE(audio.state == start);
    // Nothing to offer for undo: the switch left no trace.
    EXPECT_TRUE(coordinator.lastChanges().empty());
}

TEST_F(reselection, speakers_already_muted_are_neither_muted_nor_unmuted)
{
    device(speakersID).isMuted = true;
    EXPECT_EQ(run(), reselected);
    EXPECT_EQ(audio.writes, (std::vector<S>{S::Output{speakers}, S::Output{headphones}}));
    EXPECT_TRUE(speakersMuted());
    EXPECT_EQ(pause.count, 2);
}

TEST_F(reselection, refusals_before_the_switch_write_nothing)
{
    const std::vector<std::pair<std::function<void(AudioSnapshot&)>, std::string>> cases{
        // Wired outputs renegotiate nothing by being reselected.
        {[](AudioSnapshot& s) { s.devices[1].transport = AudioTransport::usb; }, sentence::unsupported},
        // No built-in speakers to switch to, or only dead ones.
        {[](AudioSnapshot& s) { s.devices[0].transport = AudioTransport::display; }, sentence::unsupported},
        {[](AudioSnapshot& s) { s.devices[0].isAlive = false; }, sentence::unsupported},
        // Speakers that cannot be muted, wholly or on one channel, would play during the switch.
        {[](AudioSnapshot& s) { s.devices[0].isMuted.reset(); }, sentence::unsupported},
        {[](AudioSnapshot& s) { s.devices[0].canSetMute = false; }, sentence::unsupported},
        {[](AudioSnapshot& s) { s.devices[0].outputControls = {fixtures::control(1, 0.5f, false, true, false)}; },
         sentence::unsupported},
        // Only the first built-in output is considered, even if a later one could be muted.
        {[](AudioSnapshot& s) {
             s.devices.insert(s.devices.begin(), fixtures::output(6, "Line Out"));
             s.devices[0].isMuted.reset();
         },
         sentence::unsupported},
        // Switching the route would interrupt a call.
        {[](AudioSnapshot& s) { s.inputIOActive = true; }, sentence::recordingActive},
        {[](AudioSnapshot& s) { s.inputActivityKnown = false; }, sentence::inputActivityUnknown},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        audio.state = start;
        cases[i].first(audio.state);
        EXPECT_EQ(canReselectOutput(audio.state), cases[i].second != sentence::unsupported) << "case " << i;
        EXPECT_EQ(run(), cases[i].second) << "case " << i;
        EXPECT_TRUE(audio.writes.empty());
        EXPECT_EQ(pause.count, 0);
    }
}

TEST_F(reselection, headphones_vanishing_during_the_first_pause_leave_the_muted_speakers_as_output)
{
    pause.during(1, [this] { disconnectHeadphones(); });
    // Selecting the vanished headphones back fails too, and says so.
    EXPECT_EQ(run(), stopped(sentence::deviceGone, sentence::deviceGone + " " + keptMuted));
    EXPECT_EQ(output(), speakers);
    EXPECT_TRUE(speakersMuted());
    EXPECT_EQ(audio.writes, (std::vector<S>{muteSpeakers(true), S::Output{speakers}, muteSpeakers(true)}));
    EXPECT_EQ(pause.count, 1);
}

TEST_F(reselection, a_call_starting_during_the_first_pause_is_rolled_back_and_reported)
{
    pause.during(1, [this] { audio.state.inputIOActive = true; });
    EXPECT_EQ(run(), sentence::recordingActive);
    EXPECT_EQ(audio.writes, roundTrip());
    EXPECT_EQ(output(), headphones);
    EXPECT_FALSE(speakersMuted());
    EXPECT_TRUE(coordinator.lastChanges().empty());
    EXPECT_EQ(pause.count, 1);
}

TEST_F(reselection, input_becoming_unknown_while_waiting_for_the_headphones_is_rolled_back)
{
    fallBackOnceReselected([](AudioSnapshot& s) { s.outputID = speakersID; });
    pause.during(2, [this] { audio.state.inputActivityKnown = false; });
    EXPECT_EQ(run(), sentence::inputActivityUnknown);
    // The speakers are unmuted only after the headphones are the output again.
    EXPECT_EQ(audio.writes, (std::vector<S>{muteSpeakers(true), S::Output{speakers}, S::Output{headphones},
                                            S::Output{headphones}, muteSpeakers(false)}));
    EXPECT_EQ(output(), headphones);
    EXPECT_EQ(pause.count, 2);
}

TEST_F(reselection, a_slow_return_of_the_headphones_is_awaited_up_to_ten_pauses_with_the_speakers_muted)
{
    fallBackOnceReselected([](AudioSnapshot& s) { s.outputID = speakersID; });
    for (int wait = 1; wait <= 10; ++wait)
        pause.during(1 + wait, [this, wait] {
            EXPECT_TRUE(speakersMuted()) << "speakers unmuted while they were the output";
            if (wait == 10)
                audio.state.outputID = headphonesID;
        });
    EXPECT_EQ(run(), reselected);
    // The first pause, the waits, and the final look.
    EXPECT_EQ(pause.count, 12);
    EXPECT_TRUE(audio.state == start);
}

TEST_F(reselection, headphones_still_missing_after_ten_waits_keep_the_speakers_muted)
{
    fallBackOnceReselected([](AudioSnapshot& s) {
        s.outputID = speakersID;
        std::erase_if(s.devices, [](auto& d) { return d.id == headphonesID; });
    });
    EXPECT_EQ(run(), stopped(sentence::recoveryFailed, sentence::deviceGone + " " + keptMuted));
    EXPECT_EQ(pause.count, 12);
    // Unmuting the speakers as the output would play through them.
    EXPECT_EQ(std::count(audio.writes.begin(), audio.writes.end(), muteSpeakers(false)), 0);
    EXPECT_EQ(output(), speakers);
    EXPECT_TRUE(speakersMuted());
}

TEST_F(reselection, a_switch_to_the_speakers_that_shows_late_never_leaves_them_playing)
{
    // Accepted at once, visible from the third reading on (as when a session
    // manager applies the new default asynchronously).
    audio.slowWrites(settingsOf<S::Output>(speakers), 2);
    EXPECT_EQ(run(), stopped(sentence::recoveryFailed, sentence::recoveryFailed + " " + keptMuted));
    EXPECT_EQ(audio.writes, (std::vector<S>{muteSpeakers(true), S::Output{speakers}, S::Output{headphones},
                                            muteSpeakers(true)}));
    audio.snapshot();
    EXPECT_EQ(output(), speakers);
    EXPECT_TRUE(speakersMuted());
    EXPECT_EQ(pause.count, 0);
}

TEST_F(reselection, a_refused_rollback_write_is_added_to_the_error)
{
    const auto rejected = AudioRepairError::system("The audio service rejected the change (Access denied).");
    audio.refuseWrites(settingsOf<S::Output>(headphones), rejected);
    pause.during(1, [this] { audio.state.inputIOActive = true; });
    EXPECT_EQ(run(), stopped(sentence::recordingActive, rejected.description() + " " + keptMuted));
    EXPECT_EQ(output(), speakers);
    EXPECT_TRUE(speakersMuted());
}

TEST_F(reselection, speakers_that_cannot_be_muted_again_are_named_in_the_error)
{
    const auto rejected = AudioRepairError::system("The audio service rejected the change (Timeout).");
    pause.during(1, [this, rejected] {
        disconnectHeadphones();
        audio.refuseWrites(settingsOf<S::Mute>(speakers), rejected);
    });
    EXPECT_EQ(run(), stopped(sentence::deviceGone, sentence::deviceGone
                                                      + " Could not verify that Built-in Audio remains muted. Check "
                                                        "its hardware volume before playing audio: "
                                                      + rejected.description()));
    EXPECT_EQ(audio.writes, (std::vector<S>{muteSpeakers(true), S::Output{speakers}}));
}

// The Bluetooth headphones' card left in its headset profile after a call,
// its microphone side idle.
class call_mode : public reselection {
protected:
    void SetUp() override
    {
        reselection::SetUp();
        audio.state.cards = {{"bluez_card.1", "Headphones", "bluetooth", "headset_head_unit",
                              {{"a2dp_sink", "High Fidelity Playback (A2DP Sink)", true, 40, 1, 0},
                               {"headset_head_unit", "Headset Head Unit (HSP/HFP)", true, 30, 1, 1},
                               {"off", "Off", true, 0, 0, 0}}}};
        device(headphonesID).sampleRate = 16000;
        device(headphonesID).cardName = "bluez_card.1";
        auto microphoneSide = fixtures::input(6, "Headphones", AudioTransport::bluetooth);
        microphoneSide.uid = "uid-Headphones-input";
        microphoneSide.cardName = "bluez_card.1";
        audio.state.devices.push_back(microphoneSide);
        start = audio.state;
    }

    static S profile(std::string name) { return S::Profile{"bluez_card.1", std::move(name)}; }
    const AudioDevice& now() const { return *audio.state.deviceWithUID(headphones); }
    std::string activeProfile() const { return audio.state.cards[0].activeProfile; }
    const std::string switchedBack = "Headphones switched back to high-fidelity playback. The built-in speakers "
                                     "stayed muted during the switch. Listen again to check the result.";
};

TEST_F(call_mode, the_card_returns_to_high_fidelity_stays_the_preferred_output_and_undo_restores_the_call_profile)
{
    EXPECT_EQ(run(), switchedBack);
    EXPECT_EQ(audio.writes, (std::vector<S>{muteSpeakers(true), S::Output{speakers}, profile("a2dp_sink"),
                                            S::Output{headphones}, muteSpeakers(false)}));
    EXPECT_EQ(activeProfile(), "a2dp_sink");
    EXPECT_EQ(now().sampleRate, 48000);
    EXPECT_EQ(output(), headphones);
    EXPECT_FALSE(speakersMuted());
    // The server made a new sink; the remembered headphones are still the ones playing.
    const PreferredOutput preferred{headphones, "Headphones", true};
    EXPECT_EQ(Diagnostics::checks(audio.state, preferred)[0].detail, "Headphones is connected and selected.");
    EXPECT_EQ(Diagnostics::checks(audio.state, preferred)[2].state, CheckState::passed);

    const std::vector<Change> switched{{profile("headset_head_unit"), profile("a2dp_sink")}};
    ASSERT_EQ(coordinator.lastChanges(), switched);
    // Switching back to the call profile takes the input route too.
    audio.state.inputIOActive = true;
    EXPECT_EQ(undo(switched), sentence::recordingActive);
    audio.state.inputIOActive = false;
    EXPECT_EQ(undo(switched), "undone");
    EXPECT_EQ(activeProfile(), "headset_head_unit");
    EXPECT_EQ(now().sampleRate, 16000);
    EXPECT_EQ(output(), headphones);
}

TEST_F(call_mode, a_recording_keeps_the_headset_microphone_and_the_card_untouched)
{
    device(6).isRunningInput = true;
    EXPECT_EQ(run(), sentence::recordingActive);
    EXPECT_TRUE(audio.writes.empty());

    // A call that starts while the speakers play muted stops the switch before the card is touched.
    audio.state = start;
    pause.during(1, [this] { audio.state.inputIOActive = true; });
    EXPECT_EQ(run(), sentence::recordingActive);
    EXPECT_EQ(audio.writes, roundTrip());
    EXPECT_EQ(activeProfile(), "headset_head_unit");
    EXPECT_TRUE(coordinator.lastChanges().empty());
}

TEST_F(call_mode, a_refused_ignored_or_unheard_switch_fails_with_profile_and_speakers_rolled_back)
{
    std::string server;
    const auto toHighFidelity = [&server](const std::string& when) {
        return [&server, when](const S& s) { return server == when && s == profile("a2dp_sink"); };
    };
    audio.refuseWrites(toHighFidelity("refused"), AudioRepairError::system("Access denied"));
    audio.slowWrites(toHighFidelity("ignored"), 1000);
    for (const char* name : {"refused", "ignored", "still at 16 kHz"}) {
        server = name;
        resetServer();
        audio.state = start;
        pause = ScriptedPause{};
        // Switched, but playing at 16 kHz at the last look.
        if (server == "still at 16 kHz")
            pause.during(2, [this] { audio.state.devices[1].sampleRate = 16000; });
        EXPECT_EQ(run(), sentence::recoveryFailed) << name;
        EXPECT_EQ(activeProfile(), "headset_head_unit") << name;
        EXPECT_EQ(output(), headphones) << name;
        EXPECT_FALSE(speakersMuted()) << name;
        EXPECT_TRUE(coordinator.lastChanges().empty()) << name;
    }
}

}  // namespace
