#include "diagnostics/diagnostics.h"

#include "support/snapshot_fixtures.h"

#include <gtest/gtest.h>

namespace {

using namespace sonorel;
using namespace sonorel::fixtures;
using enum CheckState;
using enum RepairAction;

constexpr std::nullopt_t none = std::nullopt;

struct Case {
    AudioSnapshot snapshot;
    CheckState state;
    std::string detail;
    std::optional<RepairAction> action = none;
    std::optional<PreferredOutput> preferred = none;
};

// Rows come from the whole diagnosis, the way the app reaches the rules, each
// at its kind's place in display order.
void expectRows(CheckKind kind, const std::vector<Case>& cases)
{
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const auto row = Diagnostics::checks(c.snapshot, c.preferred).at(size_t(kind));
        EXPECT_EQ(row, (DiagnosticCheck{kind, c.state, c.detail, c.action})) << "row " << i << ": " << row.detail;
    }
}

// The built-in Speakers (id 1) as media and alert output, after `edit`.
AudioSnapshot speakers(auto edit)
{
    auto d = output(1, "Speakers");
    edit(d);
    return snapshot({d}, 1, 0, 1);
}

const auto asIs = [](AudioDevice&) {};

AudioClient client(ProcessID pid, std::string name, std::vector<AudioObjectID> inputDeviceIDs = {})
{
    return AudioClient{AudioObjectID(pid), pid, std::move(name), none, std::move(inputDeviceIDs), {}, false, false, {}};
}

TEST(diagnostics, an_unreadable_configuration_gives_nine_unavailable_rows_carrying_the_error)
{
    auto s = speakers(asIs);
    s.readError = "The audio service is not running.";
    const auto rows = Diagnostics::checks(s, PreferredOutput{"uid-Buds", "Buds", true});
    ASSERT_EQ(rows.size(), allCheckKinds.size());
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i], (DiagnosticCheck{allCheckKinds[i], unknown, *s.readError, none}));
}

TEST(output_check, the_first_matching_row_decides)
{
    auto builtIn = output(1, "Speakers");
    auto headphones = output(2, "Headphones", AudioTransport::usb);
    auto loopback = output(9, "Loopback", AudioTransport::virtual_);
    auto dead = headphones;
    dead.isAlive = false;
    const PreferredOutput wired{"uid-Headphones", "My headphones", false};
    auto nothingPhysical = snapshot({dead, loopback}, 2);
    nothingPhysical.hardwareCards = {{0, "HDA Intel PCH", none, "", none, ""}};
    expectRows(CheckKind::output, {
        // A dead output and only a virtual one left: nothing physical to switch to.
        {nothingPhysical, issue, "No output is connected. Connect headphones, a display, or speakers."},
        // Without a default output the built-in one is offered even when listed last.
        {snapshot({loopback, headphones, builtIn}), issue, "No working output is selected. Switch to Speakers.",
         restoreOutput},
        // A default device without output channels cannot play.
        {snapshot({input(5, "Microphone"), headphones}, 5), issue,
         "No working output is selected. Switch to Headphones.", restoreOutput},
        // The preferred output is connected but not playing; its stored name is shown.
        {snapshot({builtIn, headphones}, 1), note,
         "Sound is playing through Speakers. Your preferred output, My headphones, is also connected.",
         restoreOutput, wired},
        // A listed but dead preferred output is not connected.
        {snapshot({builtIn, dead}, 1), note, "My headphones is not connected. Sound is playing through Speakers.",
         none, wired},
        // A missing Bluetooth preference sends the user to pair it.
        {snapshot({builtIn}, 1), note, "Buds is not connected. Sound is playing through Speakers.", openBluetooth,
         PreferredOutput{"uid-Buds", "Buds", true}},
        // Matched by uid, the preferred output is the one playing.
        {snapshot({headphones}, 2), passed, "Headphones is connected and selected.", none, wired},
        {snapshot({builtIn, loopback}, 9), note,
         "Loopback is a virtual output. You hear it only while the app that owns it is passing sound along."},
    });
}

