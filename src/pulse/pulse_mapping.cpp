#include "pulse/pulse_mapping.h"

#include "model/text_format.h"
#include "pulse/pulse_stream.h"

#include <pulse/channelmap.h>
#include <pulse/def.h>
#include <pulse/proplist.h>
#include <pulse/volume.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <set>

namespace sonorel::pulse {

namespace {

constexpr AudioObjectID sinkTag = 0x40000000;
constexpr AudioObjectID sourceTag = 0x80000000;
constexpr AudioObjectID clientTag = 0xC0000000;

std::string property(const Properties& properties, const std::string& key)
{
    auto found = properties.find(key);
    return found == properties.end() ? std::string{} : found->second;
}

bool namesDisplay(const std::string& text)
{
    const std::string lower = lowercased(text);
    return lower.find("hdmi") != std::string::npos || lower.find("displayport") != std::string::npos;
}

pa_cvolume cvolumeOf(const std::vector<uint32_t>& volumes)
{
    pa_cvolume cv;
    pa_cvolume_init(&cv);
    cv.channels = uint8_t(std::min<size_t>(volumes.size(), PA_CHANNELS_MAX));
    for (size_t i = 0; i < cv.channels; ++i)
        cv.values[i] = volumes[i];
    return cv;
}

std::vector<uint32_t> volumesOf(const pa_cvolume& cv)
{
    return std::vector<uint32_t>(cv.values, cv.values + cv.channels);
}

std::optional<pa_channel_map> channelMapOf(const std::vector<int>& positions)
{
    if (positions.empty() || positions.size() > PA_CHANNELS_MAX)
        return std::nullopt;
    pa_channel_map map;
    pa_channel_map_init(&map);
    map.channels = uint8_t(positions.size());
    for (size_t i = 0; i < positions.size(); ++i)
        map.map[i] = pa_channel_position_t(positions[i]);
    if (!pa_channel_map_valid(&map))
        return std::nullopt;
    return map;
}

float toScalar(uint32_t volume)
{
    return std::clamp(float(double(volume) / PA_VOLUME_NORM), 0.0f, 1.0f);
}

uint32_t toVolume(float scalar)
{
    return uint32_t(std::lround(double(scalar) * PA_VOLUME_NORM));
}

uint32_t frames(uint64_t usec, uint32_t rate)
{
    return uint32_t(usec * rate / 1000000);
}

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::optional<int> number(const std::string& text)
{
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The length of the valid UTF-8 sequence at the start of `bytes`, or 0.
size_t validSequenceLength(std::string_view bytes)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // no overlong forms
        if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (bytes.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

}  // namespace

std::string validUtf8(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    while (!bytes.empty()) {
        const size_t length = validSequenceLength(bytes);
        if (length == 0) {
            text += "\xEF\xBF\xBD";
            bytes.remove_prefix(1);
            continue;
        }
        text.append(bytes.substr(0, length));
        bytes.remove_prefix(length);
    }
    return text;
}

AudioObjectID deviceID(bool isSink, uint32_t index)
{
    return (isSink ? sinkTag : sourceTag) | (index & ~clientTag);
}

AudioObjectID clientID(uint32_t clientIndex)
{
    return clientTag | (clientIndex & ~clientTag);
}

std::optional<int> intProperty(const Properties& properties, const std::string& key)
{
    return number(property(properties, key));
}

AudioTransport transportOf(const DeviceRecord& device, const CardRecord* card)
{
    // pipewire-pulse 0.3 leaves a card's bus and form factor off its sinks and sources.
    const auto deviceOrCard = [&](const char* key) {
        std::string value = property(device.properties, key);
        return value.empty() && card ? property(card->properties, key) : value;
    };
    const std::string bus = deviceOrCard(PA_PROP_DEVICE_BUS);
    if (bus == "bluetooth")
        return AudioTransport::bluetooth;
    if (bus == "usb")
        return AudioTransport::usb;
    if (namesDisplay(device.activePort) || namesDisplay(property(device.properties, PA_PROP_DEVICE_PROFILE_NAME)))
        return AudioTransport::display;
    if (deviceOrCard(PA_PROP_DEVICE_FORM_FACTOR) == "internal" || bus == "pci" || bus == "platform")
        return AudioTransport::builtIn;
    if (device.driver.find("combine") != std::string::npos)
        return AudioTransport::aggregate;
    // Null sinks, filters and loopbacks are not sound cards.
    if (property(device.properties, PA_PROP_DEVICE_CLASS) != "sound")
        return AudioTransport::virtual_;
    return AudioTransport::other;
}

float volumeScalar(const std::vector<uint32_t>& volumes)
{
    return volumes.empty() ? 0.0f : toScalar(*std::max_element(volumes.begin(), volumes.end()));
}

std::optional<std::vector<uint32_t>> volumesAfterSetting(const std::vector<uint32_t>& volumes, uint32_t element,
                                                         float value)
{
    if (!std::isfinite(value) || value < 0 || value > 1 || volumes.empty() || element > volumes.size())
        return std::nullopt;
    pa_cvolume cv = cvolumeOf(volumes);
    if (element == 0) {
        // All channels at zero have no ratio to keep: raise them together.
        if (pa_cvolume_max(&cv) == PA_VOLUME_MUTED)
            pa_cvolume_set(&cv, cv.channels, toVolume(value));
        else
            pa_cvolume_scale(&cv, toVolume(value));
    } else {
        cv.values[element - 1] = toVolume(value);
    }
    return volumesOf(cv);
}

std::optional<float> balanceOf(const std::vector<int>& positions, const std::vector<uint32_t>& volumes)
{
    auto map = channelMapOf(positions);
    if (!map || volumes.size() != positions.size() || !pa_channel_map_can_balance(&*map))
        return std::nullopt;
    const pa_cvolume cv = cvolumeOf(volumes);
    return (pa_cvolume_get_balance(&cv, &*map) + 1.0f) / 2.0f;
}

std::optional<std::vector<uint32_t>> volumesWithBalance(const std::vector<int>& positions,
                                                        const std::vector<uint32_t>& volumes, float balance)
{
    auto map = channelMapOf(positions);
    if (!std::isfinite(balance) || balance < 0 || balance > 1 || !map || volumes.size() != positions.size()
        || !pa_channel_map_can_balance(&*map))
        return std::nullopt;
    pa_cvolume cv = cvolumeOf(volumes);
    if (!pa_cvolume_set_balance(&cv, &*map, balance * 2 - 1))
        return std::nullopt;
    return volumesOf(cv);
}

AudioCard toAudioCard(const CardRecord& record)
{
    AudioCard card;
    card.name = validUtf8(record.name);
    const std::string description = property(record.properties, PA_PROP_DEVICE_DESCRIPTION);
    card.description = validUtf8(description.empty() ? record.name : description);
    card.bus = validUtf8(property(record.properties, PA_PROP_DEVICE_BUS));
    card.activeProfile = validUtf8(record.activeProfile);
    for (const auto& profile : record.profiles)
        card.profiles.push_back({validUtf8(profile.name), validUtf8(profile.description), profile.available,
                                 profile.priority, profile.sinks, profile.sources});
    return card;
}

bool isPlaceholder(const DeviceRecord& device)
{
    const std::string deviceClass = property(device.properties, PA_PROP_DEVICE_CLASS);
    return device.isSink && device.name == "auto_null" && (deviceClass.empty() || deviceClass == "abstract");
}

std::string portTypeName(int type)
{
    static constexpr std::string_view names[] = {
        "",     "aux",    "speaker",  "headphones", "line",     "mic",  "headset", "handset",
        "earpiece", "spdif", "hdmi", "tv",   "radio", "video", "usb", "bluetooth",
        "portable", "handsfree", "car", "hifi", "phone", "network", "analog",
    };
    return type >= 0 && size_t(type) < std::size(names) ? std::string(names[type]) : std::string{};
}

namespace {

PortAvailability availabilityOf(PortAvailable available)
{
    switch (available) {
    case PortAvailable::yes:
        return PortAvailability::available;
    case PortAvailable::no:
        return PortAvailability::unavailable;
    case PortAvailable::unknown:
        break;
    }
    return PortAvailability::unknown;
}

}  // namespace

AudioDevice toAudioDevice(const DeviceRecord& record, bool runningInput, const CardRecord* card)
{
    AudioDevice d;
    d.id = deviceID(record.isSink, record.index);
    d.uid = validUtf8(record.name);
    d.name = validUtf8(record.description.empty() ? record.name : record.description);
    d.transport = transportOf(record, card);
    d.isPlaceholder = isPlaceholder(record);
    if (card) {
        d.cardName = validUtf8(card->name);
        if (d.transport == AudioTransport::bluetooth)
            d.uid = *d.cardName + (record.isSink ? ".output" : ".input");
    }
    for (const auto& port : record.ports)
        d.ports.push_back({validUtf8(port.name), validUtf8(port.description.empty() ? port.name : port.description),
                           availabilityOf(port.available), portTypeName(port.type), port.priority});
    if (!record.activePort.empty())
        d.activePort = validUtf8(record.activePort);
    const int channels = int(record.channelPositions.size());
    (record.isSink ? d.outputChannels : d.inputChannels) = channels;
    d.isAlive = true;
    d.isRunningInput = !record.isSink && runningInput;
    if (record.rate > 0) {
        d.sampleRate = record.rate;
        d.availableRates = {{double(record.rate), double(record.rate)}};
    }

    std::vector<AudioChannelState> controls;
    if (!record.volumes.empty()) {
        controls.push_back({0, volumeScalar(record.volumes), record.muted, true, true, {}});
        for (size_t channel = 0; channel < record.volumes.size(); ++channel) {
            const bool named = channel < record.channelPositions.size();
            const char* name = named ? pa_channel_position_to_pretty_string(
                                           pa_channel_position_t(record.channelPositions[channel]))
                                     : nullptr;
            controls.push_back({uint32_t(channel + 1), toScalar(record.volumes[channel]), std::nullopt, true, false,
                                name ? std::string(name) : std::string()});
        }
    }
    if (record.isSink) {
        d.outputControls = std::move(controls);
        d.volume = volumeScalar(record.volumes);
        d.isMuted = record.muted;
        d.canSetVolume = true;
        d.canSetMute = true;
        d.balance = balanceOf(record.channelPositions, record.volumes);
        d.canSetBalance = d.balance.has_value();
        const auto& positions = record.channelPositions;
        auto left = std::find(positions.begin(), positions.end(), int(PA_CHANNEL_POSITION_FRONT_LEFT));
        auto right = std::find(positions.begin(), positions.end(), int(PA_CHANNEL_POSITION_FRONT_RIGHT));
        if (left != positions.end() && right != positions.end())
            d.stereoChannels = {uint32_t(left - positions.begin() + 1), uint32_t(right - positions.begin() + 1)};
    } else {
        d.inputControls = std::move(controls);
    }

    if (record.configuredLatencyUsec > 0 && record.rate > 0)
        d.bufferFrames = frames(record.configuredLatencyUsec, record.rate);
    if (record.latencyUsec > 0 && record.rate > 0)
        d.latencyFrames = frames(record.latencyUsec, record.rate);
    if (record.rate > 0)
        d.formats = {AudioStreamFormat{record.isSink ? AudioDirection::output : AudioDirection::input,
                                       double(record.rate), record.bitsPerSample, uint32_t(channels),
                                       record.isFloat}};
    return d;
}

std::string alertSinkOf(const std::optional<AlertEntry>& entry, const std::vector<DeviceRecord>& devices,
                        const std::string& defaultSink, bool isPipeWire)
{
    if (isPipeWire || !entry || entry->device.empty())
        return defaultSink;
    const bool exists = std::any_of(devices.begin(), devices.end(),
                                    [&](const DeviceRecord& d) { return d.isSink && d.name == entry->device; });
    return exists ? entry->device : defaultSink;
}

bool isOwnStream(const StreamRecord& stream, uint32_t ownClientIndex)
{
    return (stream.clientIndex == ownClientIndex && ownClientIndex != PA_INVALID_INDEX)
        || stream.properties.count(ownStreamKey) > 0;
}

RecordingKind recordingKindOf(const StreamRecord& stream, const MonitorMap& monitors)
{
    // PulseAudio resamples a peak-detecting stream by "peaks"; pipewire-pulse marks it.
    const bool peaks = stream.resampleMethod == "peaks" || property(stream.properties, "resample.peaks") == "true";
    return recordingKind(stream.rate, peaks, monitors.count(stream.deviceIndex) > 0);
}

namespace {

// Who an app is: its name (else its binary, else its process) and bundle id.
struct AppIdentity {
    std::string name;
    std::optional<std::string> bundleID;
};

AppIdentity identityOf(const Properties& properties, int pid)
{
    AppIdentity identity;
    const std::string binary = validUtf8(property(properties, PA_PROP_APPLICATION_PROCESS_BINARY));
    const std::string name = validUtf8(property(properties, PA_PROP_APPLICATION_NAME));
    identity.name = !name.empty() ? name : !binary.empty() ? binary : "Process " + std::to_string(pid);
    const std::string applicationID = validUtf8(property(properties, PA_PROP_APPLICATION_ID));
    if (!applicationID.empty())
        identity.bundleID = applicationID;
    else if (!binary.empty())
        identity.bundleID = binary;
    return identity;
}

void addOnce(std::vector<AudioObjectID>& ids, AudioObjectID id)
{
    if (std::find(ids.begin(), ids.end(), id) == ids.end())
        ids.push_back(id);
}

}  // namespace

std::vector<AudioClient> clientsOf(const std::vector<StreamRecord>& streams, uint32_t ownClientIndex,
                                   const MonitorMap& monitors)
{
    std::map<uint32_t, AudioClient> byClient;
    std::vector<uint32_t> order;
    for (const auto& stream : streams) {
        if (isOwnStream(stream, ownClientIndex))
            continue;
        const RecordingKind kind = stream.isRecording ? recordingKindOf(stream, monitors) : RecordingKind::input;
        // A volume control's meters are not the app using audio.
        if (stream.isRecording && kind == RecordingKind::levelMeter)
            continue;
        const auto pid = intProperty(stream.properties, PA_PROP_APPLICATION_PROCESS_ID);
        if (!pid || *pid <= 0)
            continue;
        // A stream without a client stands for itself.
        const uint32_t key = stream.clientIndex != PA_INVALID_INDEX ? stream.clientIndex : 0x20000000 | stream.index;
        auto [entry, isNew] = byClient.try_emplace(key);
        AudioClient& client = entry->second;
        if (isNew) {
            order.push_back(key);
            client.id = clientID(key);
            client.pid = *pid;
            auto identity = identityOf(stream.properties, *pid);
            client.name = std::move(identity.name);
            client.bundleID = std::move(identity.bundleID);
        }
        if (stream.corked)
            continue;
        if (!stream.isRecording) {
            addOnce(client.outputDeviceIDs, deviceID(true, stream.deviceIndex));
            client.isRunningOutput = true;
        } else if (kind == RecordingKind::outputCapture) {
            addOnce(client.capturedOutputIDs, deviceID(true, monitors.at(stream.deviceIndex)));
        } else {
            addOnce(client.inputDeviceIDs, deviceID(false, stream.deviceIndex));
            client.isRunningInput = true;
        }
    }
    std::vector<AudioClient> clients;
    for (uint32_t key : order) {
        AudioClient& client = byClient[key];
        if (client.isRunningInput || client.isRunningOutput || !client.capturedOutputIDs.empty())
            clients.push_back(std::move(client));
    }
    return clients;
}

std::vector<AppStream> appStreamsOf(const std::vector<StreamRecord>& streams, uint32_t ownClientIndex)
{
    std::vector<AppStream> result;
    for (const auto& stream : streams) {
        if (stream.isRecording || isOwnStream(stream, ownClientIndex))
            continue;
        const int pid = intProperty(stream.properties, PA_PROP_APPLICATION_PROCESS_ID).value_or(0);
        auto identity = identityOf(stream.properties, pid);
        AppStream app;
        app.index = stream.index;
        app.appName = std::move(identity.name);
        app.bundleID = std::move(identity.bundleID);
        app.pid = pid;
        app.outputID = deviceID(true, stream.deviceIndex);
        app.volume = stream.volumes.empty() ? 1.0f : volumeScalar(stream.volumes);
        app.isMuted = stream.muted;
        app.canSetVolume = stream.volumeWritable;
        app.isCorked = stream.corked;
        result.push_back(std::move(app));
    }
    return result;
}

namespace {

std::optional<int> ownerPidIn(const std::filesystem::path& status)
{
    std::ifstream file(status);
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind("owner_pid", 0) != 0)
            continue;
        auto colon = line.find(':');
        if (colon == std::string::npos)
            return std::nullopt;
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        return number(value);
    }
    return std::nullopt;
}

// owner_pid is the thread that opened the PCM, not its process: PulseAudio
// reopens a resumed sink from its "alsa-sink-…" I/O thread.
int processOf(const std::filesystem::path& procRoot, int pid)
{
    std::ifstream status(procRoot / std::to_string(pid) / "status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Tgid:", 0) != 0)
            continue;
        line.erase(0, line.find_first_not_of(" \t", 5));
        return number(line).value_or(pid);
    }
    return pid;
}

