// The fixed tables of a Clicker: entries numbered 1 to 500, never resized.
#pragma once

#include "core/automation/error.h"

#include <array>
#include <cstdint>

namespace qmx {

inline constexpr int table_entries = 500;

template <typename T>
class Table {
public:
    // Entry k, 1 to 500; any other number is subscript out of range (error 9).
    T& at(std::int64_t k) { return entries_[index(k)]; }
    const T& at(std::int64_t k) const { return entries_[index(k)]; }

    static bool in_range(std::int64_t k) { return k >= 1 && k <= table_entries; }
    static constexpr int size() { return table_entries; }

private:
    static std::size_t index(std::int64_t k)
    {
        if (!in_range(k))
            raise(ErrorNumber::SubscriptOutOfRange);
        return static_cast<std::size_t>(k - 1);
    }

    std::array<T, table_entries> entries_{};
};

} // namespace qmx