// The server's placeholder ("Dummy Output") as the default output, on a
// machine whose kernel lists `hardware` and whose server lists `cards`.
AudioSnapshot placeholder(std::vector<AudioCard> cards, std::vector<HardwareCard> hardware)
{
    auto dummy = output(1, "Dummy Output", AudioTransport::virtual_);
    dummy.isPlaceholder = true;
    auto s = snapshot({dummy}, 1, 0, 1);
    s.cards = std::move(cards);
    s.hardwareCards = std::move(hardware);
    return s;
}

const HardwareCard pch{0, "HDA Intel PCH", none, "", none, ""};

// A laptop's card in `active`, with an analog profile (available as told)
// and an HDMI profile whose display has no audio.
AudioCard laptopCard(std::string active, bool analogAvailable = true)
{
    return {"alsa_card.pci-0000_00_1f.3", "Built-in Audio", "pci", std::move(active),
            {{"output:analog-stereo+input:analog-stereo", "Analog Stereo Duplex", analogAvailable, 6565, 1, 1},
             {"output:hdmi-stereo", "Digital Stereo (HDMI) Output", false, 5900, 1, 0},
             {"off", "Off", true, 0, 0, 0}}};
}

TEST(output_check, no_real_output_names_its_cause_and_the_way_out)
{
    const std::string dummy = "No working sound device is available, so sound plays to Dummy Output, which plays to "
                              "nothing.";
    auto beside = placeholder({}, {pch});
    beside.devices.push_back(output(2, "Speakers"));
    auto held = pch;
    held.playbackOwnerPID = 812;
    held.playbackOwnerName = "jackd";
    auto noDefault = placeholder({laptopCard("off")}, {pch});
    noDefault.outputID.reset();
    expectRows(CheckKind::output, {
        {beside, issue, "Sound plays to Dummy Output, which plays to nothing. Switch to Speakers.", restoreOutput},
        {placeholder({laptopCard("off")}, {pch}), issue, dummy + " Built-in Audio is turned off. Turn its output on.",
         turnOnOutput},
        // The HDMI trap: a remembered profile that cannot play.
        {placeholder({laptopCard("output:hdmi-stereo")}, {pch}), issue,
         dummy + " Built-in Audio has no output that can play now. Turn its output on.", turnOnOutput},
        {noDefault, issue, "No working sound device is available. Built-in Audio is turned off. Turn its output on.",
         turnOnOutput},
        {placeholder({laptopCard("off", false)}, {held}), issue,
         dummy + " HDA Intel PCH is held by jackd (process 812), which uses it directly. Close that app, then check "
                 "again."},
        {placeholder({}, {}), issue,
         dummy + " The system sees no sound card, so its driver or firmware may be missing. The diagnostic report "
                 "lists what the system found."},
        {placeholder({laptopCard("off", false)}, {pch}), issue,
         dummy + " Built-in Audio has no output that can play now. Connect headphones, a display, or speakers."},
        {placeholder({}, {pch}), issue, dummy + " Connect headphones, a display, or speakers."},
    });
}

// The speakers' headphone jack is the active port, and unplugged.
AudioSnapshot unplugged(PortAvailability speakerPort, auto edit)
{
    auto s = speakers([&](AudioDevice& d) {
        d.ports = {{"analog-output-speaker", "Speakers", speakerPort, "speaker", 100},
                   {"analog-output-headphones", "Headphones", PortAvailability::unavailable, "headphones", 200}};
        d.activePort = "analog-output-headphones";
    });
    edit(s);
    return s;
}

