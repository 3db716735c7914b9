#include "simulator/call_log.h"

#include <fstream>

namespace qmx::sim {

void FileCallLog::write(std::string_view line)
{
    std::ofstream out(path_, std::ios::binary | std::ios::app);
    out << line << '\n';
    out.flush();
    if (!out && !failed_) {
        const std::u8string shown = path_.u8string();
        errors_ << message_prefix << "cannot write the call log " << std::string(shown.begin(), shown.end())
                << std::endl;
    }
    failed_ = !out;
}

std::string hex_bytes(std::span<const std::uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    if (bytes.empty())
        return "null";
    std::string out;
    for (std::uint8_t b : bytes) {
        if (!out.empty())
            out.push_back(' ');
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

std::string decimal_bytes(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return "null";
    std::string out;
    for (std::uint8_t b : bytes) {
        if (!out.empty())
            out.push_back(' ');
        out += std::to_string(b);
    }
    return out;
}

} // namespace qmx::sim
