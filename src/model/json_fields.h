#pragma once

// Reading JSON objects field by field, with errors that name the field.

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace sonorel {

// A document that cannot be decoded; the message names the field.
class JsonDecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace json_fields {

using Json = nlohmann::json;

// A bound as a user writes it: 1, 0.5, 10000000.
std::string rangeText(double bound);

[[noreturn]] inline void fail(const std::string& path, const std::string& problem)
{
    throw JsonDecodeError(path.empty() ? problem : path + ": " + problem);
}

inline std::string join(const std::string& path, const std::string& key)
{
    return path.empty() ? key : path + "." + key;
}

inline std::string indexed(const std::string& path, size_t index)
{
    return path + "[" + std::to_string(index) + "]";
}

// Parses a whole document. `what` names it in syntax errors; `root` is the
// path its fields are reported under, so that a number too large for a
// double is named like every other bad value.
Json parse(std::string_view text, const std::string& what, const std::string& root);

inline void requireObject(const Json& value, const std::string& path)
{
    if (!value.is_object())
        fail(path, "expected an object");
}

// A member that is missing or null reads as absent.
inline const Json* member(const Json& object, const std::string& key)
{
    auto found = object.find(key);
    if (found == object.end() || found->is_null())
        return nullptr;
    return &*found;
}

inline const Json& required(const Json& object, const std::string& key, const std::string& path)
{
    if (const Json* value = member(object, key))
        return *value;
    fail(join(path, key), "missing");
}

inline std::string text(const Json& value, const std::string& path)
{
    if (!value.is_string())
        fail(path, "expected text");
    return value.get<std::string>();
}

inline bool boolean(const Json& value, const std::string& path)
{
    if (!value.is_boolean())
        fail(path, "expected true or false");
    return value.get<bool>();
}

template <typename Number>
Number number(const Json& value, const std::string& path)
{
    if (!value.is_number())
        fail(path, "expected a number");
    const double real = value.get<double>();
    if constexpr (std::is_integral_v<Number>) {
        if (value.is_number_integer()) {
            if (value.is_number_unsigned()) {
                const auto whole = value.get<uint64_t>();
                if (whole > uint64_t(std::numeric_limits<Number>::max()))
                    fail(path, "number out of range");
                return Number(whole);
            }
            const auto whole = value.get<int64_t>();
            if (whole < int64_t(std::numeric_limits<Number>::min())
                || (whole > 0 && uint64_t(whole) > uint64_t(std::numeric_limits<Number>::max())))
                fail(path, "number out of range");
            return Number(whole);
        }
        if (std::trunc(real) != real)
            fail(path, "expected a whole number");
        if (real < double(std::numeric_limits<Number>::min()) || real > double(std::numeric_limits<Number>::max()))
            fail(path, "number out of range");
        return Number(real);
    } else {
        if (!std::isfinite(real) || std::abs(real) > double(std::numeric_limits<Number>::max()))
            fail(path, "number out of range");
        return Number(real);
    }
}

// A number that must lie within [minimum, maximum].
template <typename Number>
Number numberWithin(const Json& value, const std::string& path, Number minimum, Number maximum)
{
    const Number result = number<Number>(value, path);
    if (!(result >= minimum && result <= maximum))
        fail(path, "out of range (" + rangeText(double(minimum)) + " to " + rangeText(double(maximum)) + ")");
    return result;
}

template <typename T, typename Decode>
std::vector<T> list(const Json& value, const std::string& path, Decode decode)
{
    if (!value.is_array())
        fail(path, "expected a list");
    std::vector<T> result;
    result.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i)
        result.push_back(decode(value[i], indexed(path, i)));
    return result;
}

// A float32 as the shortest decimal that reads back as the same float, so
// 0.45f is written 0.45 rather than 0.449999988079071.
double jsonNumber(float value);

}  // namespace json_fields
}  // namespace sonorel