TEST(output_check, an_unplugged_active_port_switches_to_another_port_output_or_profile)
{
    const std::string lead = "Speakers plays to Headphones, which is not plugged in.";
    const auto withUSB = [](AudioSnapshot& s) { s.devices.push_back(output(2, "USB Headset", AudioTransport::usb)); };
    const auto withCard = [](AudioSnapshot& s) {
        s.devices[0].cardName = "alsa_card.pci-0000_00_1f.3";
        s.cards = {laptopCard("output:hdmi-stereo")};
    };
    expectRows(CheckKind::output, {
        // Speakers cannot sense a plug; they are the way out all the same.
        {unplugged(PortAvailability::unknown, [](AudioSnapshot&) {}), issue, lead + " Switch to Speakers.",
         switchOutputPort},
        {unplugged(PortAvailability::unavailable, withUSB), issue, lead + " Switch to USB Headset.", restoreOutput},
        // Restore output would choose the preferred output, which is this one.
        {unplugged(PortAvailability::unavailable, withUSB), issue,
         lead + " Plug it in, or connect other headphones or speakers.", none,
         PreferredOutput{"uid-Speakers", "Speakers", false}},
        {unplugged(PortAvailability::unavailable, withCard), issue,
         lead + " Switch Built-in Audio to Analog Stereo Duplex.", turnOnOutput},
        {unplugged(PortAvailability::unavailable, [](AudioSnapshot&) {}), issue,
         lead + " Plug it in, or connect other headphones or speakers."},
    });
}

TEST(volume_check, a_level_at_or_below_one_thousandth_is_zero_and_unmute_is_offered_only_when_it_can_help)
{
    const std::string muted = "Your computer is muted. Turn sound back on when you want to hear it.";
    const std::string zero = "Volume is at zero. Turn it up when you want to hear sound.";
    expectRows(CheckKind::volume, {
        {snapshot({output(1, "Speakers")}), unknown, "Select an output to check its volume."},
        // Unmuting would stay silent while the zero volume cannot be raised.
        {speakers([](auto& d) { d.isMuted = true; d.volume = 0.0f; d.canSetVolume = false; }), note, muted},
        {speakers([](auto& d) { d.isMuted = true; d.volume = 0.0f; }), note, muted, unmute},
        // At an audible level only the mute has to be writable.
        {speakers([](auto& d) { d.isMuted = true; d.canSetVolume = false; }), note, muted, unmute},
        {speakers([](auto& d) { d.isMuted = true; d.canSetMute = false; }), note, muted},
        {speakers([](auto& d) { d.volume = none; }), passed,
         "The output is not muted. Volume is managed by the device."},
        {speakers([](auto& d) { d.volume = none; d.isMuted = none; }), unknown,
         "This output manages volume externally. Check the speaker or destination app."},
        {speakers([](auto& d) { d.volume = 0.001f; }), note, zero, unmute},
        {speakers([](auto& d) { d.volume = 0.001f; d.canSetVolume = false; }), note, zero},
        // Just above the threshold is audible, though it shows as 0 %.
        {speakers([](auto& d) { d.volume = 0.0011f; }), passed, "Output volume is 0%."},
        // The nearest whole percent, as mixers show it: PulseAudio's 80 % step is 52428/65536.
        {speakers([](auto& d) { d.volume = 0.456f; }), passed, "Output volume is 46%."},
        {speakers([](auto& d) { d.volume = 52428.0f / 65536.0f; }), passed, "Output volume is 80%."},
    });
}

// A Bluetooth headset whose input side shares the output's name but not its uid.
AudioSnapshot headset(double rate, AudioObjectID defaultInput, std::vector<AudioClient> clients = {})
{
    auto out = output(3, "Headset", AudioTransport::bluetooth);
    out.sampleRate = rate;
    auto mic = input(4, "Headset", AudioTransport::bluetooth);
    mic.uid = "uid-Headset-input";
    auto s = snapshot({out, mic, input(2, "Microphone")}, 3, defaultInput, 3);
    s.clients = std::move(clients);
    return s;
}