bool isSoundServer(const std::filesystem::path& procRoot, int pid)
{
    std::ifstream comm(procRoot / std::to_string(processOf(procRoot, pid)) / "comm");
    std::string name;
    std::getline(comm, name);
    return name == "pulseaudio" || name == "pipewire" || name == "pipewire-pulse" || name == "wireplumber";
}

}  // namespace

std::optional<ProcessID> exclusiveOwner(const std::filesystem::path& asoundRoot, const std::filesystem::path& procRoot,
                                        int card, int pcm, bool playback)
{
    const auto pcmDir = asoundRoot / ("card" + std::to_string(card)) / ("pcm" + std::to_string(pcm) + (playback ? "p" : "c"));
    std::error_code error;
    if (!std::filesystem::is_directory(pcmDir, error))
        return std::nullopt;
    for (const auto& entry : std::filesystem::directory_iterator(pcmDir, error)) {
        if (entry.path().filename().string().rfind("sub", 0) != 0)
            continue;
        const auto owner = ownerPidIn(entry.path() / "status");
        if (owner && *owner > 0 && !isSoundServer(procRoot, *owner))
            return ProcessID(*owner);
    }
    return -1;
}

namespace {

// The name after the driver in /proc/asound/cards: " 0 [PCH ]: HDA-Intel - HDA Intel PCH".
std::optional<std::pair<int, std::string>> cardLine(const std::string& line)
{
    const auto bracket = line.find('[');
    const auto dash = line.find(" - ");
    if (bracket == std::string::npos || dash == std::string::npos || dash < bracket)
        return std::nullopt;
    const auto cardNumber = number(trimmed(line.substr(0, bracket)));
    if (!cardNumber)
        return std::nullopt;
    return std::pair(*cardNumber, trimmed(line.substr(dash + 3)));
}

// The first process (not a sound server) holding any PCM of one direction.
std::optional<ProcessID> cardOwner(const std::filesystem::path& asoundRoot, const std::filesystem::path& procRoot,
                                   int card, bool playback)
{
    std::error_code error;
    const char suffix = playback ? 'p' : 'c';
    for (const auto& entry : std::filesystem::directory_iterator(asoundRoot / ("card" + std::to_string(card)), error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("pcm") || name.back() != suffix)
            continue;
        const auto pcm = number(name.substr(3, name.size() - 4));
        if (!pcm)
            continue;
        if (auto owner = exclusiveOwner(asoundRoot, procRoot, card, *pcm, playback); owner && *owner > 0)
            return processOf(procRoot, *owner);
    }
    return std::nullopt;
}

std::string commandName(const std::filesystem::path& procRoot, ProcessID pid)
{
    std::ifstream comm(procRoot / std::to_string(pid) / "comm");
    std::string name;
    std::getline(comm, name);
    return validUtf8(name.empty() ? "Process " + std::to_string(pid) : name);
}

}  // namespace

