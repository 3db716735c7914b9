#include "core/automation/text.h"

#include "core/automation/error.h"

namespace qmx {

Text widen(std::string_view bytes)
{
    Text out;
    out.reserve(bytes.size());
    for (char c : bytes)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
}

std::string narrow_ascii(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

std::u16string_view mid(std::u16string_view text, std::int64_t start, std::int64_t length)
{
    if (start < 1 || length <= 0 || start > static_cast<std::int64_t>(text.size()))
        return {};
    auto from = static_cast<std::size_t>(start - 1);
    return text.substr(from, static_cast<std::size_t>(length));
}

std::u16string_view mid_checked(std::u16string_view text, std::int64_t start, std::int64_t length)
{
    if (start < 1 || length < 0)
        raise(ErrorNumber::InvalidArgument);
    return mid(text, start, length);
}

bool is_blank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool is_digit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace qmx
