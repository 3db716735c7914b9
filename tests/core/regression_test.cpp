// Inputs that the fuzzers found to break the core, each kept as the case it was.
#include "core/automation/variant.h"
#include "core/clicker.h"
#include "support/fake_platform.h"
#include "support/matchers.h"

#include <gtest/gtest.h>

namespace qmx {
namespace {

// A DATE far outside the calendar (found by numbers_fuzzer: converting it to text read
// a day count no integer holds). It has no text form: type mismatch, as the runtime says.
TEST(RegressionTest, ADateOutsideTheDateRangeHasNoText)
{
    EXPECT_AUTOMATION_ERROR(Variant::from_date(5.98045e+197).to_text(), 13);
    EXPECT_AUTOMATION_ERROR(Variant::from_date(-1e300).to_text(), 13);
    // The first day past 31 December 9999 and the last before 1 January 100.
    EXPECT_AUTOMATION_ERROR(Variant::from_date(2958466.0).to_text(), 13);
    EXPECT_AUTOMATION_ERROR(Variant::from_date(-657435.0).to_text(), 13);
}

TEST(RegressionTest, TheEndsOfTheDateRangeStillHaveTheirText)
{
    EXPECT_FALSE(Variant::from_date(2958465.5).to_text().empty()); // 31 December 9999, noon
    EXPECT_FALSE(Variant::from_date(-657434.0).to_text().empty()); // 1 January 100
}

// The same DATE handed to newparams: the put fails and the list keeps its text.
TEST(RegressionTest, NewparamsWithADateOutsideTheRangeKeepsTheList)
{
    test::FakePlatform fake;
    Clicker clicker(fake.platform());
    clicker.put_newparams(Variant::from_text(u"011005"));
    EXPECT_AUTOMATION_ERROR(clicker.put_newparams(Variant::from_date(5.98045e+197)), 13);
    EXPECT_EQ(clicker.fields().param_list, u"011005");
}

} // namespace
} // namespace qmx