std::vector<HardwareCard> hardwareCards(const std::filesystem::path& asoundRoot, const std::filesystem::path& procRoot)
{
    std::vector<HardwareCard> cards;
    std::ifstream list(asoundRoot / "cards");
    std::string line;
    while (std::getline(list, line)) {
        const auto parsed = cardLine(line);
        if (!parsed)
            continue;
        HardwareCard card;
        card.number = parsed->first;
        card.name = validUtf8(parsed->second);
        card.playbackOwnerPID = cardOwner(asoundRoot, procRoot, card.number, true);
        if (card.playbackOwnerPID)
            card.playbackOwnerName = commandName(procRoot, *card.playbackOwnerPID);
        card.captureOwnerPID = cardOwner(asoundRoot, procRoot, card.number, false);
        if (card.captureOwnerPID)
            card.captureOwnerName = commandName(procRoot, *card.captureOwnerPID);
        cards.push_back(std::move(card));
    }
    return cards;
}

AudioSnapshot snapshotOf(const ServerReading& reading, bool isPipeWire)
{
    AudioSnapshot snapshot;
    std::set<uint32_t> runningSources;
    for (const auto& stream : reading.streams) {
        if (!stream.isRecording || stream.corked || isOwnStream(stream, reading.ownClientIndex)
            || recordingKindOf(stream, reading.monitors) != RecordingKind::input)
            continue;
        runningSources.insert(stream.deviceIndex);
        snapshot.inputIOActive = true;
    }
    const std::string alertSink =
        alertSinkOf(reading.alertEntry, reading.devices, reading.server.defaultSink, isPipeWire);
    for (const auto& record : reading.devices) {
        const auto card = reading.cards.find(record.card);
        AudioDevice device = toAudioDevice(record, !record.isSink && runningSources.count(record.index),
                                           card == reading.cards.end() ? nullptr : &card->second);
        if (record.name == reading.server.defaultSink)
            snapshot.outputID = device.id;
        if (record.name == reading.server.defaultSource)
            snapshot.inputID = device.id;
        if (record.isSink && record.name == alertSink)
            snapshot.systemOutputID = device.id;
        snapshot.devices.push_back(std::move(device));
    }
    for (const auto& [index, card] : reading.cards)
        snapshot.cards.push_back(toAudioCard(card));
    // pipewire-pulse accepts a new alert device but never routes by it.
    snapshot.canSetSystemOutput = reading.streamRestoreRead && !isPipeWire;
    snapshot.clients = clientsOf(reading.streams, reading.ownClientIndex, reading.monitors);
    snapshot.appStreams = appStreamsOf(reading.streams, reading.ownClientIndex);
    snapshot.clientActivityKnown = true;
    snapshot.inputActivityKnown = true;
    return snapshot;
}

}  // namespace sonorel::pulse
