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

}  // namespace sonorel
