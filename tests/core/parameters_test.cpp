// reset_params and SetScannerParam: clearing first, the defaults, then one whole
// conversation per listed entry; the count, the entry fields and the parameter buffer.
#include "core/clicker.h"
#include "core/maintenance/set_scanner_param.h"
#include "support/fake_platform.h"
#include "support/matchers.h"

#include <gtest/gtest.h>

#include <string>

namespace qmx {
namespace {

using test::CallLog;
using test::operator+;

// EmptyScanner without a clock text, then the defaults.
const CallLog cleared{"Init(3)", "SettleDelay", "ClearData", "Restore", "SetDefaults"};

CallLog conversation(int id, int value)
{
    return {"SettleDelay", "Init(3)", "WakeUp", "Interrogate",
            "SetParam(" + std::to_string(id) + "," + std::to_string(value) + ")", "PowerDown", "Restore"};
}

ParamBuffer buffer_of(std::uint8_t value)
{
    return ParamBuffer{value, 0, ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
}

class ResetParamsTest : public ::testing::Test {
protected:
    test::FakePlatform fake;
    Clicker clicker{fake.platform()};

    ResetParamsTest()
    {
        fake.scanner.scanner_on_port(3);
        clicker.put_startport(Variant::from_short(3));
    }

    void list(std::u16string_view text) { clicker.put_newparams(Variant::from_text(text)); }
};

TEST_F(ResetParamsTest, WithoutAPortRefusesWithoutLookingAtTheList)
{
    fake.scanner.scanner_on_port(2);
    clicker.put_startport(Variant());
    clicker.open_clicker();
    ASSERT_EQ(clicker.get_open_ok(), variant_true);
    fake.log.clear();

    clicker.reset_params(); // the empty list would be a type mismatch if it were read
    EXPECT_TRUE(fake.log.empty());
    EXPECT_EQ(clicker.get_open_ok(), variant_false);
}

TEST_F(ResetParamsTest, AnEmptyListFailsAfterClearingAndDefaults)
{
    EXPECT_AUTOMATION_ERROR(clicker.reset_params(), 13);
    EXPECT_EQ(fake.log, cleared);
    EXPECT_TRUE(fake.scanner.set_params.empty());

    for (std::u16string_view not_a_count : {u"xx1005", u"a", u"  1005", u"-"}) {
        fake.log.clear();
        list(not_a_count);
        EXPECT_AUTOMATION_ERROR(clicker.reset_params(), 13);
        EXPECT_EQ(fake.log, cleared) << std::string(not_a_count.begin(), not_a_count.end());
    }
}

TEST_F(ResetParamsTest, ACountBelowOneProgramsNothing)
{
    for (std::u16string_view text : {u"00", u"001005", u"0", u"-11005", u" 01005"}) {
        fake.log.clear();
        list(text);
        clicker.reset_params();
        EXPECT_EQ(fake.log, cleared) << std::string(text.begin(), text.end());
    }

    fake.log.clear();
    clicker.put_newparams(Variant::from_short(0));
    ASSERT_EQ(clicker.fields().param_list, u"0");
    clicker.reset_params();
    EXPECT_EQ(fake.log, cleared);
    EXPECT_TRUE(fake.scanner.set_params.empty());
}

TEST_F(ResetParamsTest, EachEntryIsAConversationOfItsOwn)
{
    list(u"0210052201");
    clicker.reset_params();
    EXPECT_EQ(fake.log, cleared + conversation(10, 5) + conversation(22, 1));
    ASSERT_EQ(fake.scanner.set_params.size(), 2u);
    EXPECT_EQ(fake.scanner.set_params[0].first, 10);
    EXPECT_EQ(fake.scanner.set_params[0].second, buffer_of(5));
    EXPECT_EQ(fake.scanner.set_params[1].first, 22);
    EXPECT_EQ(fake.scanner.set_params[1].second, buffer_of(1));
    EXPECT_EQ(fake.scanner.sizes, (std::vector<std::int32_t>{2, 2})) << "only two bytes announced";
    EXPECT_EQ(fake.pump.waited_ms, 3 * 2000);
    EXPECT_EQ(clicker.fields().param_list, u"0210052201") << "the list stays for later runs";
}

TEST_F(ResetParamsTest, TheCountDecidesHowManyEntriesGoOut)
{
    list(u"0310052201"); // a third entry past the end: id 0, value 0
    clicker.reset_params();
    EXPECT_EQ(fake.log, cleared + conversation(10, 5) + conversation(22, 1) + conversation(0, 0));
    EXPECT_EQ(fake.scanner.set_params.back().second, buffer_of(0));

    fake.log.clear();
    list(u"011005220199xyz"); // characters after the counted entries are ignored
    clicker.reset_params();
    EXPECT_EQ(fake.log, cleared + conversation(10, 5));

    fake.log.clear();
    list(u"0210052"); // an entry cut short reads the characters that are there
    clicker.reset_params();
    EXPECT_EQ(fake.log, cleared + conversation(10, 5) + conversation(2, 0));

    fake.log.clear();
    list(u" 11005"); // the count may carry blanks
    clicker.reset_params();
    EXPECT_EQ(fake.log, cleared + conversation(10, 5));
}

TEST_F(ResetParamsTest, EntryFieldsAreReadLeniently)
{
    list(u"040A 5 9 7-5080809");
    // "0A": id 0; " 5", " 9", " 7": a blank and a digit; "-5": an id keeps its sign;
    // "08", "09": leading zeros.
    clicker.reset_params();
    EXPECT_EQ(fake.log, cleared + conversation(0, 5) + conversation(9, 7) + conversation(-5, 8) + conversation(8, 9));
}

TEST_F(ResetParamsTest, ANegativeValueFailsInsideItsConversation)
{
    list(u"03100522-13301");
    EXPECT_AUTOMATION_ERROR(clicker.reset_params(), 5);
    EXPECT_EQ(fake.log, cleared + conversation(10, 5) + CallLog({"SettleDelay", "Init(3)", "WakeUp", "Interrogate"}))
        << "no SetParam, PowerDown or Restore for the failing entry, nothing after it";
    EXPECT_EQ(fake.scanner.set_params.size(), 1u);
}

TEST_F(ResetParamsTest, ARefusedEntryIsNotReported)
{
    fake.scanner.set_param = [](std::int32_t id, const ParamBuffer&) { return id == 10 ? 1 : 0; };
    list(u"03100522013301");
    clicker.reset_params();
    EXPECT_EQ(fake.log, cleared + conversation(10, 5) + conversation(22, 1) + conversation(33, 1));
}

TEST_F(ResetParamsTest, TwoRunsDoEverythingTwice)
{
    list(u"0210052201");
    clicker.reset_params();
    clicker.reset_params();
    const CallLog once = cleared + conversation(10, 5) + conversation(22, 1);
    EXPECT_EQ(fake.log, once + once);
    EXPECT_EQ(fake.scanner.set_params.size(), 4u);
}

TEST_F(ResetParamsTest, AStoredClockTextIsSetOnTheWay)
{
    clicker.put_pnewdatetime(u"301514071226");
    list(u"011005");
    clicker.reset_params();
    EXPECT_EQ(fake.log, (CallLog{"Init(3)", "SettleDelay", "WakeUp", "SetTime(30,15,14,7,12,26)", "PowerDown", "SettleDelay",
                                 "ClearData", "Restore", "SetDefaults"}) +
                            conversation(10, 5));
}

TEST_F(ResetParamsTest, AClearingRefusedGoesOnWithDefaultsAndEntries)
{
    fake.scanner.scanner_on_port(4); // nothing answers on port 3: every Init there is refused
    list(u"0210052201");
    clicker.reset_params();
    EXPECT_EQ(fake.log, CallLog({"Init(3)", "SetDefaults"}) + conversation(10, 5) + conversation(22, 1))
        << "the refused Init of each entry is not noticed";
    EXPECT_EQ(clicker.get_open_ok(), variant_false);
}

TEST_F(ResetParamsTest, AClearingThatFailsEndsTheRunWithItsError)
{
    clicker.put_pnewdatetime(u"3015-4071226");
    list(u"0210052201");
    EXPECT_AUTOMATION_ERROR(clicker.reset_params(), 5);
    EXPECT_EQ(fake.log, (CallLog{"Init(3)"})) << "no SetDefaults";

    fake.log.clear();
    clicker.put_startport(Variant::from_text(u"abc"));
    EXPECT_AUTOMATION_ERROR(clicker.reset_params(), 13);
    EXPECT_TRUE(fake.log.empty());
}

TEST_F(ResetParamsTest, ANullListIsRefusedAndTheOldListStays)
{
    list(u"011005");
    EXPECT_AUTOMATION_ERROR(clicker.put_newparams(Variant::null()), 94);
    EXPECT_EQ(clicker.fields().param_list, u"011005");
    clicker.reset_params();
    EXPECT_EQ(fake.log, cleared + conversation(10, 5));
}

TEST_F(ResetParamsTest, TheCountComesFromTheListAsItStoodBeforeClearing)
{
    list(u"0110052201");
    // During EmptyScanner's settle wait the host gives a new list: the count is already
    // taken, the entries come from the new list.
    bool changed = false;
    fake.pump.on_dispatch = [&] {
        if (!changed) {
            changed = true;
            list(u"0333014402");
        }
    };
    clicker.reset_params();
    EXPECT_EQ(fake.log, cleared + conversation(33, 1));
}

TEST_F(ResetParamsTest, EachEntryReadsTheListAsItStandsThen)
{
    list(u"0210052201");
    int dispatches = 0;
    const std::size_t first_entry_starts = cleared.size();
    fake.pump.on_dispatch = [&] {
        // Within the first entry's settle wait, the second entry changes.
        if (fake.log.size() == first_entry_starts + 1 && dispatches++ == 0)
            list(u"0210054403");
    };
    clicker.reset_params();
    EXPECT_EQ(fake.log, cleared + conversation(10, 5) + conversation(44, 3));
}

// Own-interface routing: reset_params reaches EmptyScanner as a host would.
class RoutedInterface final : public ClickerInterface {
public:
    explicit RoutedInterface(Clicker& target) : target_(target) {}
    std::vector<std::string> calls;
    bool fail = false;

    void open_clicker() override
    {
        calls.push_back("open_clicker");
        target_.open_clicker();
    }
    void EmptyScanner() override
    {
        calls.push_back("EmptyScanner");
        if (fail)
            throw AutomationError(ErrorNumber::FileNotFound, u"routed failure");
        target_.EmptyScanner();
    }

private:
    Clicker& target_;
};

TEST_F(ResetParamsTest, EmptyScannerIsCalledThroughTheOwnInterface)
{
    RoutedInterface routed(clicker);
    clicker.route_own_calls(&routed);
    list(u"011005");
    clicker.reset_params();
    EXPECT_EQ(routed.calls, (std::vector<std::string>{"EmptyScanner"}));
    EXPECT_EQ(fake.log, cleared + conversation(10, 5));

    fake.log.clear();
    routed.calls.clear();
    routed.fail = true;
    try {
        clicker.reset_params();
        ADD_FAILURE() << "the routed error was swallowed";
    } catch (const AutomationError& error) {
        EXPECT_EQ(error.code(), 53);
        EXPECT_EQ(error.description(), u"routed failure");
    }
    EXPECT_EQ(routed.calls, (std::vector<std::string>{"EmptyScanner"}));
    EXPECT_TRUE(fake.log.empty()) << "nothing after a failed EmptyScanner";

    clicker.route_own_calls(nullptr); // back to the object itself
    routed.calls.clear();
    clicker.reset_params();
    EXPECT_TRUE(routed.calls.empty());
    EXPECT_EQ(fake.log, cleared + conversation(10, 5));
}

// SetScannerParam on its own: its Boolean result and the port it converts.
TEST(SetScannerParam, TrueOnlyWhenTheValueIsAccepted)
{
    test::FakePlatform fake;
    fake.scanner.set_param = [](std::int32_t id, const ParamBuffer&) { return id == 7 ? -1 : 0; };
    EXPECT_TRUE(Module1::SetScannerParam(fake.platform(), Variant::from_text(u"3"), 6, 255));
    EXPECT_FALSE(Module1::SetScannerParam(fake.platform(), Variant::from_text(u"3"), 7, 0));
    EXPECT_EQ(fake.log, conversation(6, 255) + conversation(7, 0));
    EXPECT_EQ(fake.scanner.set_params[0].second, buffer_of(255));

    fake.log.clear();
    EXPECT_AUTOMATION_ERROR(Module1::SetScannerParam(fake.platform(), Variant::from_short(3), 6, 256), 5);
    EXPECT_EQ(fake.log, (CallLog{"SettleDelay", "Init(3)", "WakeUp", "Interrogate"}));

    fake.log.clear();
    EXPECT_AUTOMATION_ERROR(Module1::SetScannerParam(fake.platform(), Variant::from_text(u"x"), 6, 1), 13);
    EXPECT_EQ(fake.log, (CallLog{"SettleDelay"})) << "the port is converted after the wait";
}

} // namespace
} // namespace qmx
