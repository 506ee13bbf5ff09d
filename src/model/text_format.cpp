#include "model/text_format.h"

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

}  // namespace sonorel
