#include "simulator/time_stamp.h"

namespace qmx::sim {

namespace {

std::uint32_t field(int value, int bits, int shift)
{
    return (static_cast<std::uint32_t>(value) & ((1u << bits) - 1)) << shift;
}

void append_two_digits(std::string& out, std::uint32_t value)
{
    out.push_back(static_cast<char>('0' + value / 10 % 10));
    out.push_back(static_cast<char>('0' + value % 10));
}

} // namespace

StampBytes pack_time_stamp(const CivilTime& t, bool seconds_recorded)
{
    const std::uint32_t value = field(t.year - 2000, 6, 26) | field(t.month, 4, 22) | field(t.day, 5, 17) |
                                field(t.hour, 5, 12) | field(t.minute, 6, 6) |
                                field(seconds_recorded ? t.second : seconds_not_recorded, 6, 0);
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::string time_stamp_text(const StampBytes& b)
{
    const std::uint32_t v = b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    std::string text;
    append_two_digits(text, v >> 22 & 0x0F);
    text.push_back('/');
    append_two_digits(text, v >> 17 & 0x1F);
    text.push_back('/');
    append_two_digits(text, v >> 26 & 0x3F);
    text.push_back(' ');
    append_two_digits(text, v >> 12 & 0x1F);
    text.push_back(':');
    append_two_digits(text, v >> 6 & 0x3F);
    text.push_back(':');
    append_two_digits(text, v & 0x3F);
    return text;
}

} // namespace qmx::sim
