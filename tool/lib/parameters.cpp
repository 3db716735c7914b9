#include "lib/parameters.h"

#include "lib/component.h"

namespace qmx::tool {

namespace {

// Two digits, or a blank and a digit (" 5" reads as 5).
int field(std::wstring_view text, std::size_t at)
{
    const wchar_t a = text[at], b = text[at + 1];
    if (!(b >= L'0' && b <= L'9') || !(a == L' ' || (a >= L'0' && a <= L'9')))
        return -1;
    return (a == L' ' ? 0 : (a - L'0') * 10) + (b - L'0');
}

[[noreturn]] void refuse(const std::wstring& why)
{
    throw ToolError{Outcome::usage, L"parameter list: " + why};
}

} // namespace

std::vector<Parameter> check_parameter_list(std::wstring_view text)
{
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.remove_suffix(1);
    if (text.size() < 2 || field(text, 0) < 0 || text[0] == L' ')
        refuse(L"it must begin with the number of entries in two digits, e.g. 02");
    const std::size_t count = static_cast<std::size_t>(field(text, 0));
    const std::size_t expected = 2 + 4 * count;
    if (text.size() < expected)
        refuse(L"it announces " + std::to_wstring(count) + L" entries but holds " +
               std::to_wstring((text.size() - 2) / 4) + L" complete ones (each entry is four characters: id, value)");
    if (text.size() > expected)
        refuse(L"there are " + std::to_wstring(text.size() - expected) + L" characters after entry " +
               std::to_wstring(count) + L", which the scanner would never get");
    std::vector<Parameter> entries;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = 2 + 4 * i;
        const int id = field(text, at), value = field(text, at + 2);
        if (id < 0 || value < 0)
            refuse(L"entry " + std::to_wstring(i + 1) + L" ('" + std::wstring(text.substr(at, 4)) +
                   L"') is not an id and a value of two digits each");
        entries.push_back({id, value});
    }
    return entries;
}

} // namespace qmx::tool
