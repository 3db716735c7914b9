// Directory enumeration: the names of the ordinary files that match a pattern.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace qmx {

class FileNames {
public:
    virtual ~FileNames() = default;
    // The next name; the empty name once no further name matches.
    virtual std::u16string next() = 0;
};

class Directory {
public:
    virtual ~Directory() = default;
    // Ordinary files only (read-only and archived included): no directories, hidden or
    // system files, or volume labels. A folder that does not exist lists nothing.
    virtual std::unique_ptr<FileNames> list(std::u16string_view pattern) = 0;
};

} // namespace qmx
