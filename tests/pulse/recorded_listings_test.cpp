// Real machines' `pactl list` output (tests/data/listings, each file naming
// its public source) through the real mapping, the diagnosis a user reads and
// the repairs that write, on a scripted server started from that reading.

#include "diagnostics/diagnostics.h"
#include "pulse/pulse_mapping.h"
#include "support/pactl_listing.h"
#include "support/repair_harness.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace sonorel;
using namespace sonorel::testing;

AudioSnapshot recorded(const std::string& file, bool isPipeWire, std::string defaultSink, std::string defaultSource = {})
{
    const auto path = std::filesystem::path(SONOREL_LISTINGS_DIR) / file;
    return pulse::snapshotOf(readListing(path, std::move(defaultSink), std::move(defaultSource)), isPipeWire);
}

DiagnosticCheck checkOf(const AudioSnapshot& snapshot, CheckKind kind)
{
    return Diagnostics::checks(snapshot, std::nullopt).at(size_t(kind));
}

// A laptop whose speakers play while its headphone jack is empty.
struct Laptop {
    std::string file;
    bool isPipeWire;
    std::string sink;
    std::string card;
    std::string speakers;
    std::string headphones;
    std::string volume;  // the volume check's words for the sink's level
};

const Laptop laptops[] = {
    {"pulseaudio-laptop.txt", false, "alsa_output.pci-0000_06_00.6.analog-stereo", "alsa_card.pci-0000_06_00.6",
     "analog-output-speaker", "analog-output-headphones", "Output volume is 100%."},
    {"pipewire-laptop.txt", true, "alsa_output.pci-0000_06_00.6.HiFi__hw_Generic__sink", "alsa_card.pci-0000_06_00.6",
     "[Out] Speaker", "[Out] Headphones", "Output volume is 50%."},
};

AudioSnapshot recorded(const Laptop& laptop)
{
    return recorded(laptop.file, laptop.isPipeWire, laptop.sink);
}

struct Server {
    explicit Server(const AudioSnapshot& start) : audio(start) {}
    ScriptedAudioSystem audio;
    ScriptedRestarter restarter;
    ScriptedPause pause;
    RepairCoordinator coordinator{audio, restarter, std::ref(pause)};

    // The repair's message, or the sentence of the error it ended with.
    std::string perform(RepairAction action)
    {
        try {
            return runNow(coordinator.perform(action, std::nullopt, std::nullopt));
        } catch (const AudioRepairError& error) {
            return error.description();
        }
    }
};

// On a server that applies every write the repair makes exactly `change`,
// which reads back and which undo takes back. Returns the server's state after the repair.
AudioSnapshot expectDoneAndUndone(const AudioSnapshot& start, RepairAction action, const Change& change)
{
    Server server(start);
    server.perform(action);
    const AudioSnapshot repaired = server.audio.state;
    EXPECT_EQ(server.coordinator.lastChanges(), std::vector<Change>{change});
    EXPECT_TRUE(repaired.confirms(change.after));
    server.coordinator.undo(server.coordinator.lastChanges());
    EXPECT_TRUE(server.audio.state.confirms(change.before));
    return repaired;
}

// A server that refuses the write and one that accepts it but never applies
// it: either way the user is told it did not work, and nothing changed.
void expectNotDone(const AudioSnapshot& start, RepairAction action, const SettingFilter& write,
                   const std::string& refused)
{
    for (const bool refuses : {true, false}) {
        SCOPED_TRACE(refuses ? "refused" : "ignored");
        Server server(start);
        if (refuses)
            server.audio.refuseWrites(write, AudioRepairError::unsupported());
        else
            server.audio.slowWrites(write, 1000);
        EXPECT_EQ(server.perform(action), refuses ? refused : sentence::recoveryFailed);
        EXPECT_TRUE(server.audio.state == start);
        EXPECT_TRUE(server.coordinator.lastChanges().empty());
    }
}

}  // namespace

TEST(recorded_listings, a_laptop_plays_through_its_speakers_and_its_empty_jacks_and_idle_hdmi_card_need_nothing)
{
    for (const auto& laptop : laptops) {
        SCOPED_TRACE(laptop.file);
        const AudioSnapshot s = recorded(laptop);
        const AudioDevice* out = s.outputDevice();
        ASSERT_TRUE(out);
        EXPECT_EQ(out->cardName, laptop.card);
        // pipewire-pulse 0.3 puts the bus on the card only.
        EXPECT_EQ(out->transport, AudioTransport::builtIn);
        EXPECT_EQ(out->activePort, laptop.speakers);
        // Speakers sense no jack; the headphone jack senses that nothing is in it.
        ASSERT_TRUE(out->port(laptop.speakers) && out->port(laptop.headphones));
        EXPECT_EQ(out->port(laptop.speakers)->type, "speaker");
        EXPECT_EQ(out->port(laptop.speakers)->availability, PortAvailability::unknown);
        EXPECT_EQ(out->port(laptop.headphones)->type, "headphones");
        EXPECT_EQ(out->port(laptop.headphones)->availability, PortAvailability::unavailable);
        EXPECT_EQ(out->outputChannels, 2);
        // The other card is off with nothing it could play (no display attached, or
        // no HDMI profile at all): no card to turn on.
        EXPECT_FALSE(s.cardOutputToTurnOn());
        EXPECT_EQ(checkOf(s, CheckKind::output).state, CheckState::passed);
        EXPECT_EQ(checkOf(s, CheckKind::volume).detail, laptop.volume);
        for (const auto& check : Diagnostics::checks(s, std::nullopt))
            EXPECT_NE(check.state, CheckState::issue) << check.detail;
    }
}

