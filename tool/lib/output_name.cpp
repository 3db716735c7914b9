#include "lib/output_name.h"

#include "lib/component.h"
#include "lib/text.h"

#include <cwctype>

namespace qmx::tool {

namespace {

constexpr const wchar_t* placeholders[] = {L"{date}", L"{time}", L"{scanner}"};

std::wstring lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

} // namespace

void check_output_name(const std::wstring& pattern)
{
    for (std::size_t at = pattern.find_first_of(L"{}"); at != std::wstring::npos;
         at = pattern.find_first_of(L"{}", at + 1)) {
        bool known = false;
        for (const wchar_t* p : placeholders)
            if (pattern.compare(at, std::wcslen(p), p) == 0) {
                known = true;
                at += std::wcslen(p) - 1;
            }
        if (!known)
            throw ToolError{Outcome::usage, L"the output name " + pattern +
                                                L" has a brace that is no placeholder; the placeholders are {date}, "
                                                L"{time} and {scanner}"};
    }
}

std::wstring expand_output_name(const std::wstring& pattern, const Download& d)
{
    const std::wstring when = iso_time(d.downloaded_at); // 2026-11-30T08:12:05
    std::wstring time = when.size() == 19 ? when.substr(11, 2) + when.substr(14, 2) + when.substr(17, 2) : L"";
    const std::wstring values[] = {when.substr(0, 10), time, d.identity};
    std::wstring out;
    for (std::size_t at = 0; at < pattern.size();) {
        bool replaced = false;
        for (std::size_t k = 0; k < 3 && !replaced; ++k)
            if (pattern.compare(at, std::wcslen(placeholders[k]), placeholders[k]) == 0) {
                out += values[k];
                at += std::wcslen(placeholders[k]);
                replaced = true;
            }
        if (!replaced)
            out += pattern[at++];
    }
    return out;
}

std::optional<Format> format_of_name(const std::wstring& path)
{
    const auto dot = path.find_last_of(L".\\/");
    if (dot == std::wstring::npos || path[dot] != L'.')
        return std::nullopt;
    const std::wstring extension = lower(path.substr(dot + 1));
    for (const wchar_t* name : {L"csv", L"json", L"xlsx"})
        if (extension == name)
            return format_named(name);
    return std::nullopt;
}

} // namespace qmx::tool
