#include "pulse/pulse_internal.h"
#include "pulse/pulse_mapping.h"

#include <gtest/gtest.h>
#include <pulse/channelmap.h>
#include <pulse/def.h>
#include <pulse/volume.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <set>

namespace {

using namespace sonorel;
using namespace sonorel::pulse;

constexpr int FL = PA_CHANNEL_POSITION_FRONT_LEFT;
constexpr int FR = PA_CHANNEL_POSITION_FRONT_RIGHT;
constexpr int FC = PA_CHANNEL_POSITION_FRONT_CENTER;
constexpr int LFE = PA_CHANNEL_POSITION_LFE;
constexpr int MONO = PA_CHANNEL_POSITION_MONO;
constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

uint32_t vol(double scalar)
{
    return uint32_t(std::lround(scalar * PA_VOLUME_NORM));
}

// One pa_volume_t step of rounding is not a change anyone hears.
void expectVolumes(const std::optional<std::vector<uint32_t>>& actual, std::vector<double> expected)
{
    ASSERT_TRUE(actual.has_value());
    ASSERT_EQ(actual->size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(double((*actual)[i]), double(vol(expected[i])), 1.0) << "channel " << i;
}

DeviceRecord device(Properties properties, std::string port = {}, std::string driver = "module-alsa-card.c")
{
    DeviceRecord d;
    d.properties = std::move(properties);
    d.activePort = std::move(port);
    d.driver = std::move(driver);
    return d;
}

StreamRecord stream(uint32_t client, bool recording, uint32_t device, Properties properties, bool corked = false)
{
    StreamRecord s;
    s.isRecording = recording;
    s.clientIndex = client;
    s.deviceIndex = device;
    s.corked = corked;
    s.properties = std::move(properties);
    return s;
}

}  // namespace

TEST(pulse_mapping, transport_follows_bus_then_display_port_then_form_factor_then_class)
{
    const struct {
        DeviceRecord record;
        AudioTransport transport;
    } rows[] = {
        // The bus names Bluetooth and USB devices whatever their port or profile say.
        {device({{"device.bus", "bluetooth"}, {"device.class", "sound"}}, "hdmi-output-0"), AudioTransport::bluetooth},
        {device({{"device.bus", "usb"}, {"device.profile.name", "hdmi-stereo"}}), AudioTransport::usb},
        // HDMI/DisplayPort of the internal card is the display, named by the port (any case) or profile.
        {device({{"device.form_factor", "internal"}}, "[Out] HDMI1"), AudioTransport::display},
        {device({{"device.bus", "pci"}, {"device.profile.name", "DisplayPort-stereo"}}), AudioTransport::display},
        // Internal form factor, or a pci/platform bus, is built in.
        {device({{"device.form_factor", "internal"}}, "analog-output"), AudioTransport::builtIn},
        {device({{"device.bus", "platform"}, {"device.class", "sound"}}), AudioTransport::builtIn},
        // Null sinks and filters are no sound card; a combine sink is an aggregate.
        {device({{"device.class", "abstract"}}, {}, "module-null-sink.c"), AudioTransport::virtual_},
        {device({{"device.class", "filter"}}, {}, "module-combine-sink.c"), AudioTransport::aggregate},
        // A sound card on any other bus.
        {device({{"device.bus", "firewire"}, {"device.class", "sound"}}), AudioTransport::other},
    };
    for (const auto& row : rows)
        EXPECT_EQ(transportOf(row.record), row.transport) << "port '" << row.record.activePort << "'";
}

TEST(pulse_mapping, sink_source_and_client_ids_never_collide)
{
    // Sink 0 and source 0 coexist on every server: the kind must be part of the id.
    std::set<AudioObjectID> ids;
    for (uint32_t index : {0u, 1u, 2u, 63u, 4096u, 65535u})
        ids.insert({deviceID(true, index), deviceID(false, index), clientID(index)});
    EXPECT_EQ(ids.size(), 18u);
}

TEST(pulse_mapping, element_0_scales_every_channel_keeping_their_ratio_and_element_k_sets_channel_k)
{
    const std::vector<uint32_t> halfAndQuarter{vol(0.5), vol(0.25)};
    expectVolumes(volumesAfterSetting(halfAndQuarter, 0, 0.8f), {0.8, 0.4});
    expectVolumes(volumesAfterSetting(halfAndQuarter, 0, 0.0f), {0.0, 0.0});
    // Silent channels have no ratio to keep; raising must not leave them at zero.
    expectVolumes(volumesAfterSetting({0, 0}, 0, 0.6f), {0.6, 0.6});
    expectVolumes(volumesAfterSetting(halfAndQuarter, 1, 0.1f), {0.1, 0.25});
    expectVolumes(volumesAfterSetting(halfAndQuarter, 2, 0.9f), {0.5, 0.9});
    // Reading back: the device volume is the loudest channel, a boost above 100% reads as full.
    EXPECT_FLOAT_EQ(volumeScalar({vol(0.25), vol(0.5)}), 0.5f);
    EXPECT_FLOAT_EQ(volumeScalar({vol(1.5), vol(0.2)}), 1.0f);
}

TEST(pulse_mapping, volume_writes_outside_the_scale_or_the_channels_are_refused)
{
    const std::vector<uint32_t> stereo{vol(0.5), vol(0.5)};
    for (float value : {-0.01f, 1.01f, NaN, std::numeric_limits<float>::infinity()})
        EXPECT_FALSE(volumesAfterSetting(stereo, 0, value)) << value;
    EXPECT_FALSE(volumesAfterSetting(stereo, 3, 0.5f));  // elements are 0, 1, 2
    EXPECT_FALSE(volumesAfterSetting({}, 0, 0.5f));
}

TEST(pulse_mapping, balance_reads_0_left_to_1_right_by_position_and_writes_back_keeping_the_loudest_channel)
{
    EXPECT_NEAR(*balanceOf({FL, FR}, {vol(0.5), vol(0.25)}), 0.25f, 1e-4f);
    // The map, not the order of the volumes, says which side is left.
    EXPECT_NEAR(*balanceOf({FR, FL}, {vol(0.5), vol(0.25)}), 0.75f, 1e-4f);
    const std::vector<int> surround{FL, FR, FC, LFE};
    for (float balance : {0.0f, 0.2f, 0.5f, 0.75f, 1.0f}) {
        const auto volumes = volumesWithBalance(surround, std::vector<uint32_t>(4, vol(0.8)), balance);
        ASSERT_TRUE(volumes) << balance;
        EXPECT_NEAR(*balanceOf(surround, *volumes), balance, 1e-3f);
        EXPECT_NEAR(volumeScalar(*volumes), 0.8f, 1e-4f) << balance;
    }
}

TEST(pulse_mapping, balance_is_refused_without_two_sides_or_with_a_bad_value)
{
    EXPECT_FALSE(balanceOf({MONO}, {vol(0.5)}));
    EXPECT_FALSE(volumesWithBalance({MONO}, {vol(0.5)}, 0.5f));
    EXPECT_FALSE(volumesWithBalance({FL, FR}, {vol(0.5), vol(0.5)}, 1.5f));
    EXPECT_FALSE(volumesWithBalance({FL, FR}, {vol(0.5), vol(0.5)}, NaN));
    // Volumes that do not match the map cannot be balanced.
    EXPECT_FALSE(volumesWithBalance({FL, FR}, {vol(0.5)}, 0.5f));
}

TEST(pulse_mapping, a_stereo_sink_reads_with_main_and_channel_controls)
{
    DeviceRecord r = device({{"device.bus", "pci"}, {"device.class", "sound"}}, "analog-output-speaker");
    r.index = 3;
    r.description = "Built-in Audio Analog Stereo";
    r.rate = 48000;
    r.bitsPerSample = 32;
    r.isFloat = true;
    r.channelPositions = {FL, FR};
    r.volumes = {vol(0.5), vol(0.25)};
    r.muted = true;
    r.latencyUsec = 10'000;
    r.configuredLatencyUsec = 20'000;

    const AudioDevice d = toAudioDevice(r, true);
    EXPECT_EQ(d.id, deviceID(true, 3));
    EXPECT_EQ(d.name, r.description);
    EXPECT_EQ(std::pair(d.outputChannels, d.inputChannels), std::pair(2, 0));
    EXPECT_FALSE(d.isRunningInput);  // a sink records nothing
    EXPECT_EQ(std::pair(d.volume, d.isMuted), std::pair(std::optional(0.5f), std::optional(true)));
    // Mute lives on the device only; each channel has a volume and the server's name of its own.
    const std::vector<AudioChannelState> controls{{0, 0.5f, true, true, true, {}},
                                                  {1, 0.5f, std::nullopt, true, false, "Front Left"},
                                                  {2, 0.25f, std::nullopt, true, false, "Front Right"}};
    EXPECT_EQ(d.outputControls, controls);
    EXPECT_EQ(d.stereoChannels, (std::vector<uint32_t>{1, 2}));
    EXPECT_NEAR(d.balance.value_or(-1), 0.25f, 1e-4f);
    EXPECT_TRUE(d.canSetBalance);
    // 20 ms and 10 ms at 48 kHz.
    EXPECT_EQ(std::pair(d.bufferFrames, d.latencyFrames), std::pair(std::optional(960u), std::optional(480u)));
    EXPECT_EQ(d.formats, (std::vector<AudioStreamFormat>{{AudioDirection::output, 48000, 32, 2, true}}));
}

TEST(pulse_mapping, stereo_channels_are_the_front_left_and_right_elements_wherever_they_sit)
{
    DeviceRecord r = device({{"device.bus", "usb"}});
    r.rate = 44100;
    r.channelPositions = {FC, LFE, FR, FL};
    r.volumes = std::vector<uint32_t>(4, vol(0.6));
    r.configuredLatencyUsec = 20'000;
    const AudioDevice d = toAudioDevice(r, false);
    EXPECT_EQ(d.stereoChannels, (std::vector<uint32_t>{4, 3}));
    EXPECT_EQ(d.bufferFrames, 882u);
    // Latency the server does not report stays unknown rather than zero.
    EXPECT_FALSE(d.latencyFrames);

    r.channelPositions = {MONO};
    r.volumes = {vol(0.6)};
    const AudioDevice mono = toAudioDevice(r, false);
    EXPECT_TRUE(mono.stereoChannels.empty());
    EXPECT_FALSE(mono.balance || mono.canSetBalance);
}

TEST(pulse_mapping, a_source_fills_the_input_side_and_reports_running_input)
{
    DeviceRecord r = device({{"device.form_factor", "internal"}, {"device.class", "sound"}});
    r.isSink = false;
    r.index = 3;
    r.name = "alsa_input.pci-0000_00_1f.3.analog-stereo";
    r.rate = 48000;
    r.channelPositions = {MONO};
    r.volumes = {vol(0.75)};

    const AudioDevice d = toAudioDevice(r, true);
    EXPECT_EQ(d.id, deviceID(false, 3));
    EXPECT_EQ(d.name, r.name);  // no description: the name stands in
    EXPECT_EQ(std::pair(d.outputChannels, d.inputChannels), std::pair(0, 1));
    EXPECT_TRUE(d.isRunningInput);
    EXPECT_FALSE(toAudioDevice(r, false).isRunningInput);
    const std::vector<AudioChannelState> controls{{0, 0.75f, false, true, true, {}},
                                                  {1, 0.75f, std::nullopt, true, false, "Mono"}};
    EXPECT_EQ(d.inputControls, controls);
    // The main volume and mute fields belong to the output side.
    EXPECT_TRUE(d.outputControls.empty());
    EXPECT_FALSE(d.volume || d.isMuted || d.canSetVolume);
    EXPECT_EQ(d.formats[0].direction, AudioDirection::input);
}

TEST(pulse_mapping, clients_group_running_streams_by_client_and_name_themselves_from_their_properties)
{
    const Properties firefox{{"application.process.id", "100"},
                             {"application.name", "Firefox"},
                             {"application.id", "org.mozilla.firefox"},
                             {"application.process.binary", "firefox"}};
    const Properties arecord{{"application.process.id", "200"}, {"application.process.binary", "arecord"}};
    const Properties anonymous{{"application.process.id", "300"}};
    const std::vector<StreamRecord> streams{
        stream(10, true, 9, firefox, true),  // a paused recording uses no device
        stream(10, false, 3, firefox),
        stream(10, false, 3, firefox),
        stream(10, true, 3, firefox),
        stream(11, true, 5, arecord),
        stream(12, false, 4, anonymous),
        stream(13, false, 3, {{"application.name", "No pid"}}),           // no process to name: skipped
        stream(14, false, 3, {{"application.process.id", "500"}}, true),  // only paused: not using audio
        stream(15, true, 3, {{"application.process.id", "400"}}),         // our own level meter
    };

    auto clients = clientsOf(streams, 15);
    std::sort(clients.begin(), clients.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    // Source 3 and sink 3 are different devices.
    const std::vector<AudioClient> expected{
        {clientID(10), 100, "Firefox", "org.mozilla.firefox", {deviceID(false, 3)}, {deviceID(true, 3)}, true, true, {}},
        // Without an application name or id, the binary names it.
        {clientID(11), 200, "arecord", "arecord", {deviceID(false, 5)}, {}, true, false, {}},
        // With nothing but a pid, the pid names it and there is no bundle id.
        {clientID(12), 300, "Process 300", std::nullopt, {}, {deviceID(true, 4)}, false, true, {}},
    };
    EXPECT_EQ(clients, expected);
}

class exclusive_owner : public ::testing::Test {
protected:
    std::filesystem::path root() const { return dir.path().toStdString(); }

    void write(const std::filesystem::path& path, const std::string& text) const
    {
        std::filesystem::create_directories(root() / path.parent_path());
        std::ofstream(root() / path) << text;
    }
    // /proc/PID/comm is the thread's name; Tgid in /proc/PID/status names its process.
    void process(int pid, const std::string& comm, int tgid = 0) const
    {
        const std::string folder = "proc/" + std::to_string(pid);
        write(folder + "/comm", comm + "\n");
        write(folder + "/status", "Name:\t" + comm + "\nTgid:\t" + std::to_string(tgid ? tgid : pid) + "\n");
    }
    void openedBy(int pid, const std::string& pcm = "pcm0p", const std::string& sub = "sub0") const
    {
        write("asound/card1/" + pcm + "/" + sub + "/status",
              "state: RUNNING\nowner_pid   : " + std::to_string(pid) + "\ntrigger_time: 1.5\n");
    }
    void closed(const std::string& pcm) const { write("asound/card1/" + pcm + "/sub0/status", "closed\n"); }
    std::optional<ProcessID> owner(bool playback = true, int card = 1) const
    {
        return exclusiveOwner(root() / "asound", root() / "proc", card, 0, playback);
    }

private:
    QTemporaryDir dir;
};

TEST_F(exclusive_owner, a_sound_server_or_its_io_thread_holding_the_pcm_is_nobody)
{
    for (const std::string server : {"pipewire", "pulseaudio"}) {
        process(900, server);
        openedBy(900);
        EXPECT_EQ(owner(), -1) << server;
    }
    // The kernel records the thread that opened the PCM; PulseAudio resumes
    // a suspended sink from its "alsa-sink-…" I/O thread.
    process(913, "alsa-sink-ALC25", 900);
    openedBy(913);
    EXPECT_EQ(owner(), -1);
}

TEST_F(exclusive_owner, a_closed_pcm_is_nobody_and_a_missing_one_is_unknown)
{
    closed("pcm0p");
    EXPECT_EQ(owner(), -1);
    EXPECT_EQ(owner(false), std::nullopt);  // this card has no capture PCM
    EXPECT_EQ(owner(true, 2), std::nullopt);
}

TEST_F(exclusive_owner, another_process_on_any_substream_is_the_owner_of_that_direction_only)
{
    process(900, "pipewire");
    process(4242, "jackd");
    openedBy(900, "pcm0p", "sub0");
    openedBy(4242, "pcm0p", "sub1");
    closed("pcm0c");
    EXPECT_EQ(owner(), 4242);
    EXPECT_EQ(owner(false), -1);
}

TEST(pulse_mapping, server_text_becomes_valid_utf8_in_device_and_client_names)
{
    EXPECT_EQ(validUtf8("Casque \xC3\xA9 \xF0\x9F\x8E\xA7"), "Casque \xC3\xA9 \xF0\x9F\x8E\xA7");
    const std::string replacement = "\xEF\xBF\xBD";
    // Stray bytes, a truncated sequence, an overlong form, a surrogate and a code point above U+10FFFF.
    EXPECT_EQ(validUtf8("a\xFF\xFE" "b"), "a" + replacement + replacement + "b");
    EXPECT_EQ(validUtf8("\xE2\x82"), replacement + replacement);
    EXPECT_EQ(validUtf8("\xC0\xAF"), replacement + replacement);
    EXPECT_EQ(validUtf8("\xED\xA0\x80"), replacement + replacement + replacement);
    EXPECT_EQ(validUtf8("\xF4\x90\x80\x80"), replacement + replacement + replacement + replacement);

    DeviceRecord r = device({});
    r.name = "sink\xFF";
    r.description = "Speakers \xFE";
    const AudioDevice d = toAudioDevice(r, false);
    EXPECT_EQ(d.uid, "sink" + replacement);
    EXPECT_EQ(d.name, "Speakers " + replacement);
    const auto clients = clientsOf({stream(4, false, 0, {{"application.process.id", "7"}, {"application.name", "Pl\xE9yer"}})},
                                   PA_INVALID_INDEX);
    ASSERT_EQ(clients.size(), 1u);
    EXPECT_EQ(clients[0].name, "Pl" + replacement + "yer");
}

TEST(pulse_mapping, a_write_refused_for_an_entity_the_server_no_longer_has_is_a_device_gone)
{
    // The device went away between the write's lookup and the write itself.
    EXPECT_EQ(commandRefusal(PA_ERR_NOENTITY), AudioRepairError::deviceGone());
    EXPECT_EQ(commandRefusal(PA_ERR_ACCESS).description(),
              "The audio service rejected the change (1). The device may have disconnected or be controlled by another "
              "app.");
}

TEST(pulse_mapping, alerts_play_on_the_saved_sink_while_it_exists_and_never_by_the_entry_on_pipewire)
{
    DeviceRecord speakers = device({}), hdmi = device({}), mic = device({});
    speakers.name = "speakers";
    hdmi.name = "hdmi";
    mic.name = "mic";
    mic.isSink = false;
    const AlertEntry onHdmi{"hdmi", {}, {}, false}, onMic{"mic", {}, {}, false};
    EXPECT_EQ(alertSinkOf(onHdmi, {speakers, hdmi}, "speakers", false), "hdmi");
    EXPECT_EQ(alertSinkOf(onHdmi, {speakers}, "speakers", false), "speakers");
    EXPECT_EQ(alertSinkOf(onMic, {speakers, mic}, "speakers", false), "speakers");
    EXPECT_EQ(alertSinkOf(std::nullopt, {speakers, hdmi}, "speakers", false), "speakers");
    EXPECT_EQ(alertSinkOf(onHdmi, {speakers, hdmi}, "speakers", true), "speakers");
}

namespace {

// A Bluetooth sink or source as the server lists it while its card runs `profile`.
DeviceRecord bluetoothRecord(bool isSink, std::string name, uint32_t rate, std::vector<int> positions,
                             Properties extra)
{
    Properties properties{{"device.bus", "bluetooth"}, {"device.form_factor", "headset"}, {"device.class", "sound"}};
    properties.merge(extra);
    DeviceRecord r = device(std::move(properties), {}, "module-bluez5-device.c");
    r.isSink = isSink;
    r.index = isSink ? 7 : 9;
    r.name = std::move(name);
    r.description = "WH-1000XM4";
    r.rate = rate;
    r.channelPositions = std::move(positions);
    r.volumes = std::vector<uint32_t>(r.channelPositions.size(), vol(0.8));
    r.card = 4;
    return r;
}

CardRecord bluetoothCard(std::string active, std::vector<CardProfileRecord> profiles)
{
    return {4, "bluez_card.AC_80_0A_12_34_56", std::move(active), std::move(profiles), {{"device.bus", "bluetooth"}}};
}

// A reading of one device and its card, for the card rules.
AudioSnapshot reading(const AudioDevice& device, const CardRecord* card)
{
    AudioSnapshot s;
    s.devices = {device};
    if (card)
        s.cards = {toAudioCard(*card)};
    return s;
}

bool inCallMode(const AudioDevice& device, const CardRecord* card)
{
    return reading(device, card).isInCallMode(device);
}

std::optional<std::string> profileToRestore(const AudioDevice& device, const CardRecord* card)
{
    return reading(device, card).highFidelityProfileToRestore(device);
}

}  // namespace

TEST(pulse_mapping, a_pulseaudio_headset_keeps_its_uid_when_the_profile_renames_its_sink)
{
    // PulseAudio 16, `pactl list cards` of a Sony headset.
    const std::vector<CardProfileRecord> profiles{
        {"a2dp_sink", "High Fidelity Playback (A2DP Sink)", 40, true, 1, 0},
        {"headset_head_unit", "Headset Head Unit (HSP/HFP)", 30, true, 1, 1},
        {"off", "Off", 0, true, 0, 0},
    };
    const auto a2dp = bluetoothCard("a2dp_sink", profiles);
    const auto headset = bluetoothCard("headset_head_unit", profiles);
    const auto listening = toAudioDevice(bluetoothRecord(true, "bluez_sink.AC_80_0A_12_34_56.a2dp_sink", 44100,
                                                         {FL, FR}, {{"bluetooth.protocol", "a2dp_sink"}}),
                                         false, &a2dp);
    const auto calling = toAudioDevice(bluetoothRecord(true, "bluez_sink.AC_80_0A_12_34_56.headset_head_unit", 16000,
                                                       {MONO}, {{"bluetooth.protocol", "headset_head_unit"}}),
                                       false, &headset);
    const auto microphone = toAudioDevice(
        bluetoothRecord(false, "bluez_source.AC_80_0A_12_34_56.headset_head_unit", 16000, {MONO}, {}), true, &headset);

    EXPECT_EQ(listening.uid, "bluez_card.AC_80_0A_12_34_56.output");
    EXPECT_EQ(calling.uid, listening.uid);
    EXPECT_EQ(microphone.uid, "bluez_card.AC_80_0A_12_34_56.input");
    EXPECT_EQ(listening.cardName, "bluez_card.AC_80_0A_12_34_56");
    EXPECT_EQ(toAudioCard(headset).profiles[1],
              (CardProfile{"headset_head_unit", "Headset Head Unit (HSP/HFP)", true, 30, 1, 1}));
    EXPECT_EQ(toAudioCard(headset).bus, "bluetooth");
    EXPECT_FALSE(inCallMode(listening, &a2dp));
    EXPECT_FALSE(profileToRestore(listening, &a2dp));
    EXPECT_TRUE(inCallMode(calling, &headset));
    EXPECT_EQ(profileToRestore(calling, &headset), "a2dp_sink");
    // The whole card is in call mode, the microphone side too.
    EXPECT_TRUE(inCallMode(microphone, &headset));
}

TEST(pulse_mapping, a_pipewire_headset_in_call_mode_restores_its_best_available_a2dp_profile)
{
    // PipeWire 0.3.65: one profile per codec beside the automatic ones; SBC-XQ
    // is listed but unavailable with this headset.
    const auto card = bluetoothCard("headset-head-unit-msbc", {
        {"off", "Off", 0, true},
        {"a2dp-sink", "High Fidelity Playback (A2DP Sink)", 16, true},
        {"a2dp-sink-sbc", "High Fidelity Playback (A2DP Sink, codec SBC)", 18, true},
        {"a2dp-sink-sbc_xq", "High Fidelity Playback (A2DP Sink, codec SBC-XQ)", 19, false},
        {"headset-head-unit", "Headset Head Unit (HSP/HFP)", 1, true},
        {"headset-head-unit-cvsd", "Headset Head Unit (HSP/HFP, codec CVSD)", 1, true},
        {"headset-head-unit-msbc", "Headset Head Unit (HSP/HFP, codec mSBC)", 2, true},
    });
    const Properties pipeWire{{"device.api", "bluez5"}, {"api.bluez5.profile", "headset-head-unit"}};
    const auto calling = toAudioDevice(
        bluetoothRecord(true, "bluez_output.AC_80_0A_12_34_56.headset-head-unit", 16000, {MONO}, pipeWire), false,
        &card);
    EXPECT_EQ(calling.uid, "bluez_card.AC_80_0A_12_34_56.output");
    EXPECT_TRUE(inCallMode(calling, &card));
    EXPECT_EQ(profileToRestore(calling, &card), "a2dp-sink-sbc");

    // Every other profile name is no call mode, whatever the rate says.
    for (const char* profile : {"a2dp-sink", "a2dp-sink-sbc", "off"}) {
        auto other = card;
        other.activeProfile = profile;
        const auto d = toAudioDevice(
            bluetoothRecord(true, "bluez_output.AC_80_0A_12_34_56.1", 16000, {FL, FR}, pipeWire), false, &other);
        EXPECT_FALSE(inCallMode(d, &other)) << profile;
        EXPECT_FALSE(profileToRestore(d, &other)) << profile;
    }
}

TEST(pulse_mapping, a_bluetooth_sink_without_a_card_at_a_music_rate_is_not_in_call_mode)
{
    // A headset without a card below 44.1 kHz is among the recorded listings.
    auto bare = bluetoothRecord(true, "rig_bluetooth_headphones", 48000, {FL, FR}, {});
    bare.card = noCard;
    EXPECT_FALSE(inCallMode(toAudioDevice(bare, false), nullptr));
}
