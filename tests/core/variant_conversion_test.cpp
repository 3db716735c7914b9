// The automation conversion rules, one table for both Variant implementations: natively it
// proves the portable rules, under Wine the system's runtime.
#include "core/automation/variant.h"
#include "support/matchers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

using qmx::Variant;

namespace {

class ObjectWithDefault final : public qmx::AutomationObject {
public:
    explicit ObjectWithDefault(std::optional<Variant> value) : value_(std::move(value)) {}
    std::optional<Variant> default_value() const override { return value_; }

private:
    std::optional<Variant> value_;
};

Variant object_with(std::optional<Variant> value)
{
    return Variant::from_object(std::make_shared<ObjectWithDefault>(std::move(value)));
}

struct ToLong {
    const char* name;
    Variant input;
    std::int64_t expected; // a value, or the error number when error is set
    bool error = false;
};

std::vector<ToLong> long_cases()
{
    return {
        {"empty is 0", Variant(), 0},
        {"numeric text", Variant::from_text(u"5"), 5},
        {"blanks around the number", Variant::from_text(u" 5 "), 5},
        {"tabs and line ends around", Variant::from_text(u"\t7\r\n"), 7},
        {"half goes to even (down)", Variant::from_text(u"2.5"), 2},
        {"half goes to even (up)", Variant::from_text(u"3.5"), 4},
        {"negative half goes to even", Variant::from_text(u"-2.5"), -2},
        {"fraction below a half", Variant::from_text(u"2.4999"), 2},
        {"leading plus", Variant::from_text(u"+5"), 5},
        {"trailing minus", Variant::from_text(u"5-"), -5},
        {"parentheses are negative", Variant::from_text(u"(5)"), -5},
        {"thousands separator", Variant::from_text(u"1,000"), 1000},
        {"exponent", Variant::from_text(u"1e2"), 100},
        {"hexadecimal", Variant::from_text(u"&H10"), 16},
        {"octal", Variant::from_text(u"&O10"), 8},
        {"point first", Variant::from_text(u".5"), 0},
        {"point last", Variant::from_text(u"1."), 1},
        {"largest", Variant::from_text(u"2147483647.4"), 2147483647},
        {"smallest, half to even", Variant::from_text(u"-2147483648.5"), -2147483648LL},
        {"double half to even", Variant::from_double(2.5), 2},
        {"double 3.5", Variant::from_double(3.5), 4},
        {"double -3.5", Variant::from_double(-3.5), -4},
        {"boolean true", Variant::from_bool(true), -1},
        {"boolean false", Variant::from_bool(false), 0},
        {"short", Variant::from_short(-7), -7},
        {"date", Variant::from_date(2.5), 2},
        {"object's default value", object_with(Variant::from_long(7)), 7},
        {"object's default text", object_with(Variant::from_text(u"2.5")), 2},
        {"null", Variant::null(), 94, true},
        {"letters", Variant::from_text(u"abc"), 13, true},
        {"empty text", Variant::from_text(u""), 13, true},
        {"blank text", Variant::from_text(u"  "), 13, true},
        {"blank inside the number", Variant::from_text(u"1 2"), 13, true},
        {"C hexadecimal", Variant::from_text(u"0x10"), 13, true},
        {"number then letters", Variant::from_text(u"5a"), 13, true},
        {"above the range after rounding", Variant::from_text(u"2147483647.5"), 6, true},
        {"far above the range", Variant::from_text(u"1e400"), 6, true},
        {"double above the range", Variant::from_double(1e10), 6, true},
        {"object without a default value", object_with(std::nullopt), 13, true},
        {"object whose default is Null", object_with(Variant::null()), 13, true},
    };
}

TEST(VariantConversion, ToLongFollowsTheAutomationRules)
{
    for (const ToLong& c : long_cases()) {
        SCOPED_TRACE(c.name);
        if (c.error)
            EXPECT_AUTOMATION_ERROR(c.input.to_long(), c.expected);
        else
            EXPECT_EQ(c.input.to_long(), c.expected);
    }
}

TEST(VariantConversion, ToShortChecksSixteenBits)
{
    EXPECT_EQ(Variant::from_text(u"32767.4").to_short(), 32767);
    EXPECT_EQ(Variant::from_text(u"-32768.5").to_short(), -32768);
    EXPECT_EQ(Variant::from_text(u"3.5").to_short(), 4);
    EXPECT_EQ(Variant().to_short(), 0);
    EXPECT_AUTOMATION_ERROR(Variant::from_text(u"32767.5").to_short(), 6);
    EXPECT_AUTOMATION_ERROR(Variant::from_long(70000).to_short(), 6);
    EXPECT_AUTOMATION_ERROR(Variant::from_double(-32769).to_short(), 6);
    EXPECT_AUTOMATION_ERROR(Variant::from_text(u"x").to_short(), 13);
    EXPECT_AUTOMATION_ERROR(Variant::null().to_short(), 94);
}

TEST(VariantConversion, ToTextFollowsTheAutomationRules)
{
    EXPECT_EQ(Variant().to_text(), u"");
    EXPECT_EQ(Variant::from_text(u"abc").to_text(), u"abc");
    EXPECT_EQ(Variant::from_text(std::u16string(u"a\0b", 3)).to_text(), std::u16string(u"a\0b", 3));
    EXPECT_EQ(Variant::from_short(5).to_text(), u"5");
    EXPECT_EQ(Variant::from_short(0).to_text(), u"0");
    EXPECT_EQ(Variant::from_long(-70000).to_text(), u"-70000");
    EXPECT_EQ(Variant::from_double(2.5).to_text(), u"2.5");
    EXPECT_EQ(Variant::from_double(0.1).to_text(), u"0.1");
    EXPECT_EQ(Variant::from_double(100).to_text(), u"100");
    EXPECT_EQ(Variant::from_double(1e20).to_text(), u"1E+20");
    EXPECT_EQ(Variant::from_double(1.0 / 3).to_text(), u"0.333333333333333");
    EXPECT_EQ(Variant::from_bool(true).to_text(), u"True");
    EXPECT_EQ(Variant::from_bool(false).to_text(), u"False");
    EXPECT_EQ(Variant::from_date(38492).to_text(), u"5/20/2005");
    EXPECT_EQ(Variant::from_date(38492 + 49512 / 86400.0).to_text(), u"5/20/2005 1:45:12 PM");
    EXPECT_EQ(object_with(Variant::from_short(12)).to_text(), u"12");
    EXPECT_AUTOMATION_ERROR(Variant::null().to_text(), 94);
    EXPECT_AUTOMATION_ERROR(object_with(std::nullopt).to_text(), 13);
}

TEST(VariantConversion, CopiesAreIndependentAndKeepTheirType)
{
    Variant text = Variant::from_text(u"3");
    Variant copy = text;
    text = Variant::from_short(9);
    EXPECT_EQ(copy.type(), Variant::Type::Text);
    EXPECT_EQ(copy.text_value(), u"3");
    EXPECT_EQ(text.short_value(), 9);

    Variant moved = std::move(copy);
    EXPECT_EQ(moved.text_value(), u"3");

    EXPECT_EQ(Variant().type(), Variant::Type::Empty);
    EXPECT_EQ(Variant::null().type(), Variant::Type::Null);
    EXPECT_EQ(Variant::from_date(1.5).date_value(), 1.5);
    EXPECT_EQ(object_with(std::nullopt).type(), Variant::Type::Object);
    EXPECT_AUTOMATION_ERROR(Variant::from_short(1).text_value(), 13);
    EXPECT_AUTOMATION_ERROR(Variant().short_value(), 13);
}

} // namespace
