#include "core/automation/numbers.h"

#include "core/automation/error.h"

#include <cmath>

namespace qmx {

double round_half_even(double value)
{
    if (!std::isfinite(value))
        return value;
    double floor = std::floor(value);
    double diff = value - floor;
    if (diff > 0.5)
        return floor + 1.0;
    if (diff < 0.5)
        return floor;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

std::int16_t to_int16(double value)
{
    double r = round_half_even(value);
    if (!(r >= -32768.0 && r <= 32767.0))
        raise(ErrorNumber::Overflow);
    return static_cast<std::int16_t>(r);
}

std::int32_t to_int32(double value)
{
    double r = round_half_even(value);
    if (!(r >= -2147483648.0 && r <= 2147483647.0))
        raise(ErrorNumber::Overflow);
    return static_cast<std::int32_t>(r);
}

} // namespace qmx
