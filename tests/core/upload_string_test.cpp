// alldata and the per-entry accessors: the header, one record per entry, the fresh
// download behind every read, and the 1-to-500 entry check.
#include "core/clicker.h"
#include "support/fake_platform.h"
#include "support/matchers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qmx {
namespace {

using test::HeldBarcode;

class UploadStringTest : public ::testing::Test {
protected:
    UploadStringTest()
    {
        fake.scanner.scanner_on_port(0);
        fake.scanner.device_id = [](DeviceIdBuffer& id) {
            id = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0};
            return 0;
        };
        fake.scanner.get_time = [](ClockBytes& clock) {
            clock = {45, 30, 14, 20, 5, 5};
            return 0;
        };
        hold({});
    }

    void hold(std::vector<HeldBarcode> held, std::int32_t count = -1) { fake.scanner.hold(std::move(held), count); }

    std::u16string alldata() { return clicker.get_alldata().text_value(); }

    std::size_t count_of(const std::string& call) const
    {
        return static_cast<std::size_t>(std::count(fake.log.begin(), fake.log.end(), call));
    }

    static constexpr const char16_t* header_of_this_scanner = u"V010123456789ABCDEFH453014200505";

    test::FakePlatform fake;
    Clicker clicker{fake.platform()};
};

TEST_F(UploadStringTest, AScannerWithoutBarcodesGivesTheHeaderAlone)
{
    const std::u16string text = alldata();
    EXPECT_EQ(text, std::u16string(header_of_this_scanner) + u"0000");
    EXPECT_EQ(text.size(), 36u);
}

TEST_F(UploadStringTest, OneRecordPerEntryInEntryOrder)
{
    hold({{3, "ABC12", "05/20/05 13:44:10"},
          {28, "1234567890123", "12/31/99 23:59:59"},
          {0, "", "01/01/29 00:00:00"},
          {99, "x-y z", "13/45/05 10:00:00"}, // no date: 1 January 2001
          {7, "LAST", "02/29/04 6:07:08 PM"}});
    const std::u16string text = alldata();
    EXPECT_EQ(text, std::u16string(header_of_this_scanner) + u"0005"
                        u"001ABC12        0320050520134410"
                        u"0021234567890123" u"2819991231235959"
                        u"003" u"             " u"0020290101000000"
                        u"004x-y z        9920010101000000"
                        u"005LAST         0720040229180708");
    EXPECT_EQ(text.size(), 196u);
    EXPECT_EQ(clicker.get_num_barcodes(), 5);
}

TEST_F(UploadStringTest, LongValuesLengthenTheirRecord)
{
    hold({{120, "ABC", "05/20/05 13:44:10"}, {255, "123456789012345", "05/20/05 13:44:10"}, {1, "Z", "05/20/05 13:44:10"}});
    const std::u16string text = alldata();
    EXPECT_EQ(text, std::u16string(header_of_this_scanner) + u"0003"
                        u"001ABC          12020050520134410"   // 33 characters
                        u"002123456789012345" u"25520050520134410" // 35: nothing is dropped
                        u"003Z            0120050520134410");
    EXPECT_EQ(text.size(), 36u + 33u + 35u + 32u);
}

TEST_F(UploadStringTest, EntryNumbersHaveThreeDigitsUpTo500)
{
    std::vector<HeldBarcode> held;
    for (int k = 1; k <= 500; ++k)
        held.push_back({static_cast<std::uint8_t>(k % 100), "B" + std::to_string(k), "05/20/05 13:44:10"});
    hold(held);
    const std::u16string text = alldata();
    ASSERT_EQ(text.size(), 16036u);
    EXPECT_EQ(text.substr(0, 36), std::u16string(header_of_this_scanner) + u"0500");
    EXPECT_EQ(text.substr(36 + 32 * 6, 32), u"007B7           0720050520134410");
    EXPECT_EQ(text.substr(36 + 32 * 499, 32), u"500B500         0020050520134410");
}

TEST_F(UploadStringTest, EveryReadDownloadsAfresh)
{
    hold({{1, "FIRST", "05/20/05 13:44:10"}});
    const std::u16string first = alldata();
    hold({{2, "SECOND", "06/21/06 08:00:00"}, {2, "THIRD", "06/21/06 08:00:01"}});
    fake.scanner.get_time = [](ClockBytes& clock) {
        clock = {255, 1, 2, 3, 4, 5};
        return 0;
    };
    const std::u16string second = alldata();

    EXPECT_EQ(first, std::u16string(header_of_this_scanner) + u"0001001FIRST        0120050520134410");
    EXPECT_EQ(second, u"V010123456789ABCDEFL000102030405" u"0002"
                      u"001SECOND       0220060621080000"
                      u"002THIRD        0220060621080001");
    EXPECT_EQ(count_of("GetDeviceId"), 2u);
    EXPECT_EQ(count_of("SettleDelay"), 2u);
    EXPECT_EQ(count_of("GetTime"), 2u);
}

TEST_F(UploadStringTest, AnEarlyStopShowsResetEntries)
{
    hold({{1, "OLD1", "05/20/05 13:44:10"}, {2, "OLD2", "05/20/05 13:44:10"}, {3, "OLD3", "05/20/05 13:44:10"},
          {4, "OLD4", "05/20/05 13:44:10"}});
    alldata();
    hold({{5, "NEW1", "06/21/06 08:00:00"}}, 3);
    EXPECT_EQ(alldata(), std::u16string(header_of_this_scanner) + u"0003"
                             u"001NEW1         0520060621080000"
                             u"002             " u"  18991230000000"
                             u"003             " u"  18991230000000");
}