// The headset's card in `profile`, with the built-in speakers beside it to
// switch through while muted.
AudioSnapshot headsetCard(std::string profile, double rate, bool highFidelityAvailable = true)
{
    auto s = headset(rate, 2);
    s.devices[0].cardName = "bluez_card.1";
    s.cards = {{"bluez_card.1", "Headset", "bluetooth", std::move(profile),
                {{"a2dp_sink", "High Fidelity Playback (A2DP Sink)", highFidelityAvailable, 40, 1, 0},
                 {"headset_head_unit", "Headset Head Unit (HSP/HFP)", true, 30, 1, 1}}}};
    s.devices.push_back(output(1, "Speakers"));
    return s;
}

TEST(bluetooth_check, call_mode_is_an_issue_whether_or_not_the_headset_microphone_is_engaged)
{
    const std::string callMode = "The headset is in low-bandwidth call mode (16 kHz). Using the built-in microphone "
                                 "can restore listening quality.";
    const std::string switchBack = " Switching it back to high-fidelity playback restores listening quality.";
    auto withoutBuiltIn = headset(16000, 4);
    withoutBuiltIn.devices.pop_back();
    auto engagedCard = headsetCard("headset_head_unit", 16000);
    engagedCard.inputID = 4;
    auto callOnly = headsetCard("headset_head_unit", 16000);
    std::erase_if(callOnly.cards[0].profiles, [](const CardProfile& p) { return p.name == "a2dp_sink"; });
    expectRows(CheckKind::bluetooth, {
        {snapshot({output(1, "Speakers")}), unknown, "No output is selected."},
        {speakers([](auto& d) { d.transport = AudioTransport::usb; }), passed, "Your current output uses usb audio."},
        {headset(48000, 2), passed, "Bluetooth output is connected. The headset microphone is not selected."},
        {headset(16000, 4), issue, callMode, useBuiltInMic},
        {withoutBuiltIn, issue, callMode},
        {engagedCard, issue, callMode, useBuiltInMic},
        // Nobody records, yet the card stays in call mode: switching it back is the repair,
        // offered only with a high-fidelity profile to go to and speakers to switch through.
        {headsetCard("headset_head_unit", 16000), issue,
         "The headset is in low-bandwidth call mode (16 kHz)." + switchBack, reselectOutput},
        // No switch brings back a high-fidelity mode that is unavailable now, or missing.
        {headsetCard("headset_head_unit", 16000, false), issue,
         "The headset is in low-bandwidth call mode (16 kHz). High-fidelity playback is not available right now. "
         "Reconnect the headset in Bluetooth settings.",
         openBluetooth},
        {callOnly, issue,
         "The headset is in low-bandwidth call mode (16 kHz). The system offers this headset no high-fidelity mode: "
         "its Bluetooth audio support lacks it."},
        {headset(16000, 2), issue, "The headset is in low-bandwidth call mode (16 kHz)." + switchBack},
        // The profile, not a graph rate forced to 48 kHz, tells call mode.
        {headsetCard("headset_head_unit", 48000), issue, "The headset is in low-bandwidth call mode." + switchBack,
         reselectOutput},
        {headsetCard("a2dp_sink", 48000), passed,
         "Bluetooth output is connected. The headset microphone is not selected."},
        // Apps taking input from either side of the headset count even when another input is the default.
        {headset(48000, 2, {client(10, "Chat", {4}), client(11, "Recorder", {2}), client(12, "Call", {3, 4})}), note,
         "The headset microphone is selected or in use. If music sounds muffled, choose the built-in microphone in "
         "Devices. Input users: Chat, Call. Finish input use before changing the route."},
    });
}

