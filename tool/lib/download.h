// What one download brought: the scanner's identity, clock and barcodes, and the upload
// string alldata returned, as the tools write, show and compare them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qmx::tool {

struct Entry {
    int number = 0;       // 1 to 500
    std::wstring barcode; // one character per byte the scanner read, 0 to 255
    // Empty for an entry the scanner announced but did not deliver.
    std::optional<int> code_type;
    double scanned = 0;   // automation DATE, the scanner's local time
    friend bool operator==(const Entry&, const Entry&) = default;
};

struct Download {
    bool found = false; // whether a scanner answered
    int port = 0;       // where it answered
    std::wstring identity;
    std::wstring clock_digits; // SSMMHHDDMMYY
    bool clock_valid = false;
    std::wstring upload;       // alldata, as returned
    int reported = 0;          // num_barcodes: negative when the library answered with an error
    std::vector<Entry> entries;
    double downloaded_at = 0;  // the PC's local time, automation DATE

    // Every announced entry arrived: a download that stopped early must not be cleared.
    bool complete() const
    {
        for (const Entry& e : entries)
            if (!e.code_type)
                return false;
        return true;
    }
    // The scanner said what it holds: a count of 0 to 500, as many entries as that, and the
    // same count in the upload string's header. A library error read as "0 barcodes"
    // would otherwise let a clear through.
    bool contents_reported() const
    {
        if (reported < 0 || reported > 500 || entries.size() != static_cast<std::size_t>(reported))
            return false;
        if (upload.size() < 36)
            return false;
        int header = 0;
        for (std::size_t k = 32; k < 36; ++k) {
            if (upload[k] < L'0' || upload[k] > L'9')
                return false;
            header = header * 10 + (upload[k] - L'0');
        }
        return header == reported;
    }
    // Same scanner, same barcodes: what the second download of a visit must show.
    bool same_contents(const Download& other) const
    {
        return found == other.found && identity == other.identity && reported == other.reported &&
               entries == other.entries;
    }
};

} // namespace qmx::tool
