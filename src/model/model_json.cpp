#include "model/model_json.h"

namespace sonorel {

using namespace json_fields;

std::string encodeActivityLog(const ActivityLog& log)
{
    auto array = nlohmann::ordered_json::array();
    for (const auto& entry : log.entries) {
        nlohmann::ordered_json object;
        object["id"] = entry.id.text();
        object["date"] = secondsSinceReferenceDate(entry.date);
        object["title"] = entry.title;
        object["detail"] = entry.detail;
        object["kind"] = caseName(entry.kind);
        array.push_back(std::move(object));
    }
    return array.dump();
}

namespace {

ActivityEntry decodeActivityEntry(const Json& value, const std::string& path)
{
    requireObject(value, path);
    ActivityEntry entry;
    const auto idPath = join(path, "id");
    auto id = Uuid::fromText(text(required(value, "id", path), idPath));
    if (!id)
        fail(idPath, "not a UUID");
    entry.id = *id;
    const auto datePath = join(path, "date");
    const double seconds = number<double>(required(value, "date", path), datePath);
    // Beyond about ±285,000 years the microsecond count would overflow.
    if (std::abs(seconds) > 9e12)
        fail(datePath, "date out of range");
    entry.date = dateFromSecondsSinceReferenceDate(seconds);
    entry.title = text(required(value, "title", path), join(path, "title"));
    entry.detail = text(required(value, "detail", path), join(path, "detail"));
    const auto kindPath = join(path, "kind");
    auto kind = fromText(activityKindNames, text(required(value, "kind", path), kindPath));
    if (!kind)
        fail(kindPath, "unknown kind");
    entry.kind = *kind;
    return entry;
}

}  // namespace

ActivityLog decodeActivityLog(std::string_view json)
{
    const Json document = parse(json, "activity log", "activity log");
    if (!document.is_array())
        fail("activity log", "expected a list of entries");
    ActivityLog log;
    log.entries = list<ActivityEntry>(document, "activity log", decodeActivityEntry);
    if (log.entries.size() > ActivityLog::capacity)
        log.entries.resize(ActivityLog::capacity);
    return log;
}

std::string encodePreferredOutput(const PreferredOutput& output)
{
    nlohmann::ordered_json object;
    object["uid"] = output.uid;
    object["name"] = output.name;
    object["isBluetooth"] = output.isBluetooth;
    return object.dump();
}

PreferredOutput decodePreferredOutput(std::string_view json)
{
    const std::string path = "preferred output";
    const Json document = parse(json, path, path);
    requireObject(document, path);
    PreferredOutput output;
    output.uid = text(required(document, "uid", path), join(path, "uid"));
    output.name = text(required(document, "name", path), join(path, "name"));
    output.isBluetooth = boolean(required(document, "isBluetooth", path), join(path, "isBluetooth"));
    return output;
}

}  // namespace sonorel
