#include "model/model_json.h"

#include <algorithm>

namespace sonorel {

using namespace json_fields;

std::string encodeActivityLog(const ActivityLog& log)
{
    // Built as text so that unread entries go back exactly as they were read.
    std::string text = "[";
    auto unread = log.unread.begin();
    auto entry = log.entries.begin();
    for (size_t position = 0; position < log.entries.size() + log.unread.size(); ++position) {
        if (position > 0)
            text += ',';
        if (unread != log.unread.end() && (unread->position == position || entry == log.entries.end())) {
            text += (unread++)->json;
            continue;
        }
        nlohmann::ordered_json object;
        object["id"] = entry->id.text();
        object["date"] = secondsSinceReferenceDate(entry->date);
        object["title"] = entry->title;
        object["detail"] = entry->detail;
        object["kind"] = caseName(entry->kind);
        text += object.dump();
        ++entry;
    }
    return text + "]";
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
    shortenTexts(entry);
    return entry;
}

}  // namespace

ActivityLog decodeActivityLog(std::string_view json)
{
    const Json document = parse(json, "activity log", "activity log");
    if (!document.is_array())
        fail("activity log", "expected a list of entries");
    ActivityLog log;
    for (size_t i = 0; i < std::min(document.size(), ActivityLog::capacity); ++i) {
        try {
            log.entries.push_back(decodeActivityEntry(document[i], indexed("activity log", i)));
        } catch (const JsonDecodeError&) {
            log.unread.push_back({i, document[i].dump()});
        }
    }
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