TEST(sample_rate_check, a_rate_below_44_1_khz_warns_except_on_bluetooth)
{
    const std::string low =
        "22.05 kHz limits playback bandwidth. A supported 44.1 or 48 kHz format is preferable for music.";
    const std::string valid = " is valid for this output. Independent input and output rates may differ.";
    const std::string unreported = "The device did not report a sample rate.";
    auto usb = [](auto edit) {
        return speakers([&](auto& d) { d.transport = AudioTransport::usb; d.sampleRate = 22050; edit(d); });
    };
    expectRows(CheckKind::sampleRate, {
        {speakers([](auto& d) { d.sampleRate = none; }), unknown, unreported},
        {speakers([](auto& d) { d.sampleRate = 0; }), unknown, unreported},
        // Mismatched aggregate members are reported before the rate itself.
        {speakers([](auto& d) { d.transport = AudioTransport::aggregate; d.memberRates = {48000, 44100, 48000}; }),
         warning,
         "Aggregate subdevices have different rates. Open Volume Control to align their format and check drift "
         "correction."},
        {speakers([](auto& d) { d.transport = AudioTransport::aggregate; d.memberRates = {48000, 48000}; }), passed,
         "48 kHz" + valid},
        {usb(asIs), warning, low, normalizeRate},
        // Normalising needs a standard rate to go to and a physical device.
        {usb([](auto& d) { d.availableRates = {{8000, 22050}}; }), warning, low},
        {usb([](auto& d) { d.transport = AudioTransport::virtual_; }), warning, low},
        // The Bluetooth row explains a headset's low rate.
        {usb([](auto& d) { d.transport = AudioTransport::bluetooth; }), passed, "22.05 kHz" + valid},
        {usb([](auto& d) { d.sampleRate = 44100; }), passed, "44.1 kHz" + valid},
    });
}

// Speakers read at t = 1000 s after the monitor saw overloads at `dates` and last at `last`.
AudioSnapshot overloads(std::vector<double> dates, std::optional<double> last = none, uint32_t bufferFrames = 0)
{
    auto s = speakers([&](auto& d) { d.bufferFrames = bufferFrames ? std::optional(bufferFrames) : none; });
    for (double date : dates)
        s.overloadDates.push_back(at(date));
    if (last)
        s.lastOverload = at(*last);
    return s;
}

TEST(playback_check, an_overload_less_than_two_minutes_before_the_reading_offers_a_restart)
{
    const std::string calm = "No recent overload was reported. Listening remains the final check.";
    const auto missed = [](int count) {
        return "The audio service reported " + std::to_string(count)
               + " missed playback deadlines in the last two minutes. These can cause clicks or crackles.";
    };
    expectRows(CheckKind::playback, {
        // 119.9 s old is inside the window; 120 s old and later than the reading are not.
        {overloads({880.1}), issue, missed(1), restartAudio},
        {overloads({880, 1000.5}), passed, calm},
        {overloads({700, 900, 950, 999}), issue, missed(3), restartAudio},
        // The monitor's last overload alone counts as one, in the same window; the wording stays plural.
        {overloads({}, 990), issue, missed(1), restartAudio},
        {overloads({}, 880), passed, calm},
        {overloads({}, none, 512), passed,
         calm + " Reported I/O buffer: 512 frames. In an audio app, a larger supported buffer can reduce underruns "
                "at the cost of latency."},
    });
}

// Speakers playing, with a default Microphone (id 2) carrying `controls`.
AudioSnapshot microphone(std::vector<AudioChannelState> controls, bool alive = true)
{
    auto mic = input(2, "Microphone");
    mic.inputControls = std::move(controls);
    mic.isAlive = alive;
    return snapshot({output(1, "Speakers"), mic}, 1, 2, 1);
}

// The microphone's active port is the headset jack, which is unplugged.
AudioSnapshot portsOf(PortAvailability internal)
{
    auto s = microphone({control(0, 0.5f, false)});
    s.devices.back().ports = {{"analog-input-internal-mic", "Internal Microphone", internal, "mic", 100},
                              {"analog-input-headset-mic", "Headset Microphone", PortAvailability::unavailable,
                               "headset", 200}};
    s.devices.back().activePort = "analog-input-headset-mic";
    return s;
}

