#include "model/json_fields.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace sonorel::json_fields {

namespace {

// Follows where the parser is, so that an error raised inside a value (a
// number too large for a double) can name that value's field.
class PathTracker {
public:
    bool operator()(int, Json::parse_event_t event, Json& parsed)
    {
        switch (event) {
        case Json::parse_event_t::object_start:
            m_frames.push_back({false, 0, {}});
            break;
        case Json::parse_event_t::array_start:
            m_frames.push_back({true, 0, {}});
            break;
        case Json::parse_event_t::key:
            m_frames.back().key = parsed.get<std::string>();
            break;
        case Json::parse_event_t::object_end:
        case Json::parse_event_t::array_end:
            m_frames.pop_back();
            elementDone();
            break;
        case Json::parse_event_t::value:
            elementDone();
            break;
        }
        return true;
    }

    std::string path(const std::string& root) const
    {
        std::string result = root;
        for (const Frame& frame : m_frames)
            result = frame.isArray ? indexed(result, frame.index) : join(result, frame.key);
        return result;
    }

private:
    struct Frame {
        bool isArray;
        size_t index;
        std::string key;
    };

    void elementDone()
    {
        if (!m_frames.empty() && m_frames.back().isArray)
            ++m_frames.back().index;
    }

    std::vector<Frame> m_frames;
};

}  // namespace

Json parse(std::string_view text, const std::string& what, const std::string& root)
{
    PathTracker tracker;
    try {
        return Json::parse(text, std::ref(tracker));
    } catch (const Json::out_of_range&) {
        // The only range error a parse raises: a number beyond a double.
        fail(tracker.path(root), "number out of range");
    } catch (const Json::exception& error) {
        // nlohmann's text starts with its own "[json.exception.parse_error.101] " tag.
        std::string detail = error.what();
        if (auto end = detail.find("] "); end != std::string::npos)
            detail.erase(0, end + 2);
        fail(what, "not valid JSON (" + detail + ")");
    }
}

std::string rangeText(double bound)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", bound);
    return text;
}

double jsonNumber(float value)
{
    char text[32];
    auto [end, error] = std::to_chars(text, text + sizeof text - 1, value);
    if (error != std::errc{})
        return double(value);
    *end = '\0';
    return std::strtod(text, nullptr);
}

}  // namespace sonorel::json_fields
