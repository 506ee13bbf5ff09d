#include "model/model_json.h"

#include <algorithm>
#include <limits>

namespace sonorel {

using namespace json_fields;
using OrderedJson = nlohmann::ordered_json;

namespace {

template <typename T>
void putOptional(OrderedJson& object, const char* key, const std::optional<T>& value)
{
    if (value)
        object[key] = *value;
}

void putOptional(OrderedJson& object, const char* key, const std::optional<float>& value)
{
    if (value)
        object[key] = jsonNumber(*value);
}

template <typename T>
OrderedJson rangeJson(const ClosedRange<T>& range)
{
    return OrderedJson::array({range.lowerBound, range.upperBound});
}

OrderedJson controlJson(const AudioChannelState& control)
{
    OrderedJson object;
    object["element"] = control.element;
    if (!control.name.empty())
        object["name"] = control.name;
    putOptional(object, "volume", control.volume);
    putOptional(object, "isMuted", control.isMuted);
    object["canSetVolume"] = control.canSetVolume;
    object["canSetMute"] = control.canSetMute;
    return object;
}

OrderedJson formatJson(const AudioStreamFormat& format)
{
    OrderedJson object;
    object["direction"] = caseName(format.direction);
    object["sampleRate"] = format.sampleRate;
    object["bitDepth"] = format.bitDepth;
    object["channels"] = format.channels;
    object["isFloat"] = format.isFloat;
    return object;
}

template <typename T, typename Encode>
OrderedJson listJson(const std::vector<T>& values, Encode encode)
{
    auto array = OrderedJson::array();
    for (const auto& value : values)
        array.push_back(encode(value));
    return array;
}

OrderedJson profileJson(const CardProfile& profile)
{
    OrderedJson object;
    object["name"] = profile.name;
    object["description"] = profile.description;
    object["isAvailable"] = profile.isAvailable;
    object["priority"] = profile.priority;
    object["sinks"] = profile.sinks;
    object["sources"] = profile.sources;
    return object;
}

OrderedJson cardJson(const AudioCard& card)
{
    OrderedJson object;
    object["name"] = card.name;
    object["description"] = card.description;
    object["bus"] = card.bus;
    object["activeProfile"] = card.activeProfile;
    object["profiles"] = listJson(card.profiles, profileJson);
    return object;
}

OrderedJson portJson(const AudioPort& port)
{
    OrderedJson object;
    object["name"] = port.name;
    object["description"] = port.description;
    object["availability"] = textOf(portAvailabilityNames, port.availability);
    object["type"] = port.type;
    object["priority"] = port.priority;
    return object;
}

OrderedJson appStreamJson(const AppStream& stream)
{
    OrderedJson object;
    object["index"] = stream.index;
    object["appName"] = stream.appName;
    putOptional(object, "bundleID", stream.bundleID);
    object["pid"] = stream.pid;
    putOptional(object, "outputID", stream.outputID);
    object["volume"] = jsonNumber(stream.volume);
    object["isMuted"] = stream.isMuted;
    object["canSetVolume"] = stream.canSetVolume;
    object["isCorked"] = stream.isCorked;
    return object;
}

OrderedJson hardwareCardJson(const HardwareCard& card)
{
    OrderedJson object;
    object["number"] = card.number;
    object["name"] = card.name;
    putOptional(object, "playbackOwnerPID", card.playbackOwnerPID);
    if (card.playbackOwnerPID)
        object["playbackOwnerName"] = card.playbackOwnerName;
    putOptional(object, "captureOwnerPID", card.captureOwnerPID);
    if (card.captureOwnerPID)
        object["captureOwnerName"] = card.captureOwnerName;
    return object;
}

OrderedJson deviceJson(const AudioDevice& d)
{
    OrderedJson object;
    object["id"] = d.id;
    object["uid"] = d.uid;
    object["name"] = d.name;
    object["transport"] = label(d.transport);
    object["inputChannels"] = d.inputChannels;
    object["outputChannels"] = d.outputChannels;
    object["isAlive"] = d.isAlive;
    object["isRunningInput"] = d.isRunningInput;
    putOptional(object, "sampleRate", d.sampleRate);
    object["availableRates"] = listJson(d.availableRates, rangeJson<double>);
    object["memberRates"] = d.memberRates;
    putOptional(object, "volume", d.volume);
    putOptional(object, "isMuted", d.isMuted);
    object["canSetVolume"] = d.canSetVolume;
    object["canSetMute"] = d.canSetMute;
    object["canSetRate"] = d.canSetRate;
    object["inputControls"] = listJson(d.inputControls, controlJson);
    object["outputControls"] = listJson(d.outputControls, controlJson);
    object["stereoChannels"] = d.stereoChannels;
    putOptional(object, "balance", d.balance);
    object["canSetBalance"] = d.canSetBalance;
    putOptional(object, "bufferFrames", d.bufferFrames);
    if (d.bufferRange)
        object["bufferRange"] = rangeJson(*d.bufferRange);
    putOptional(object, "latencyFrames", d.latencyFrames);
    putOptional(object, "safetyOffsetFrames", d.safetyOffsetFrames);
    putOptional(object, "exclusiveOwnerPID", d.exclusiveOwnerPID);
    object["formats"] = listJson(d.formats, formatJson);
    putOptional(object, "card", d.cardName);
    object["ports"] = listJson(d.ports, portJson);
    putOptional(object, "activePort", d.activePort);
    object["isPlaceholder"] = d.isPlaceholder;
    return object;
}

OrderedJson clientJson(const AudioClient& c)
{
    OrderedJson object;
    object["id"] = c.id;
    object["pid"] = c.pid;
    object["name"] = c.name;
    putOptional(object, "bundleID", c.bundleID);
    object["inputDeviceIDs"] = c.inputDeviceIDs;
    object["outputDeviceIDs"] = c.outputDeviceIDs;
    object["isRunningInput"] = c.isRunningInput;
    object["isRunningOutput"] = c.isRunningOutput;
    object["capturedOutputIDs"] = c.capturedOutputIDs;
    return object;
}

// Decoding: every reader takes the enclosing object and its path.

// What a reading can hold: levels and balance from 0 to 1, rates in hertz
// from 1 Hz to 10 MHz, channel counts from 0.
constexpr float levelMin = 0, levelMax = 1;
constexpr double rateMin = 1, rateMax = 10'000'000;
constexpr int channelsMax = std::numeric_limits<int>::max();

template <typename T>
T numberOr(const Json& object, const char* key, const std::string& path, T fallback = {})
{
    const Json* value = member(object, key);
    return value ? number<T>(*value, join(path, key)) : fallback;
}

bool flag(const Json& object, const char* key, const std::string& path)
{
    const Json* value = member(object, key);
    return value ? boolean(*value, join(path, key)) : false;
}

std::string textOr(const Json& object, const char* key, const std::string& path)
{
    const Json* value = member(object, key);
    return value ? text(*value, join(path, key)) : std::string{};
}

template <typename T>
std::optional<T> optionalNumber(const Json& object, const char* key, const std::string& path)
{
    const Json* value = member(object, key);
    return value ? std::optional<T>(number<T>(*value, join(path, key))) : std::nullopt;
}

std::optional<bool> optionalFlag(const Json& object, const char* key, const std::string& path)
{
    const Json* value = member(object, key);
    return value ? std::optional<bool>(boolean(*value, join(path, key))) : std::nullopt;
}

template <typename T, typename Decode>
std::vector<T> listOr(const Json& object, const char* key, const std::string& path, Decode decode)
{
    const Json* value = member(object, key);
    return value ? list<T>(*value, join(path, key), decode) : std::vector<T>{};
}

template <typename T>
std::optional<T> optionalNumberWithin(const Json& object, const char* key, const std::string& path, T minimum,
                                      T maximum)
{
    const Json* value = member(object, key);
    return value ? std::optional<T>(numberWithin<T>(*value, join(path, key), minimum, maximum)) : std::nullopt;
}

template <typename T>
std::vector<T> numbers(const Json& object, const char* key, const std::string& path)
{
    return listOr<T>(object, key, path, [](const Json& v, const std::string& p) { return number<T>(v, p); });
}

std::optional<float> optionalLevel(const Json& object, const char* key, const std::string& path)
{
    return optionalNumberWithin<float>(object, key, path, levelMin, levelMax);
}

double rate(const Json& value, const std::string& path)
{
    return numberWithin<double>(value, path, rateMin, rateMax);
}

template <typename T>
ClosedRange<T> range(const Json& value, const std::string& path, T (*bound)(const Json&, const std::string&))
{
    if (!value.is_array() || value.size() != 2)
        fail(path, "expected a range [min, max]");
    ClosedRange<T> result{bound(value[0], indexed(path, 0)), bound(value[1], indexed(path, 1))};
    if (result.lowerBound > result.upperBound)
        fail(path, "range minimum is above its maximum");
    return result;
}

Date date(const Json& value, const std::string& path)
{
    auto parsed = dateFromIsoText(text(value, path));
    if (!parsed)
        fail(path, "expected an ISO 8601 date such as 2026-12-06T16:26:07Z");
    return *parsed;
}

std::optional<Date> optionalDate(const Json& object, const char* key, const std::string& path)
{
    const Json* value = member(object, key);
    return value ? std::optional<Date>(date(*value, join(path, key))) : std::nullopt;
}

AudioChannelState control(const Json& value, const std::string& path)
{
    requireObject(value, path);
    AudioChannelState c;
    c.element = numberOr<uint32_t>(value, "element", path);
    c.name = textOr(value, "name", path);
    c.volume = optionalLevel(value, "volume", path);
    c.isMuted = optionalFlag(value, "isMuted", path);
    c.canSetVolume = flag(value, "canSetVolume", path);
    c.canSetMute = flag(value, "canSetMute", path);
    return c;
}

AudioStreamFormat format(const Json& value, const std::string& path)
{
    requireObject(value, path);
    AudioStreamFormat f;
    const auto directionPath = join(path, "direction");
    auto direction = fromText(audioDirectionNames, text(required(value, "direction", path), directionPath));
    if (!direction)
        fail(directionPath, "expected \"input\" or \"output\"");
    f.direction = *direction;
    if (const Json* sampleRate = member(value, "sampleRate"))
        f.sampleRate = rate(*sampleRate, join(path, "sampleRate"));
    f.bitDepth = numberOr<uint32_t>(value, "bitDepth", path);
    f.channels = numberOr<uint32_t>(value, "channels", path);
    f.isFloat = flag(value, "isFloat", path);
    return f;
}

CardProfile profile(const Json& value, const std::string& path)
{
    requireObject(value, path);
    CardProfile p;
    p.name = text(required(value, "name", path), join(path, "name"));
    p.description = textOr(value, "description", path);
    // A profile the server lists can be chosen unless it says otherwise.
    p.isAvailable = optionalFlag(value, "isAvailable", path).value_or(true);
    p.priority = numberOr<uint32_t>(value, "priority", path);
    p.sinks = numberOr<uint32_t>(value, "sinks", path);
    p.sources = numberOr<uint32_t>(value, "sources", path);
    return p;
}

AudioCard card(const Json& value, const std::string& path)
{
    requireObject(value, path);
    AudioCard c;
    c.name = textOr(value, "name", path);
    c.description = textOr(value, "description", path);
    c.bus = textOr(value, "bus", path);
    c.activeProfile = text(required(value, "activeProfile", path), join(path, "activeProfile"));
    c.profiles = listOr<CardProfile>(value, "profiles", path, profile);
    return c;
}

AudioPort port(const Json& value, const std::string& path)
{
    requireObject(value, path);
    AudioPort p;
    p.name = text(required(value, "name", path), join(path, "name"));
    p.description = textOr(value, "description", path);
    if (const Json* availability = member(value, "availability")) {
        const auto availabilityPath = join(path, "availability");
        auto parsed = fromText(portAvailabilityNames, text(*availability, availabilityPath));
        if (!parsed)
            fail(availabilityPath, "expected one of \"unknown\", \"available\", \"unavailable\"");
        p.availability = *parsed;
    }
    p.type = textOr(value, "type", path);
    p.priority = numberOr<uint32_t>(value, "priority", path);
    return p;
}

AppStream appStream(const Json& value, const std::string& path)
{
    requireObject(value, path);
    AppStream s;
    s.index = numberOr<uint32_t>(value, "index", path);
    s.appName = textOr(value, "appName", path);
    if (const Json* bundleID = member(value, "bundleID"))
        s.bundleID = text(*bundleID, join(path, "bundleID"));
    s.pid = numberOr<ProcessID>(value, "pid", path);
    s.outputID = optionalNumber<AudioObjectID>(value, "outputID", path);
    s.volume = optionalLevel(value, "volume", path).value_or(1);
    s.isMuted = flag(value, "isMuted", path);
    s.canSetVolume = optionalFlag(value, "canSetVolume", path).value_or(true);
    s.isCorked = flag(value, "isCorked", path);
    return s;
}

HardwareCard hardwareCard(const Json& value, const std::string& path)
{
    requireObject(value, path);
    HardwareCard c;
    c.number = numberOr<int>(value, "number", path);
    c.name = textOr(value, "name", path);
    c.playbackOwnerPID = optionalNumber<int32_t>(value, "playbackOwnerPID", path);
    c.playbackOwnerName = textOr(value, "playbackOwnerName", path);
    c.captureOwnerPID = optionalNumber<int32_t>(value, "captureOwnerPID", path);
    c.captureOwnerName = textOr(value, "captureOwnerName", path);
    return c;
}

AudioTransport transport(const Json& object, const std::string& path)
{
    const Json* value = member(object, "transport");
    if (!value)
        return AudioTransport::other;
    const auto transportPath = join(path, "transport");
    auto parsed = fromText(audioTransportLabels, text(*value, transportPath));
    if (!parsed)
        fail(transportPath,
             "expected one of \"Built-in\", \"Bluetooth\", \"USB\", \"Display\", \"Virtual\", \"Aggregate\", "
             "\"Audio device\"");
    return *parsed;
}

// A device names its card; a file of an earlier version holds the card itself,
// which joins the reading's cards.
AudioDevice device(const Json& value, const std::string& path, std::vector<AudioCard>& cards)
{
    requireObject(value, path);
    AudioDevice d;
    d.id = numberOr<AudioObjectID>(value, "id", path);
    d.uid = textOr(value, "uid", path);
    d.name = textOr(value, "name", path);
    d.transport = transport(value, path);
    d.inputChannels = optionalNumberWithin(value, "inputChannels", path, 0, channelsMax).value_or(0);
    d.outputChannels = optionalNumberWithin(value, "outputChannels", path, 0, channelsMax).value_or(0);
    d.isAlive = flag(value, "isAlive", path);
    d.isRunningInput = flag(value, "isRunningInput", path);
    d.sampleRate = optionalNumberWithin(value, "sampleRate", path, rateMin, rateMax);
    d.availableRates = listOr<ClosedRange<double>>(value, "availableRates", path, [](const Json& v, const std::string& p) {
        return range<double>(v, p, rate);
    });
    d.memberRates = listOr<double>(value, "memberRates", path, rate);
    d.volume = optionalLevel(value, "volume", path);
    d.isMuted = optionalFlag(value, "isMuted", path);
    d.canSetVolume = flag(value, "canSetVolume", path);
    d.canSetMute = flag(value, "canSetMute", path);
    d.canSetRate = flag(value, "canSetRate", path);
    d.inputControls = listOr<AudioChannelState>(value, "inputControls", path, control);
    d.outputControls = listOr<AudioChannelState>(value, "outputControls", path, control);
    d.stereoChannels = numbers<uint32_t>(value, "stereoChannels", path);
    d.balance = optionalLevel(value, "balance", path);
    d.canSetBalance = flag(value, "canSetBalance", path);
    d.bufferFrames = optionalNumber<uint32_t>(value, "bufferFrames", path);
    if (const Json* bufferRange = member(value, "bufferRange"))
        d.bufferRange = range<uint32_t>(*bufferRange, join(path, "bufferRange"), number<uint32_t>);
    d.latencyFrames = optionalNumber<uint32_t>(value, "latencyFrames", path);
    d.safetyOffsetFrames = optionalNumber<uint32_t>(value, "safetyOffsetFrames", path);
    d.exclusiveOwnerPID = optionalNumber<ProcessID>(value, "exclusiveOwnerPID", path);
    d.formats = listOr<AudioStreamFormat>(value, "formats", path, format);
    if (const Json* cardValue = member(value, "card")) {
        if (cardValue->is_object()) {
            AudioCard embedded = card(*cardValue, join(path, "card"));
            d.cardName = embedded.name;
            if (std::none_of(cards.begin(), cards.end(), [&](const AudioCard& c) { return c.name == embedded.name; }))
                cards.push_back(std::move(embedded));
        } else {
            d.cardName = text(*cardValue, join(path, "card"));
        }
    }
    d.ports = listOr<AudioPort>(value, "ports", path, port);
    if (const Json* activePort = member(value, "activePort"))
        d.activePort = text(*activePort, join(path, "activePort"));
    d.isPlaceholder = flag(value, "isPlaceholder", path);
    return d;
}

AudioClient client(const Json& value, const std::string& path)
{
    requireObject(value, path);
    AudioClient c;
    c.id = numberOr<AudioObjectID>(value, "id", path);
    c.pid = numberOr<ProcessID>(value, "pid", path);
    c.name = textOr(value, "name", path);
    if (const Json* bundleID = member(value, "bundleID"))
        c.bundleID = text(*bundleID, join(path, "bundleID"));
    c.inputDeviceIDs = numbers<AudioObjectID>(value, "inputDeviceIDs", path);
    c.outputDeviceIDs = numbers<AudioObjectID>(value, "outputDeviceIDs", path);
    c.isRunningInput = flag(value, "isRunningInput", path);
    c.isRunningOutput = flag(value, "isRunningOutput", path);
    c.capturedOutputIDs = numbers<AudioObjectID>(value, "capturedOutputIDs", path);
    return c;
}

}  // namespace

std::string encodeSnapshot(const AudioSnapshot& s)
{
    OrderedJson object;
    object["devices"] = listJson(s.devices, deviceJson);
    putOptional(object, "outputID", s.outputID);
    putOptional(object, "inputID", s.inputID);
    object["capturedAt"] = isoDateText(s.capturedAt);
    if (s.lastOverload)
        object["lastOverload"] = isoDateText(*s.lastOverload);
    putOptional(object, "readError", s.readError);
    object["inputActivityKnown"] = s.inputActivityKnown;
    object["inputIOActive"] = s.inputIOActive;
    putOptional(object, "systemOutputID", s.systemOutputID);
    object["canSetSystemOutput"] = s.canSetSystemOutput;
    object["clients"] = listJson(s.clients, clientJson);
    object["clientActivityKnown"] = s.clientActivityKnown;
    object["overloadDates"] = listJson(s.overloadDates, isoDateText);
    object["cards"] = listJson(s.cards, cardJson);
    object["appStreams"] = listJson(s.appStreams, appStreamJson);
    object["hardwareCards"] = listJson(s.hardwareCards, hardwareCardJson);
    return object.dump(2);
}

AudioSnapshot decodeSnapshot(std::string_view json)
{
    const std::string path = "snapshot";
    const Json document = parse(json, path, "");
    requireObject(document, path);
    // Field paths below are relative to the document, as a user reads the file.
    const std::string top;
    AudioSnapshot s;
    s.cards = listOr<AudioCard>(document, "cards", top, card);
    s.devices = listOr<AudioDevice>(document, "devices", top, [&s](const Json& value, const std::string& at) {
        return device(value, at, s.cards);
    });
    s.outputID = optionalNumber<AudioObjectID>(document, "outputID", top);
    s.inputID = optionalNumber<AudioObjectID>(document, "inputID", top);
    s.capturedAt = date(required(document, "capturedAt", top), "capturedAt");
    s.lastOverload = optionalDate(document, "lastOverload", top);
    if (const Json* readError = member(document, "readError"))
        s.readError = text(*readError, "readError");
    s.inputActivityKnown = flag(document, "inputActivityKnown", top);
    s.inputIOActive = flag(document, "inputIOActive", top);
    s.systemOutputID = optionalNumber<AudioObjectID>(document, "systemOutputID", top);
    s.canSetSystemOutput = flag(document, "canSetSystemOutput", top);
    s.clients = listOr<AudioClient>(document, "clients", top, client);
    s.clientActivityKnown = flag(document, "clientActivityKnown", top);
    s.overloadDates = listOr<Date>(document, "overloadDates", top, date);
    s.appStreams = listOr<AppStream>(document, "appStreams", top, appStream);
    s.hardwareCards = listOr<HardwareCard>(document, "hardwareCards", top, hardwareCard);
    return s;
}

}  // namespace sonorel