TEST(microphone_check, silent_controls_are_restorable_only_when_every_needed_setter_is_writable)
{
    const std::string silent = "Microphone has muted or zero-level input controls. Restore them explicitly, then "
                               "test your voice. App permissions are checked separately in Privacy settings.";
    const std::string noMicrophone = "No working microphone is selected. Choose an input in Devices.";
    expectRows(CheckKind::microphone, {
        {speakers(asIs), unknown, noMicrophone},
        {microphone({control(0, 0.5f, false)}, false), unknown, noMicrophone},
        {microphone({}), unknown,
         "This microphone does not expose level or mute controls. Troubleshoot can test for a signal with your "
         "permission."},
        {microphone({control(0, 0.0011f, false)}), passed,
         "Microphone has no reported muted or zero-level controls. This does not verify app permission or an "
         "audible signal."},
        // Any element counts, not just the main one.
        {microphone({control(0, 0.8f, false), control(2, 0.001f, none)}), issue, silent, restoreInput},
        // Muted and at zero needs both setters; muted at a normal level needs only the mute setter.
        {microphone({control(1, 0.0f, true, false, true)}), issue, silent},
        {microphone({control(1, 0.0f, true), control(2, 0.6f, true, false, true)}), issue, silent, restoreInput},
        {microphone({control(0, none, true, true, false)}), issue, silent},
        // An unplugged jack first; the internal microphone cannot sense a plug.
        {portsOf(PortAvailability::unknown), issue,
         "Microphone listens to Headset Microphone, which is not plugged in. Switch to Internal Microphone.",
         switchInputPort},
        {portsOf(PortAvailability::unavailable), issue,
         "Microphone listens to Headset Microphone, which is not plugged in. Plug it in, or choose another "
         "microphone in Devices."},
    });
    // A headset without a call profile offers no microphone, whatever is selected.
    auto a2dpOnly = headset(48000, 2);
    a2dpOnly.devices[0].cardName = "bluez_card.1";
    a2dpOnly.cards = {{"bluez_card.1", "Headset", "bluetooth", "a2dp_sink", {{"a2dp_sink", "A2DP", true, 40, 1, 0}}}};
    EXPECT_TRUE(Diagnostics::microphoneCheck(a2dpOnly).detail.ends_with(
        " The system offers no microphone of Headset: use the built-in microphone."));
}

// Speakers with a balance and per-channel output controls.
AudioSnapshot stereo(std::optional<float> balance, std::vector<AudioChannelState> controls, bool canSetBalance = true)
{
    return speakers([&](auto& d) {
        d.balance = balance;
        d.canSetBalance = canSetBalance;
        d.outputControls = controls;
    });
}

TEST(stereo_check, balance_off_by_more_than_one_hundredth_or_a_silent_channel_is_reported)
{
    const std::string tail =
        " This can be intentional. If one side is unexpectedly silent, restore stereo and play the left/right test.";
    const std::string offCentre = "Balance is off center." + tail;
    const std::string silentChannel = "A stereo channel is muted or at zero." + tail;
    const std::string fine = "No reported stereo channel fault. Intentional channel levels are preserved.";
    const auto audible = control(1, 0.7f, false);
    const auto muted = control(1, 0.7f, true);
    const auto stuck = control(2, 0.0f, false, false, true);
    expectRows(CheckKind::stereo, {
        {speakers([](auto& d) { d.outputChannels = 1; }), unknown,
         "A stereo output is needed to compare left and right."},
        {stereo(0.505f, {}), passed, fine},
        {stereo(0.52f, {audible}), note, offCentre, restoreStereo},
        {stereo(0.48f, {muted}), warning, offCentre, restoreStereo},
        {stereo(0.52f, {audible, stuck}), warning, offCentre},
        // A fixed balance is reported but not offered for repair.
        {stereo(0.52f, {audible}, false), note, offCentre},
        {stereo(0.5f, {muted}), warning, silentChannel, restoreStereo},
        {stereo(none, {audible}), passed, fine},
        // The main element is not one of the pair.
        {stereo(none, {control(0, 0.0f, true)}), unknown,
         "This output does not expose separate stereo controls. Use the left/right test to compare what you hear."},
        // The device's own pair replaces channels 1 and 2, but only when it names exactly two.
        {speakers([&](auto& d) { d.stereoChannels = {3, 4}; d.outputControls = {muted, control(3, 0.7f, false)}; }),
         passed, fine},
        {speakers([&](auto& d) { d.stereoChannels = {3, 4, 5}; d.outputControls = {muted}; }), warning,
         silentChannel, restoreStereo},
    });
}

