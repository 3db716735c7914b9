// The Clicker object: every piece of state the component has, and its members. The
// COM layer exposes these members on _Clicker; the members themselves live with their
// subsystem (download/, maintenance/), the simple ones in clicker.cpp.
#pragma once

#include "core/automation/date.h"
#include "core/automation/fixed_text.h"
#include "core/automation/table.h"
#include "core/automation/variant.h"
#include "core/platform/platform.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qmx {

using VariantBool = std::int16_t;
inline constexpr VariantBool variant_true = -1;
inline constexpr VariantBool variant_false = 0;

// The fields, in declaration order, with the values of a new object.
struct ClickerFields {
    Variant startport;               // public: the port to try first; Empty when none is known
    std::int16_t get_barcode = 0;    // public: the entry that sbarcode, stime and stype return
    std::u16string serial_hex;       // device identity, 16 upper-case hexadecimal digits
    std::int16_t port_no = 0;        // port of the last download; 999 when none answered
    std::int16_t barcode_count = 0;  // count the scanner last reported
    VariantBool is_open = variant_false;
    std::u16string new_datetime;     // clock text for EmptyScanner; empty: leave the clock
    Table<std::u16string> barcodes;
    Table<Variant> code_types;       // a 16-bit integer once written
    FixedText<12> clock_digits;
    FixedText<1> clock_flag;         // "H" clock valid, "L" clock lost
    Table<Date> scan_times;
    std::u16string param_list;       // parameter list text for reset_params
};

// The object's own interface. alldata and reset_params reach open_clicker and
// EmptyScanner through it, as a host would, so that the COM layer can route those calls
// through _Clicker.
class ClickerInterface {
public:
    virtual void open_clicker() = 0;
    virtual void EmptyScanner() = 0;

protected:
    virtual ~ClickerInterface() = default;
};

class Clicker : private ClickerFields, public ClickerInterface {
public:
    explicit Clicker(const Platform& platform);
    Clicker(const Clicker&) = delete;
    Clicker& operator=(const Clicker&) = delete;

    // Where open_clicker and EmptyScanner are called from inside alldata and reset_params;
    // by default this object itself.
    void route_own_calls(ClickerInterface* own_interface);

    const ClickerFields& fields() const { return *this; }

    // Simple members
    Variant get_startport() const;
    void put_startport(const Variant& value);
    void putref_startport(const Variant& value);
    std::int16_t get_get_barcode() const;
    void put_get_barcode(std::int16_t value);
    void close_clicker();
    Variant get_serial() const;
    void put_lastport(const Variant& pt);
    void put_newparams(const Variant& nparams);
    void put_pnewdatetime(std::u16string_view newdt);
    std::int16_t get_comport() const;
    std::int16_t get_num_barcodes() const;
    std::u16string get_hello() const;
    std::int16_t get_num_files();
    VariantBool get_open_ok() const;

    // Download
    void open_clicker() override;
    void getdate();
    Variant get_alldata();
    Variant get_sbarcode() const;
    Variant get_stime() const;
    Variant get_stype() const;

    // Maintenance
    void EmptyScanner() override;
    void setdate();
    void reset_params();

private:
    // Download stages
    void SearchPorts();
    bool ProbePort(std::int32_t port);
    void ReadDeviceSerial();
    void DownloadBarcodes();
    void ReadScannerClock();

    // The port index in startport, converted for csp2Init.
    std::int32_t StartPortIndex() const;

    Platform platform_;
    ClickerInterface* own_interface_;
};

} // namespace qmx
