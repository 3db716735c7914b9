// The lenient reading of the short number fields, and the byte a number becomes.
#include "core/automation/field_number.h"
#include "support/field_reference.h"
#include "support/matchers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace qmx {
namespace {

std::string shown(const std::u16string& field)
{
    std::string out = "\"";
    for (char16_t c : field) {
        switch (c) {
        case u'\t': out += "\\t"; break;
        case u'\n': out += "\\n"; break;
        case u'\r': out += "\\r"; break;
        default: out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

TEST(ReadFieldNumber, ReadsTheFieldsOfClockAndParameterTexts)
{
    EXPECT_EQ(ReadFieldNumber(u""), 0);
    EXPECT_EQ(ReadFieldNumber(u"07"), 7);
    EXPECT_EQ(ReadFieldNumber(u"99"), 99);
    EXPECT_EQ(ReadFieldNumber(u"7 "), 7);
    EXPECT_EQ(ReadFieldNumber(u" 7"), 7);
    EXPECT_EQ(ReadFieldNumber(u"7x"), 7);
    EXPECT_EQ(ReadFieldNumber(u"ab"), 0);
    EXPECT_EQ(ReadFieldNumber(u"a7"), 0);
    EXPECT_EQ(ReadFieldNumber(u"-5"), -5);
    EXPECT_EQ(ReadFieldNumber(u"+5"), 5);
    EXPECT_EQ(ReadFieldNumber(u"\t\n"), 0);
}

TEST(ReadFieldNumber, BlanksAnywhereAreSkipped)
{
    EXPECT_EQ(ReadFieldNumber(u"1 2"), 12);
    EXPECT_EQ(ReadFieldNumber(u"- 4"), -4);
    EXPECT_EQ(ReadFieldNumber(u"\n\t3"), 3);
    EXPECT_EQ(ReadFieldNumber(u"\r3"), 0) << "a carriage return is not a blank";
}

TEST(ReadFieldNumber, FractionsRoundHalfToEven)
{
    EXPECT_EQ(ReadFieldNumber(u".5"), 0);
    EXPECT_EQ(ReadFieldNumber(u".6"), 1);
    EXPECT_EQ(ReadFieldNumber(u"1.5"), 2);
    EXPECT_EQ(ReadFieldNumber(u"2.5"), 2);
    EXPECT_EQ(ReadFieldNumber(u"-2.5"), -2);
    EXPECT_EQ(ReadFieldNumber(u"9."), 9);
    EXPECT_EQ(ReadFieldNumber(u"1.2.9"), 1) << "a second point ends the number";
    EXPECT_EQ(ReadFieldNumber(u"-.4"), 0);
}

TEST(ReadFieldNumber, KnowsNoExponentAndNoHexadecimal)
{
    EXPECT_EQ(ReadFieldNumber(u"1e2"), 1);
    EXPECT_EQ(ReadFieldNumber(u"1E2"), 1);
    EXPECT_EQ(ReadFieldNumber(u"&H1F"), 0);
    EXPECT_EQ(ReadFieldNumber(u"+-5"), 0);
    EXPECT_EQ(ReadFieldNumber(u"5-"), 5);
}

TEST(ReadFieldNumber, AgreesWithAPlainReadingOnEveryShortText)
{
    const std::u16string alphabet = u"0123456789 \t\n+-.aeEH&\r";
    std::u16string field;
    int checked = 0;
    auto check = [&] {
        ++checked;
        ASSERT_EQ(ReadFieldNumber(field), test::reference_field_number(field)) << shown(field);
    };
    check();
    for (char16_t a : alphabet) {
        field = std::u16string{a};
        check();
        for (char16_t b : alphabet) {
            field = std::u16string{a, b};
            check();
            for (char16_t c : alphabet) {
                field = std::u16string{a, b, c};
                check();
            }
        }
    }
    const std::size_t n = alphabet.size();
    EXPECT_EQ(checked, static_cast<int>(1 + n + n * n + n * n * n));
}

TEST(ByteFromNumber, TakesEveryByteValueAndNothingElse)
{
    for (int v = 0; v <= 255; ++v)
        ASSERT_EQ(ByteFromNumber(v), v);
    EXPECT_EQ(ByteFromNumber(-0.0), 0);
    EXPECT_AUTOMATION_ERROR(ByteFromNumber(-1), 5);
    EXPECT_AUTOMATION_ERROR(ByteFromNumber(256), 5);
    EXPECT_AUTOMATION_ERROR(ByteFromNumber(-99), 5);
    EXPECT_AUTOMATION_ERROR(ByteFromNumber(1e9), 5);
}

} // namespace
} // namespace qmx