TEST(recorded_listings, the_speakers_monitor_is_no_input_and_the_internal_microphone_records_with_its_jack_empty)
{
    const std::string microphone = "alsa_input.pci-0000_06_00.6.analog-stereo";
    const AudioSnapshot s = recorded(laptops[0].file, false, laptops[0].sink, microphone);
    std::vector<std::string> uids;
    for (const auto& d : s.devices)
        uids.push_back(d.uid);
    EXPECT_EQ(uids, (std::vector<std::string>{laptops[0].sink, microphone}));
    const AudioDevice* in = s.inputDevice();
    ASSERT_TRUE(in);
    EXPECT_EQ(in->activePort, "analog-input-internal-mic");
    EXPECT_EQ(in->port("analog-input-mic")->availability, PortAvailability::unavailable);
    EXPECT_EQ(checkOf(s, CheckKind::microphone).state, CheckState::passed);
}

TEST(recorded_listings, a_card_left_off_is_turned_on_to_its_best_output_profile_and_back_off_by_undo)
{
    struct TurnedOff {
        std::string what;
        AudioSnapshot reading;
        std::string card;
        std::string description;
        std::string profile;
    };
    // The laptop as a mixer leaves it when the user turns its card off.
    AudioSnapshot laptopOff = recorded(laptops[0]);
    applyToState(laptopOff, S::Profile{laptops[0].card, "off"});
    const TurnedOff cases[] = {
        {"turned off", laptopOff, laptops[0].card, "Family 17h (Models 10h-1fh) HD Audio Controller",
         "output:analog-stereo+input:analog-stereo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(checkOf(c.reading, CheckKind::output),
                  (DiagnosticCheck{CheckKind::output, CheckState::issue,
                                   "No working sound device is available. " + c.description
                                       + " is turned off. Turn its output on.",
                                   RepairAction::turnOnOutput}));
        const auto repaired = expectDoneAndUndone(c.reading, RepairAction::turnOnOutput,
                                                  {S::Profile{c.card, "off"}, S::Profile{c.card, c.profile}});
        // The card's new output became the default.
        ASSERT_TRUE(repaired.outputDevice());
        EXPECT_EQ(repaired.outputDevice()->cardName, c.card);
        expectNotDone(c.reading, RepairAction::turnOnOutput, settingsOf<S::Profile>(), sentence::recoveryFailed);
    }
}

// The Chromebook's only card is off and its stereo output unavailable: Pro
// Audio would open raw channels without the card's mixer set up, so nothing
// is turned on and the card is named as having no output that can play.
TEST(recorded_listings, a_card_whose_outputs_are_all_unavailable_is_named_and_not_switched_to_pro_audio)
{
    const AudioSnapshot s = recorded("pipewire-card-off.txt", true, "");
    EXPECT_FALSE(s.cardOutputToTurnOn());
    EXPECT_EQ(checkOf(s, CheckKind::output),
              (DiagnosticCheck{CheckKind::output, CheckState::issue,
                               "No working sound device is available. Alder Lake PCH-P High Definition Audio Controller "
                               "has no output that can play now. Connect headphones, a display, or speakers.",
                               std::nullopt}));
}

TEST(recorded_listings, an_empty_headphone_jack_picked_in_a_mixer_is_switched_back_to_the_speakers)
{
    for (const auto& laptop : laptops) {
        SCOPED_TRACE(laptop.file);
        // No listing found has the empty jack selected; a mixer lets the user pick
        // it, and the server takes it.
        AudioSnapshot picked = recorded(laptop);
        applyToState(picked, S::Port{laptop.sink, outputSide, laptop.headphones});
        const auto output = checkOf(picked, CheckKind::output);
        EXPECT_EQ(output.state, CheckState::issue);
        EXPECT_EQ(output.action, RepairAction::switchOutputPort);
        expectDoneAndUndone(picked, RepairAction::switchOutputPort,
                            {S::Port{laptop.sink, outputSide, laptop.headphones},
                             S::Port{laptop.sink, outputSide, laptop.speakers}});
        expectNotDone(picked, RepairAction::switchOutputPort, settingsOf<S::Port>(), sentence::unsupported);
    }
}

// Headsets in their call profile, each listed without the rest of its
// machine: a PulseAudio card that ranks its call profile above A2DP, and a
// PipeWire headset microphone listed without its card.
TEST(recorded_listings, a_headset_card_restores_a2dp_whatever_its_ranking_and_a_headset_without_card_is_judged_by_rate)
{
    const AudioSnapshot pulse = recorded("pulseaudio-bluetooth-headset-card.txt", false, "");
    ASSERT_EQ(pulse.cards.size(), 1u);
    const AudioCard& card = pulse.cards[0];
    EXPECT_EQ(card.bus, "bluetooth");
    EXPECT_EQ(card.activeKind(), CardProfileKind::call);
    ASSERT_TRUE(card.profile("headset_head_unit") && card.profile("a2dp_sink"));
    EXPECT_GT(card.profile("headset_head_unit")->priority, card.profile("a2dp_sink")->priority);
    ASSERT_TRUE(card.bestHighFidelityProfile());
    EXPECT_EQ(card.bestHighFidelityProfile()->name, "a2dp_sink");

    const std::string microphone = "bluez_input.58_FC_C6_0D_62_0D.0";
    const AudioSnapshot pipeWire = recorded("pipewire-bluetooth-headset-source.txt", true, "", microphone);
    const AudioDevice* in = pipeWire.inputDevice();
    ASSERT_TRUE(in);
    EXPECT_EQ(in->transport, AudioTransport::bluetooth);
    EXPECT_FALSE(in->cardName);
    EXPECT_EQ(in->uid, microphone);
    EXPECT_EQ(in->inputChannels, 1);
    EXPECT_EQ(in->sampleRate, 16000);
    EXPECT_TRUE(pipeWire.isInCallMode(*in));
}
