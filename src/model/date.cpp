#include "model/date.h"

#include <cmath>
#include <cstdio>

namespace sonorel {

using namespace std::chrono;

double secondsSinceReferenceDate(Date date)
{
    return duration<double>(date - referenceDate).count();
}

Date dateFromSecondsSinceReferenceDate(double seconds)
{
    return referenceDate + microseconds{std::llround(seconds * 1e6)};
}

double secondsBetween(Date earlier, Date later)
{
    return duration<double>(later - earlier).count();
}

std::string isoDateText(Date date)
{
    const auto day = floor<days>(date);
    const year_month_day ymd{day};
    const hh_mm_ss<microseconds> time{date - day};
    char text[40];
    int length = std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", int(ymd.year()),
                               unsigned(ymd.month()), unsigned(ymd.day()), int(time.hours().count()),
                               int(time.minutes().count()), int(time.seconds().count()));
    if (auto micros = time.subseconds().count(); micros != 0) {
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, "%06lld", static_cast<long long>(micros));
        std::string digits = fraction;
        digits.erase(digits.find_last_not_of('0') + 1);
        length += std::snprintf(text + length, sizeof text - length, ".%s", digits.c_str());
    }
    return std::string(text, length) + "Z";
}

namespace {

bool readDigits(std::string_view text, size_t& at, size_t count, int& value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        char c = text[at + i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    at += count;
    return true;
}

bool expect(std::string_view text, size_t& at, char c)
{
    if (at >= text.size() || text[at] != c)
        return false;
    ++at;
    return true;
}

}  // namespace

std::optional<Date> dateFromIsoText(std::string_view text)
{
    size_t at = 0;
    int y, mo, d, h, mi, s;
    if (!readDigits(text, at, 4, y) || !expect(text, at, '-') || !readDigits(text, at, 2, mo) || !expect(text, at, '-')
        || !readDigits(text, at, 2, d) || !expect(text, at, 'T') || !readDigits(text, at, 2, h) || !expect(text, at, ':')
        || !readDigits(text, at, 2, mi) || !expect(text, at, ':') || !readDigits(text, at, 2, s))
        return std::nullopt;
    const year_month_day ymd{year{y}, month{unsigned(mo)}, day{unsigned(d)}};
    if (!ymd.ok() || h > 23 || mi > 59 || s > 59)
        return std::nullopt;

    microseconds fraction{0};
    if (at < text.size() && text[at] == '.') {
        ++at;
        long long micros = 0;
        int digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            if (digits < 6) {
                micros = micros * 10 + (text[at] - '0');
            }
            ++digits;
            ++at;
        }
        if (digits == 0)
            return std::nullopt;
        for (int i = digits; i < 6; ++i)
            micros *= 10;
        fraction = microseconds{micros};
    }

    minutes offset{0};
    if (at < text.size() && text[at] == 'Z') {
        ++at;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        const int sign = text[at] == '+' ? 1 : -1;
        ++at;
        int oh, om;
        if (!readDigits(text, at, 2, oh) || !expect(text, at, ':') || !readDigits(text, at, 2, om) || oh > 23 || om > 59)
            return std::nullopt;
        offset = minutes{sign * (oh * 60 + om)};
    } else {
        return std::nullopt;
    }
    if (at != text.size())
        return std::nullopt;

    return Date{sys_days{ymd}} + hours{h} + minutes{mi} + seconds{s} + fraction - offset;
}

}  // namespace sonorel
