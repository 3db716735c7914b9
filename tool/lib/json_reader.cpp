#include "lib/json_reader.h"

#include <cstdlib>

namespace qmx::tool {

namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    bool value(JsonValue& out, int depth)
    {
        if (depth > 32)
            return false;
        blanks();
        if (at_ >= text_.size())
            return false;
        const char c = text_[at_];
        if (c == '{')
            return object(out, depth);
        if (c == '[')
            return array(out, depth);
        if (c == '"') {
            out.kind = JsonValue::Kind::string;
            return string(out.text);
        }
        if (word("true") || word("false")) {
            out.kind = JsonValue::Kind::boolean;
            out.boolean = c == 't';
            return true;
        }
        if (word("null"))
            return true;
        return number(out);
    }

    bool at_end()
    {
        blanks();
        return at_ == text_.size();
    }

private:
    void blanks()
    {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
            ++at_;
    }

    bool take(char c)
    {
        blanks();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    bool word(std::string_view w)
    {
        if (text_.substr(at_, w.size()) != w)
            return false;
        at_ += w.size();
        return true;
    }

    bool object(JsonValue& out, int depth)
    {
        out.kind = JsonValue::Kind::object;
        ++at_;
        if (take('}'))
            return true;
        do {
            std::string name;
            JsonValue member;
            blanks();
            if (!string(name) || !take(':') || !value(member, depth + 1))
                return false;
            out.members[name] = std::move(member);
        } while (take(','));
        return take('}');
    }

    bool array(JsonValue& out, int depth)
    {
        out.kind = JsonValue::Kind::array;
        ++at_;
        if (take(']'))
            return true;
        do {
            out.items.emplace_back();
            if (!value(out.items.back(), depth + 1))
                return false;
        } while (take(','));
        return take(']');
    }

    bool hex4(unsigned& code)
    {
        if (at_ + 4 > text_.size())
            return false;
        code = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text_[at_++];
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                          : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0)
                return false;
            code = code * 16 + static_cast<unsigned>(digit);
        }
        return true;
    }

    static void append_utf8(std::string& out, unsigned code)
    {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool string(std::string& out)
    {
        if (at_ >= text_.size() || text_[at_] != '"')
            return false;
        ++at_;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size())
                return false;
            const char e = text_[at_++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned code = 0;
                if (!hex4(code))
                    return false;
                if (code >= 0xD800 && code < 0xDC00) {
                    unsigned low = 0;
                    if (!word("\\u") || !hex4(low) || low < 0xDC00 || low >= 0xE000)
                        return false;
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                }
                append_utf8(out, code);
                break;
            }
            default: return false;
            }
        }
        return false;
    }

    bool number(JsonValue& out)
    {
        const std::size_t start = at_;
        while (at_ < text_.size() && std::string_view("+-0123456789.eE").find(text_[at_]) != std::string_view::npos)
            ++at_;
        if (at_ == start)
            return false;
        const std::string digits(text_.substr(start, at_ - start));
        char* end = nullptr;
        out.kind = JsonValue::Kind::number;
        out.number = std::strtod(digits.c_str(), &end);
        return end == digits.c_str() + digits.size();
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

} // namespace

const JsonValue* JsonValue::find(const std::string& name) const
{
    const auto found = members.find(name);
    return found == members.end() ? nullptr : &found->second;
}

std::optional<JsonValue> parse_json(std::string_view text)
{
    Parser parser(text);
    JsonValue value;
    if (!parser.value(value, 0) || !parser.at_end())
        return std::nullopt;
    return value;
}

} // namespace qmx::tool