TEST_F(UploadStringTest, ACountAbove500NeverYieldsAText)
{
    // The scanner reports 501 and delivers 500: the download succeeds, the text fails.
    std::vector<HeldBarcode> held(500, HeldBarcode{1, "B", "05/20/05 13:44:10"});
    hold(held, 501);
    EXPECT_AUTOMATION_ERROR(clicker.get_alldata(), 9);
    EXPECT_EQ(clicker.get_num_barcodes(), 501);
    EXPECT_EQ(clicker.get_open_ok(), variant_true);
    EXPECT_EQ(fake.log.back(), "Restore");

    // Delivering packet 501 as well fails inside the download already.
    held.push_back(HeldBarcode{1, "B", "05/20/05 13:44:10"});
    hold(held, 600);
    EXPECT_AUTOMATION_ERROR(clicker.get_alldata(), 9);
    EXPECT_EQ(fake.log.back(), "GetPacket(500)");
}

TEST_F(UploadStringTest, ANewObjectWithoutAScannerShowsBlankFields)
{
    fake.scanner.init = [](std::int32_t) { return -1; };
    EXPECT_EQ(alldata(), u"V01" + std::u16string(16, u' ') + u" " + std::u16string(12, u' ') + u"0000");
    EXPECT_EQ(count_of("Init(0)"), 1u) << "alldata did search";
    EXPECT_EQ(clicker.get_comport(), 999);
}

TEST_F(UploadStringTest, ANoScannerReadShowsTheFieldsAsTheyStand)
{
    hold({{1, "KEPT", "05/20/05 13:44:10"}});
    alldata();
    // Then a search in which a port opens, reports a negative count and fails the status.
    fake.scanner.system_status = [] { return 1; };
    fake.scanner.read_data = [] { return -2; };
    EXPECT_EQ(alldata(), std::u16string(header_of_this_scanner) + u"-0002");
    EXPECT_EQ(clicker.get_open_ok(), variant_false);
}

// Stands between alldata and the object, as the COM layer does.
class OwnInterface final : public ClickerInterface {
public:
    explicit OwnInterface(Clicker& clicker) : clicker_(clicker) {}
    void open_clicker() override
    {
        ++calls;
        if (fail)
            raise(ErrorNumber::EntryPointNotFound);
        clicker_.open_clicker();
    }
    void EmptyScanner() override { clicker_.EmptyScanner(); }

    int calls = 0;
    bool fail = false;

private:
    Clicker& clicker_;
};

TEST_F(UploadStringTest, OpenClickerRunsThroughTheObjectsOwnInterfaceAndItsErrorIsAlldatas)
{
    OwnInterface own(clicker);
    clicker.route_own_calls(&own);
    hold({{1, "A", "05/20/05 13:44:10"}});
    EXPECT_EQ(alldata().size(), 68u);
    EXPECT_EQ(own.calls, 1);

    own.fail = true;
    EXPECT_AUTOMATION_ERROR(clicker.get_alldata(), 453);
    own.fail = false;

    clicker.put_startport(Variant::from_text(u"COM1"));
    EXPECT_AUTOMATION_ERROR(clicker.get_alldata(), 13);
    hold({}, 1);
    fake.scanner.time_stamp = [](const TimeStampBytes&, TimeStampText&) { return 0; };
    fake.scanner.packet = [](PacketBuffer& p, std::int32_t) {
        p = {6, 1, 'A', 0, 0, 0, 0};
        return 0;
    };
    clicker.put_startport(Variant());
    EXPECT_AUTOMATION_ERROR(clicker.get_alldata(), 5); // the all-zero time-stamp text
    EXPECT_EQ(own.calls, 4);
}

TEST_F(UploadStringTest, AccessorsReturnTheChosenEntryWithoutTalkingToTheScanner)
{
    hold({{28, "AB-123", "05/20/05 13:45:12"}, {3, "X", "05/20/05 13:45:12"}, {4, "Y", "05/20/05 13:45:12"}});
    clicker.open_clicker();
    hold({{5, "NEW", "06/21/06 08:00:00"}}); // entries 2 and 3 stay from before
    clicker.open_clicker();
    fake.log.clear();

    clicker.put_get_barcode(1);
    EXPECT_EQ(clicker.get_sbarcode().type(), Variant::Type::Text);
    EXPECT_EQ(clicker.get_sbarcode().text_value(), u"NEW");
    EXPECT_EQ(clicker.get_stime().type(), Variant::Type::DateTime);
    EXPECT_EQ(clicker.get_stime().date_value(), date_from_civil({2006, 6, 21, 8, 0, 0}));
    EXPECT_EQ(clicker.get_stype().type(), Variant::Type::Short);
    EXPECT_EQ(clicker.get_stype().short_value(), 5);

    clicker.put_get_barcode(3); // above the count: no comparison with it
    EXPECT_EQ(clicker.get_sbarcode().text_value(), u"Y");
    EXPECT_EQ(clicker.get_stype().short_value(), 4);

    clicker.put_get_barcode(500);
    EXPECT_EQ(clicker.get_sbarcode().text_value(), u"");
    EXPECT_EQ(clicker.get_stime().type(), Variant::Type::DateTime);
    EXPECT_EQ(clicker.get_stime().date_value(), 0.0);
    EXPECT_TRUE(clicker.get_stype().is_empty());

    for (std::int16_t entry : {std::int16_t(0), std::int16_t(-1), std::int16_t(501), std::int16_t(-32768)}) {
        clicker.put_get_barcode(entry);
        EXPECT_AUTOMATION_ERROR(clicker.get_sbarcode(), 9);
        EXPECT_AUTOMATION_ERROR(clicker.get_stime(), 9);
        EXPECT_AUTOMATION_ERROR(clicker.get_stype(), 9);
    }
    EXPECT_TRUE(fake.log.empty());
}

} // namespace
} // namespace qmx
