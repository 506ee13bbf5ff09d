#include "model/model_json.h"

namespace sonorel {

using namespace json_fields;
using OrderedJson = nlohmann::ordered_json;

namespace {

constexpr EnumTexts<size_t, 8> settingKinds{{
    {0, "output"},
    {1, "input"},
    {2, "alerts"},
    {3, "volume"},
    {4, "mute"},
    {5, "balance"},
    {6, "rate"},
    {7, "profile"},
}};

OrderedJson settingJson(const AudioSetting& setting)
{
    OrderedJson object;
    object["kind"] = textOf(settingKinds, setting.value.index());
    object["uid"] = setting.uid();
    std::visit(
        [&object](const auto& s) {
            using Case = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<Case, AudioSetting::Volume> || std::is_same_v<Case, AudioSetting::Mute>) {
                object["direction"] = caseName(s.direction);
                object["element"] = s.element;
            }
            if constexpr (std::is_same_v<Case, AudioSetting::Volume> || std::is_same_v<Case, AudioSetting::Balance>)
                object["value"] = jsonNumber(s.value);
            else if constexpr (std::is_same_v<Case, AudioSetting::Mute> || std::is_same_v<Case, AudioSetting::Rate>
                               || std::is_same_v<Case, AudioSetting::Profile>)
                object["value"] = s.value;
        },
        setting.value);
    return object;
}

AudioSetting setting(const Json& value, const std::string& path)
{
    requireObject(value, path);
    const auto kindPath = join(path, "kind");
    const auto kind = fromText(settingKinds, text(required(value, "kind", path), kindPath));
    if (!kind)
        fail(kindPath, "expected one of output, input, alerts, volume, mute, balance, rate, profile");
    std::string uid = text(required(value, "uid", path), join(path, "uid"));
    auto direction = [&] {
        const auto directionPath = join(path, "direction");
        auto parsed = fromText(audioDirectionNames, text(required(value, "direction", path), directionPath));
        if (!parsed)
            fail(directionPath, "expected \"input\" or \"output\"");
        return *parsed;
    };
    auto element = [&] { return number<uint32_t>(required(value, "element", path), join(path, "element")); };
    const auto valuePath = join(path, "value");
    auto level = [&] { return numberWithin<float>(required(value, "value", path), valuePath, 0, 1); };
    switch (*kind) {
    case 0:
        return AudioSetting::Output{uid};
    case 1:
        return AudioSetting::Input{uid};
    case 2:
        return AudioSetting::Alerts{uid};
    case 3:
        return AudioSetting::Volume{uid, direction(), element(), level()};
    case 4:
        return AudioSetting::Mute{uid, direction(), element(), boolean(required(value, "value", path), valuePath)};
    case 5:
        return AudioSetting::Balance{uid, level()};
    case 6:
        return AudioSetting::Rate{uid, numberWithin<double>(required(value, "value", path), valuePath, 1, 10'000'000)};
    default:
        return AudioSetting::Profile{uid, text(required(value, "value", path), valuePath)};
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
