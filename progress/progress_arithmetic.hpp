#pragma once

#include <cstdint>
#include <string>

namespace quorvel {

// What the bar shows for `done` of `total` bytes: the position in whole
// percent and the text with two decimals. The two come from separate
// roundings, so 1 of 8 stands at 12 while reading "12.50%".
struct ProgressReading {
    std::int64_t position = 0;
    std::int64_t hundredths = 0;
    std::string text;
};

// Rounds to the nearest whole number, halves to the even neighbour,
// whatever the floating-point rounding mode is.
std::int64_t RoundHalfToEven(double value);

// "45.23%" for 4523: "." as decimal point, no grouping, whatever the locale.
std::string PercentText(std::int64_t hundredths);

// Requires total != 0.
ProgressReading ReadProgress(std::int64_t done, std::int64_t total);

}  // namespace quorvel
