// Library failures through the built DLLs: a slice of the fault matrix (which walks every
// entry at every call natively) on the shipped binding, where a download waits for real.
#include "com_host.h"

#include <gtest/gtest.h>
#include <oleauto.h>

namespace qmx::test {
namespace {

const std::string three = "barcode 10 2026-11-30 08:12:05 2001234567893\n"
                          "barcode 20 2026-11-30 08:13:41 QMX-2026-0042\n"
                          "barcode 30 2026-12-02 14:02:17 SHELF-A17\n";

class FaultSlice : public ServerSuite {
protected:
    void SetUp() override
    {
        use_scenario(three);
        clicker = dll->create();
        ASSERT_TRUE(clicker);
    }
    void TearDown() override { use_scenario(""); }

    // The member's HRESULT with the scenario's library failing as `fault` says.
    template <typename Call>
    HRESULT failing(const std::string& fault, Call call)
    {
        use_scenario(three + fault + "\n");
        return call(clicker.get());
    }

    std::wstring entry(short k)
    {
        OwnedVariant v;
        EXPECT_EQ(clicker->put_get_barcode(k), S_OK);
        EXPECT_EQ(clicker->get_sbarcode(&v), S_OK);
        return text_of(v);
    }

    // The upload string without the clock's digits, which move on between downloads.
    std::wstring alldata(HRESULT expected = S_OK)
    {
        std::wstring text = test::alldata(clicker.get(), expected);
        return text.size() >= 32 ? text.replace(19, 13, 13, L'*') : text;
    }

    ComPtr<_Clicker> clicker;
};

TEST_F(FaultSlice, FailuresThatAreNotExaminedKeepTheDownloadAndTheObjectWorksAfterwards)
{
    const std::wstring first = alldata();
    ASSERT_EQ(first.size(), 36u + 3 * 32);
    VARIANT port = v_i2(3);
    ASSERT_EQ(clicker->put_startport(&port), S_OK);

    EXPECT_EQ(failing("fail csp2GetTime -7 from 1", [](_Clicker* c) { return c->getdate(); }), S_OK);
    EXPECT_EQ(failing("fail csp2SetTime -5 from 1", [](_Clicker* c) { return c->setdate(); }), S_OK);
    EXPECT_EQ(failing("fail csp2PowerDown -7 from 1", [](_Clicker* c) { return c->setdate(); }), S_OK);
    EXPECT_EQ(failing("fail csp2Init -1 from 1", [](_Clicker* c) { return c->EmptyScanner(); }), S_OK);
    VARIANT_BOOL open = VARIANT_TRUE;
    EXPECT_EQ(clicker->get_open_ok(&open), S_OK);
    EXPECT_EQ(open, VARIANT_FALSE) << "a refused port is the only trace";
    EXPECT_EQ(failing("fail csp2ClearData -7 from 1", [](_Clicker* c) { return c->EmptyScanner(); }), S_OK);
    EXPECT_EQ(entry(2), L"QMX-2026-0042") << "nothing downloaded before is lost";

    // The library recovers; the scanner was never cleared.
    use_scenario(three);
    EXPECT_EQ(alldata(), first);
}

TEST_F(FaultSlice, DownloadsThatFailPartWay)
{
    const std::wstring first = alldata();
    // An all-zero first time-stamp text is no date: the one failure a download reports.
    use_scenario(three + "fail csp2TimeStamp2Str -7 from 1\n");
    alldata(automation_error(5));
    EXPECT_EQ(error_info_description(), L"Invalid procedure call or argument");
    EXPECT_EQ(entry(3), L"SHELF-A17");

    use_scenario(three + "fail csp2GetDeviceId -7 from 1\nfail csp2GetPacket -3 from 2\n");
    const std::wstring partial = alldata();
    EXPECT_EQ(partial.substr(0, 19), L"V010000000000000000");
    EXPECT_EQ(partial.substr(36, 32), first.substr(36, 32));
    EXPECT_EQ(entry(2), L"") << "an entry the download did not reach reads as never written";

    use_scenario(three);
    EXPECT_EQ(alldata(), first);
}

} // namespace
} // namespace qmx::test
