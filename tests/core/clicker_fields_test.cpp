// A new Clicker and its simple members.
#include "core/clicker.h"
#include "support/fake_platform.h"
#include "support/matchers.h"

#include <gtest/gtest.h>

namespace qmx {
namespace {

class ClickerFieldsTest : public ::testing::Test {
protected:
    test::FakePlatform fake;
    Clicker clicker{fake.platform()};
};

TEST_F(ClickerFieldsTest, ANewObjectHasTheInitialValues)
{
    EXPECT_EQ(clicker.get_comport(), 0);
    EXPECT_EQ(clicker.get_num_barcodes(), 0);
    EXPECT_EQ(clicker.get_open_ok(), variant_false);
    EXPECT_EQ(clicker.get_serial().text_value(), u"");
    EXPECT_TRUE(clicker.get_startport().is_empty());
    EXPECT_EQ(clicker.get_get_barcode(), 0);

    const ClickerFields& f = clicker.fields();
    EXPECT_EQ(f.new_datetime, u"");
    EXPECT_EQ(f.param_list, u"");
    EXPECT_EQ(f.clock_digits.view(), std::u16string(12, u'\0'));
    EXPECT_EQ(f.clock_flag.view(), std::u16string(1, u'\0'));
    for (int k = 1; k <= 500; ++k) {
        ASSERT_EQ(f.barcodes.at(k), u"");
        ASSERT_TRUE(f.code_types.at(k).is_empty());
        ASSERT_EQ(f.scan_times.at(k), 0.0);
    }
    EXPECT_TRUE(fake.log.empty()) << "creating an object talks to no scanner";
}

TEST_F(ClickerFieldsTest, StartportKeepsWhateverTheHostStored)
{
    clicker.put_lastport(Variant::from_short(3));
    EXPECT_EQ(clicker.get_startport().type(), Variant::Type::Short);
    EXPECT_EQ(clicker.get_startport().short_value(), 3);

    clicker.put_lastport(Variant::from_text(u"3"));
    EXPECT_EQ(clicker.get_startport().text_value(), u"3");

    clicker.put_startport(Variant::from_text(u"not a port")); // no check until it is used
    EXPECT_EQ(clicker.get_startport().text_value(), u"not a port");

    clicker.putref_startport(Variant::null());
    EXPECT_TRUE(clicker.get_startport().is_null());

    clicker.put_startport(Variant());
    EXPECT_TRUE(clicker.get_startport().is_empty());
}

TEST_F(ClickerFieldsTest, StartportIsACopy)
{
    Variant port = Variant::from_text(u"7");
    clicker.put_startport(port);
    port = Variant::from_text(u"8");
    Variant read = clicker.get_startport();
    read = Variant::from_text(u"9");
    EXPECT_EQ(clicker.get_startport().text_value(), u"7");
}

TEST_F(ClickerFieldsTest, GetBarcodeTakesAnyValueWithoutACheck)
{
    for (std::int16_t value : {std::int16_t(0), std::int16_t(-1), std::int16_t(501), std::int16_t(-32768), std::int16_t(32767)}) {
        clicker.put_get_barcode(value);
        EXPECT_EQ(clicker.get_get_barcode(), value);
    }
}

TEST_F(ClickerFieldsTest, NewparamsStoresTheTextFormOrKeepsTheOldList)
{
    clicker.put_newparams(Variant::from_short(5));
    EXPECT_EQ(clicker.fields().param_list, u"5");
    clicker.put_newparams(Variant::from_text(u"021005"));
    EXPECT_EQ(clicker.fields().param_list, u"021005");

    EXPECT_AUTOMATION_ERROR(clicker.put_newparams(Variant::null()), 94);
    EXPECT_EQ(clicker.fields().param_list, u"021005");

    clicker.put_newparams(Variant());
    EXPECT_EQ(clicker.fields().param_list, u"");
}

TEST_F(ClickerFieldsTest, PnewdatetimeStoresAnyTextUnchanged)
{
    clicker.put_pnewdatetime(u"301514071226");
    EXPECT_EQ(clicker.fields().new_datetime, u"301514071226");
    const std::u16string odd(u"1\0x\u00e9 very long text beyond twelve characters", 44);
    clicker.put_pnewdatetime(odd);
    EXPECT_EQ(clicker.fields().new_datetime, odd);
    clicker.put_pnewdatetime(u"");
    EXPECT_EQ(clicker.fields().new_datetime, u"");
}

TEST_F(ClickerFieldsTest, HelloNeedsNoScannerLibrary)
{
    EXPECT_EQ(clicker.get_hello(), u"Clicker control successfully installed");
    EXPECT_EQ(clicker.get_hello(), u"Clicker control successfully installed");
    EXPECT_TRUE(fake.log.empty());
}

TEST_F(ClickerFieldsTest, NumFilesCountsThePantrylogFolder)
{
    EXPECT_EQ(clicker.get_num_files(), 0);
    ASSERT_EQ(fake.directory.patterns.size(), 1u);
    EXPECT_EQ(fake.directory.patterns[0], u"c:\\pantrylog\\*.*");

    fake.directory.counts[u"c:\\pantrylog\\*.*"] = 3;
    EXPECT_EQ(clicker.get_num_files(), 3);
    fake.directory.counts[u"c:\\pantrylog\\*.*"] = 32767;
    EXPECT_EQ(clicker.get_num_files(), 32767);
    fake.directory.counts[u"c:\\pantrylog\\*.*"] = 32768;
    EXPECT_AUTOMATION_ERROR(clicker.get_num_files(), 6);
}

TEST_F(ClickerFieldsTest, CloseClickerOnlyReleasesThePort)
{
    clicker.close_clicker();
    EXPECT_EQ(fake.log, (test::CallLog{"Restore"}));
    EXPECT_EQ(clicker.get_open_ok(), variant_false);
    EXPECT_EQ(clicker.get_comport(), 0);
    EXPECT_EQ(clicker.get_num_barcodes(), 0);
}

TEST_F(ClickerFieldsTest, ObjectsShareNothing)
{
    test::FakePlatform other_fake;
    Clicker other{other_fake.platform()};
    clicker.put_startport(Variant::from_short(4));
    clicker.put_newparams(Variant::from_text(u"00"));
    EXPECT_TRUE(other.get_startport().is_empty());
    EXPECT_EQ(other.fields().param_list, u"");
}

} // namespace
} // namespace qmx
