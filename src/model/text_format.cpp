#include "model/text_format.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include <cstdio>

namespace sonorel {

std::string kilohertzNumber(double hertz)
{
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%g", hertz / 1000);
    return std::string(text, length);
}

std::string kilohertzText(double hertz)
{
    return kilohertzNumber(hertz) + " kHz";
}

std::string millisecondsText(double milliseconds)
{
    char text[48];
    const int length = std::snprintf(text, sizeof text, "%.2f ms", milliseconds);
    return std::string(text, size_t(std::clamp(length, 0, int(sizeof text) - 1)));
}

std::string elementName(uint32_t element, const std::string& name)
{
    if (element == 0)
        return "Master";
    return name.empty() ? "Channel " + std::to_string(element) : name;
}

std::string channelsText(int channels)
{
    return std::to_string(channels) + (channels == 1 ? " channel" : " channels");
}

std::string capitalized(std::string_view text)
{
    std::string result(text);
    if (!result.empty())
        result[0] = char(std::toupper(static_cast<unsigned char>(result[0])));
    return result;
}

std::string lowercased(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return result;
}

int wholePercent(float level)
{
    if (!(level > 0))
        return 0;
    return level >= 1 ? 100 : int(std::lround(double(level) * 100));
}

std::string namesText(const std::vector<std::string>& names)
{
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0)
            text += i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

}  // namespace sonorel
