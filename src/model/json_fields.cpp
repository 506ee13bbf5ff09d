#include "model/json_fields.h"

#include <charconv>
#include <cstdlib>

namespace sonorel::json_fields {

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
