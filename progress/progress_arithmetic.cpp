#include "progress/progress_arithmetic.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quorvel {

std::int64_t RoundHalfToEven(double value)
{
    const double floor = std::floor(value);
    const double fraction = value - floor;
    auto result = static_cast<std::int64_t>(floor);
    if (fraction > 0.5 || (fraction == 0.5 && result % 2 != 0)) {
        ++result;
    }
    return result;
}

std::string PercentText(std::int64_t hundredths)
{
    const bool negative = hundredths < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(hundredths) : static_cast<std::uint64_t>(hundredths);
    // Integers only, so the locale cannot change the decimal point or group
    // the digits. "-" + 20 digits + "." + 2 + "%" fits with room to spare.
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%s%llu.%02llu%%", negative ? "-" : "",
                                     static_cast<unsigned long long>(magnitude / 100),
                                     static_cast<unsigned long long>(magnitude % 100));
    return std::string(text, static_cast<std::size_t>(length));
}

ProgressReading ReadProgress(std::int64_t done, std::int64_t total)
{
    const double ratio = static_cast<double>(done) / static_cast<double>(total);
    ProgressReading reading;
    reading.position = RoundHalfToEven(ratio * 100.0);
    reading.hundredths = RoundHalfToEven(ratio * 10000.0);
    reading.text = PercentText(reading.hundredths);
    return reading;
}

}  // namespace quorvel
