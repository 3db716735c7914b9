// A fixed-length text: always exactly N characters, initially N characters of code 0.
#pragma once

#include "core/automation/error.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qmx {

template <std::size_t N>
class FixedText {
public:
    FixedText() { chars_.fill(u'\0'); }

    // Whole-text store: placed from the left, padded with spaces, cut at N characters.
    FixedText& operator=(std::u16string_view text)
    {
        for (std::size_t i = 0; i < N; ++i)
            chars_[i] = i < text.size() ? text[i] : u' ';
        return *this;
    }

    // Replaces up to `length` characters from the 1-based position `start` with the
    // leading characters of `text`; the length and the other characters stay. A start
    // before the first character is an invalid argument (5); one past the end changes nothing.
    void replace(std::int64_t start, std::int64_t length, std::u16string_view text)
    {
        if (start < 1 || length < 0)
            raise(ErrorNumber::InvalidArgument);
        auto from = static_cast<std::uint64_t>(start - 1);
        for (std::uint64_t i = 0; i < static_cast<std::uint64_t>(length) && i < text.size() && from + i < N; ++i)
            chars_[static_cast<std::size_t>(from + i)] = text[static_cast<std::size_t>(i)];
    }

    std::u16string_view view() const { return {chars_.data(), N}; }
    static constexpr std::size_t size() { return N; }

private:
    std::array<char16_t, N> chars_;
};

} // namespace qmx
