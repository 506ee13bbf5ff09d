#include "model/text_format.h"

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

int wholePercent(float level)
{
    if (!(level > 0))
        return 0;
    return level >= 1 ? 100 : int(std::lround(double(level) * 100));
}

}  // namespace sonorel