TEST(alerts_check, alerts_on_another_device_can_be_aligned_when_the_alert_device_is_writable)
{
    const std::string unreadable = "The alert output could not be read. Check the alert sound in Sound settings.";
    const std::string alsoDepends = ". This may be intentional. Missing alerts also depend on Do Not Disturb, alert "
                                    "volume, and each app's notification settings.";
    auto split = snapshot({output(1, "Speakers"), output(2, "Headphones")}, 2, 0, 1);
    auto fixed = split;
    fixed.canSetSystemOutput = false;
    auto deadAlerts = split;
    deadAlerts.devices[0].isAlive = false;
    expectRows(CheckKind::alerts, {
        {snapshot({output(1, "Speakers")}, 1), unknown, unreadable},
        {deadAlerts, unknown, unreadable},
        {speakers(asIs), passed,
         "Alerts and media use Speakers. Check Do Not Disturb, alert volume, and the app's notification settings if "
         "alerts are silent."},
        {split, note, "Alerts use Speakers, while media uses Headphones" + alsoDepends, alignAlerts},
        {fixed, note, "Alerts use Speakers, while media uses Headphones" + alsoDepends},
        {snapshot({output(1, "Speakers")}, 0, 0, 1), note,
         "Alerts use Speakers, while media uses no output" + alsoDepends},
    });
}

TEST(device_access_check, an_exclusive_owner_is_named_by_its_client_or_its_pid)
{
    const std::string owns = " owns exclusive access to Speakers. This may be intentional for recording or "
                             "high-resolution playback. Release exclusive mode in that app before testing another app.";
    auto owned = speakers([](auto& d) { d.exclusiveOwnerPID = 4242; });
    auto byClient = owned;
    byClient.clients = {client(7, "Player"), client(4242, "Ardour")};
    auto heldMicrophone = byClient;
    heldMicrophone.devices.push_back(input(2, "Microphone"));
    heldMicrophone.devices.back().exclusiveOwnerPID = 4242;
    heldMicrophone.inputID = 2;
    // With no input device at all, the kernel's card tells who holds it.
    auto heldCard = speakers(asIs);
    heldCard.hardwareCards = {{1, "USB Audio", none, "", 90, "rtl_fm"}};
    expectRows(CheckKind::deviceAccess, {
        {speakers(asIs), unknown,
         "The driver does not report exclusive-access ownership. Audio users are listed in Troubleshoot when "
         "available."},
        {speakers([](auto& d) { d.exclusiveOwnerPID = -1; }), passed,
         "No exclusive owner was reported for Speakers. An app can still use its own route or mute settings."},
        {byClient, note, "Ardour" + owns},
        {owned, note, "Process 4242" + owns},
        // Held input hardware is an issue: no other app hears anything from it.
        {heldMicrophone, issue,
         "Ardour holds Microphone directly, so other apps hear nothing from it. Close that app or release the "
         "device in it, then check again. Ardour" + owns},
        {heldCard, issue,
         "rtl_fm (process 90) holds the microphone of USB Audio directly, so other apps hear nothing from it. Close "
         "that app or release the device in it, then check again."},
    });
}

}  // namespace
