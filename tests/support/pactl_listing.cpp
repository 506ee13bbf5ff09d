#include "support/pactl_listing.h"

#include "pulse/pulse_mapping.h"

#include <pulse/channelmap.h>
#include <pulse/sample.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sonorel::testing {

namespace {

using namespace pulse;

template <typename Record>
struct Listed {
    Record record;
    std::string ownerModule;
    std::string monitoredSink;  // a source's "Monitor of Sink:"
};

std::string trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    return first == std::string_view::npos
               ? std::string{}
               : std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

// pactl indents one tab a level; a paste that turned each tab into eight spaces reads the same.
int depthOf(std::string_view line)
{
    const auto indent = line.substr(0, line.find_first_not_of(" \t"));
    return int(std::count(indent.begin(), indent.end(), '\t') + std::count(indent.begin(), indent.end(), ' ') / 8);
}

// The number a text starts with ("48000Hz" is 48000); 0 when it starts with none.
uint32_t number(std::string_view text)
{
    uint32_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::string valueOf(const Properties& values, const std::string& key)
{
    const auto found = values.find(key);
    return found == values.end() ? std::string{} : found->second;
}

// A port or profile line, "name: Description (key: value, …, flag)": the name
// ends at the first ": " (profile names hold bare colons), the attributes are
// the last parentheses (descriptions hold some too).
struct Entry {
    std::string name;
    std::string description;
    std::string attributes;

    std::string attribute(const std::string& key) const
    {
        const std::string wanted = key + ": ";
        for (size_t at = 0; at < attributes.size();) {
            const size_t end = std::min(attributes.find(", ", at), attributes.size());
            if (attributes.compare(at, wanted.size(), wanted) == 0)
                return attributes.substr(at + wanted.size(), end - at - wanted.size());
            at = end + 2;
        }
        return {};
    }
};

Entry entryOf(const std::string& text)
{
    const size_t colon = text.find(": ");
    const size_t open = text.rfind(" (");
    if (colon == std::string::npos || open == std::string::npos || open < colon || !text.ends_with(')'))
        return {text, {}, {}};
    return {text.substr(0, colon), text.substr(colon + 2, open - colon - 2),
            text.substr(open + 2, text.size() - open - 3)};
}

PortRecord portOf(const std::string& text)
{
    const Entry entry = entryOf(text);
    PortRecord port;
    port.name = entry.name;
    port.description = entry.description;
    port.priority = number(entry.attribute("priority"));
    // Last comes "available", "not available" or "availability unknown".
    if (entry.attributes.ends_with("not available"))
        port.available = PortAvailable::no;
    else if (entry.attributes.ends_with("available"))
        port.available = PortAvailable::yes;
    // pactl names the pa_device_port_type_t ("Headphones", "SPDIF"); "Unknown" is 0.
    std::string type = entry.attribute("type");
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    for (int t = 1; !portTypeName(t).empty(); ++t)
        if (portTypeName(t) == type)
            port.type = t;
    return port;
}

CardProfileRecord profileOf(const std::string& text)
{
    const Entry e = entryOf(text);
    return {e.name, e.description, number(e.attribute("priority")), e.attribute("available") != "no",
            number(e.attribute("sinks")), number(e.attribute("sources"))};
}

// `key = "value"`
void addProperty(Properties& properties, const std::string& text)
{
    const size_t equals = text.find(" = \"");
    if (equals == std::string::npos || equals == 0 || text.find(' ') < equals || !text.ends_with('"'))
        return;
    properties[text.substr(0, equals)] = text.substr(equals + 4, text.size() - equals - 5);
}

void readField(Listed<DeviceRecord>& listed, const std::string& key, const std::string& value)
{
    DeviceRecord& d = listed.record;
    for (auto [field, target] : {std::pair{"Name", &d.name}, {"Description", &d.description}, {"Driver", &d.driver},
                                 {"Owner Module", &listed.ownerModule}, {"Active Port", &d.activePort}})
        if (key == field)
            *target = value;
    if (key == "Mute")
        d.muted = value == "yes";
    else if (key == "Monitor of Sink" && value != "n/a")
        listed.monitoredSink = value;
    else if (key == "Sample Specification") {  // "s16le 2ch 48000Hz"
        const std::string format = value.substr(0, value.find(' '));
        const pa_sample_format_t sampleFormat = pa_parse_sample_format(format.c_str());
        if (sampleFormat != PA_SAMPLE_INVALID)
            d.bitsPerSample = uint32_t(pa_sample_size_of_format(sampleFormat) * 8);
        d.isFloat = sampleFormat == PA_SAMPLE_FLOAT32LE || sampleFormat == PA_SAMPLE_FLOAT32BE;
        d.rate = number(value.substr(value.rfind(' ') + 1));
    } else if (key == "Channel Map") {  // "front-left,front-right"
        std::istringstream names(value);
        for (std::string name; std::getline(names, name, ',');)
            d.channelPositions.push_back(int(pa_channel_position_from_string(name.c_str())));
    } else if (key == "Volume") {  // "front-left: 65536 / 100% / 0.00 dB,   front-right: …"
        for (auto at = value.find(": "); at != std::string::npos; at = value.find(": ", at + 2))
            d.volumes.push_back(number(std::string_view(value).substr(at + 2)));
    }
}

void readField(Listed<CardRecord>& listed, const std::string& key, const std::string& value)
{
    for (auto [field, target] : {std::pair{"Name", &listed.record.name}, {"Owner Module", &listed.ownerModule},
                                 {"Active Profile", &listed.record.activeProfile}})
        if (key == field)
            *target = value;
}

// PulseAudio's card module owns the card's sinks and sources too; pipewire-pulse
// names no owner but gives a node the object id of its device.
const CardRecord* cardOf(const Listed<DeviceRecord>& device, const std::vector<Listed<CardRecord>>& cards)
{
    const std::string deviceID = valueOf(device.record.properties, "device.id");
    for (const auto& card : cards)
        if ((card.ownerModule == device.ownerModule && card.ownerModule != "n/a")
            || (!deviceID.empty() && valueOf(card.record.properties, "object.id") == deviceID))
            return &card.record;
    return nullptr;
}

// One section's lines: "Key: value" one level in, the entries of its
// Properties, Ports or Profiles block two levels in; deeper lines are skipped.
template <typename Record>
void readLine(Listed<Record>& listed, int level, const std::string& text, std::string& block)
{
    if (level == 1) {
        const auto colon = text.find(':');
        block = text.substr(0, colon);
        readField(listed, block, colon == std::string::npos ? std::string{} : trimmed(text.substr(colon + 1)));
    } else if (level == 2 && block == "Properties") {
        addProperty(listed.record.properties, text);
    } else if constexpr (std::is_same_v<Record, DeviceRecord>) {
        if (level == 2 && block == "Ports")
            listed.record.ports.push_back(portOf(text));
    } else if (level == 2 && block == "Profiles") {
        listed.record.profiles.push_back(profileOf(text));
    }
}

}  // namespace

ServerReading readListing(const std::filesystem::path& file, std::string defaultSink, std::string defaultSource)
{
    std::ifstream in(file);
    if (!in)
        throw std::runtime_error("cannot read the listing " + file.string());
    ServerReading reading;
    reading.server.defaultSink = std::move(defaultSink);
    reading.server.defaultSource = std::move(defaultSource);
    std::vector<Listed<CardRecord>> cards;
    std::vector<Listed<DeviceRecord>> devices;
    enum class Section { other, card, device } section = Section::other;
    int sectionDepth = 0;
    std::string block;
    std::string line;
    while (std::getline(in, line)) {
        const std::string text = trimmed(line);
        // A section header: "Card #42", "Sink #0", "Source Output #3".
        const size_t hash = text.find(" #");
        const bool header = hash != std::string::npos && hash > 0 && std::isupper(static_cast<unsigned char>(text[0]))
                         && text.find_first_not_of("0123456789", hash + 2) == std::string::npos;
        if (text.empty() || line.starts_with('#'))
            continue;
        if (text.starts_with("Default Sink: "))
            reading.server.defaultSink = text.substr(14);
        else if (text.starts_with("Default Source: "))
            reading.server.defaultSource = text.substr(16);
        else if (header) {
            const std::string kind = text.substr(0, hash);
            section = kind == "Card" ? Section::card : kind == "Sink" || kind == "Source" ? Section::device
                                                                                           : Section::other;
            sectionDepth = depthOf(line);
            block.clear();
            if (section == Section::card)
                cards.emplace_back().record.index = number(text.substr(hash + 2));
            if (section == Section::device) {
                devices.emplace_back().record.index = number(text.substr(hash + 2));
                devices.back().record.isSink = kind == "Sink";
            }
        } else if (section == Section::card)
            readLine(cards.back(), depthOf(line) - sectionDepth, text, block);
        else if (section == Section::device)
            readLine(devices.back(), depthOf(line) - sectionDepth, text, block);
    }

    for (auto& device : devices) {
        if (const CardRecord* card = cardOf(device, cards))
            device.record.card = card->index;
        for (const auto& sink : devices)
            if (sink.record.isSink && !device.monitoredSink.empty() && sink.record.name == device.monitoredSink)
                reading.monitors[device.record.index] = device.record.monitorOf = sink.record.index;
    }
    // As the live cache gives them: sinks, then sources, each by index, monitors left out.
    std::stable_sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) {
        return std::pair(!a.record.isSink, a.record.index) < std::pair(!b.record.isSink, b.record.index);
    });
    for (const auto& device : devices)
        if (device.record.monitorOf == noSink)
            reading.devices.push_back(device.record);
    for (const auto& card : cards)
        reading.cards[card.record.index] = card.record;
    return reading;
}

}  // namespace sonorel::testing
