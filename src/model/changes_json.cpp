#include "model/model_json.h"

namespace sonorel {

using namespace json_fields;
using OrderedJson = nlohmann::ordered_json;

namespace {

constexpr EnumTexts<size_t, 12> settingKinds{{
    {0, "output"},
    {1, "input"},
    {2, "alerts"},
    {3, "volume"},
    {4, "mute"},
    {5, "balance"},
    {6, "rate"},
    {7, "profile"},
    {8, "port"},
    {9, "appVolume"},
    {10, "appMute"},
    {11, "appOutput"},
}};

OrderedJson settingJson(const AudioSetting& setting)
{
    OrderedJson object;
    object["kind"] = textOf(settingKinds, setting.value.index());
    std::visit(
        [&object](const auto& s) {
            using Case = std::decay_t<decltype(s)>;
            constexpr bool isApp = std::is_same_v<Case, AudioSetting::AppVolume>
                                || std::is_same_v<Case, AudioSetting::AppMute>
                                || std::is_same_v<Case, AudioSetting::AppOutput>;
            if constexpr (std::is_same_v<Case, AudioSetting::Profile>) {
                object["card"] = s.card;
            } else if constexpr (isApp) {
                object["stream"] = s.stream;
                object["app"] = s.app;
            } else {
                object["uid"] = s.uid;
            }
            if constexpr (std::is_same_v<Case, AudioSetting::Port>) {
                object["direction"] = caseName(s.direction);
            } else if constexpr (std::is_same_v<Case, AudioSetting::Volume> || std::is_same_v<Case, AudioSetting::Mute>) {
                object["direction"] = caseName(s.direction);
                object["element"] = s.element;
            }
            if constexpr (std::is_same_v<Case, AudioSetting::Volume> || std::is_same_v<Case, AudioSetting::Balance>
                          || std::is_same_v<Case, AudioSetting::AppVolume>)
                object["value"] = jsonNumber(s.value);
            else if constexpr (std::is_same_v<Case, AudioSetting::AppOutput>)
                object["uid"] = s.uid;
            else if constexpr (!std::is_same_v<Case, AudioSetting::Output> && !std::is_same_v<Case, AudioSetting::Input>
                               && !std::is_same_v<Case, AudioSetting::Alerts>)
                object["value"] = s.value;
        },
        setting.value);
    return object;
}

// Earlier versions named a Bluetooth card's profile by its device, whose uid
// is the card's name and its side.
std::string cardOfDevice(std::string uid)
{
    for (std::string_view side : {".output", ".input"})
        if (uid.ends_with(side))
            return uid.substr(0, uid.size() - side.size());
    return uid;
}

AudioSetting setting(const Json& value, const std::string& path)
{
    requireObject(value, path);
    const auto kindPath = join(path, "kind");
    const auto kind = fromText(settingKinds, text(required(value, "kind", path), kindPath));
    if (!kind)
        fail(kindPath, "expected one of output, input, alerts, volume, mute, balance, rate, profile, port, appVolume, "
                       "appMute, appOutput");
    auto uid = [&] { return text(required(value, "uid", path), join(path, "uid")); };
    auto direction = [&] {
        const auto directionPath = join(path, "direction");
        auto parsed = fromText(audioDirectionNames, text(required(value, "direction", path), directionPath));
        if (!parsed)
            fail(directionPath, "expected \"input\" or \"output\"");
        return *parsed;
    };
    auto element = [&] { return number<uint32_t>(required(value, "element", path), join(path, "element")); };
    auto stream = [&] { return number<uint32_t>(required(value, "stream", path), join(path, "stream")); };
    auto app = [&] { return text(required(value, "app", path), join(path, "app")); };
    const auto valuePath = join(path, "value");
    auto level = [&] { return numberWithin<float>(required(value, "value", path), valuePath, 0, 1); };
    auto flag = [&] { return boolean(required(value, "value", path), valuePath); };
    auto name = [&] { return text(required(value, "value", path), valuePath); };
    switch (*kind) {
    case 0:
        return AudioSetting::Output{uid()};
    case 1:
        return AudioSetting::Input{uid()};
    case 2:
        return AudioSetting::Alerts{uid()};
    case 3:
        return AudioSetting::Volume{uid(), direction(), element(), level()};
    case 4:
        return AudioSetting::Mute{uid(), direction(), element(), flag()};
    case 5:
        return AudioSetting::Balance{uid(), level()};
    case 6:
        return AudioSetting::Rate{uid(), numberWithin<double>(required(value, "value", path), valuePath, 1, 10'000'000)};
    case 7: {
        std::string card = member(value, "card") ? text(*member(value, "card"), join(path, "card"))
                                                 : cardOfDevice(uid());
        return AudioSetting::Profile{std::move(card), name()};
    }
    case 8:
        return AudioSetting::Port{uid(), direction(), name()};
    case 9:
        return AudioSetting::AppVolume{stream(), app(), level()};
    case 10:
        return AudioSetting::AppMute{stream(), app(), flag()};
    default:
        return AudioSetting::AppOutput{stream(), app(), uid()};
    }
}

AudioConfigurationChange change(const Json& value, const std::string& path)
{
    requireObject(value, path);
    AudioConfigurationChange c{setting(required(value, "before", path), join(path, "before")),
                               setting(required(value, "after", path), join(path, "after"))};
    if (!c.before.isSameTarget(c.after))
        fail(path, "before and after name different settings");
    return c;
}

}  // namespace

std::string encodeChanges(const std::vector<AudioConfigurationChange>& changes)
{
    auto array = OrderedJson::array();
    for (const auto& c : changes) {
        OrderedJson object;
        object["before"] = settingJson(c.before);
        object["after"] = settingJson(c.after);
        array.push_back(std::move(object));
    }
    return array.dump(2);
}

std::vector<AudioConfigurationChange> decodeChanges(std::string_view json)
{
    const Json document = parse(json, "changes", "changes");
    // The whole output of a repair is accepted too.
    if (document.is_object() && document.contains("changes"))
        return list<AudioConfigurationChange>(document["changes"], "changes", change);
    return list<AudioConfigurationChange>(document, "changes", change);
}

}  // namespace sonorel
