#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sonorel {

// Shortest general form of a rate in kilohertz: 44100 gives "44.1", 48000 "48".
std::string kilohertzNumber(double hertz);
// The same followed by " kHz".
std::string kilohertzText(double hertz);
// "%.2f ms": a latency with two decimals.
std::string millisecondsText(double milliseconds);
// A control's element: "Master" for element 0, else the channel's `name`,
// else "Channel " and its number.
std::string elementName(uint32_t element, const std::string& name = {});
// "1 channel", "2 channels".
std::string channelsText(int channels);
// The first letter in upper case ("input" gives "Input").
std::string capitalized(std::string_view text);
// ASCII letters in lower case; other bytes as they are.
std::string lowercased(std::string_view text);
// A level from 0 to 1 as the whole percent a Linux mixer shows (the nearest;
// PulseAudio's 80 % step is 0.79998). Never outside 0 to 100.
int wholePercent(float level);
// Names for a sentence: "A", "A and B", "A, B and C".
std::string namesText(const std::vector<std::string>& names);

}  // namespace sonorel
