// The Clicker's fields and its simple members: accessors, hello, num_files, close_clicker.
#include "core/clicker.h"

#include "core/automation/error.h"

#include <cstdint>

namespace qmx {

Clicker::Clicker(const Platform& platform) : platform_(platform), own_interface_(this) {}

void Clicker::route_own_calls(ClickerInterface* own_interface)
{
    own_interface_ = own_interface ? own_interface : this;
}

Variant Clicker::get_startport() const
{
    return startport;
}

void Clicker::put_startport(const Variant& value)
{
    startport = value;
}

void Clicker::putref_startport(const Variant& value)
{
    startport = value;
}

std::int16_t Clicker::get_get_barcode() const
{
    return get_barcode;
}

void Clicker::put_get_barcode(std::int16_t value)
{
    get_barcode = value;
}

void Clicker::close_clicker()
{
    platform_.scanner.csp2Restore();
}

Variant Clicker::get_serial() const
{
    return Variant::from_text(serial_hex);
}

void Clicker::put_lastport(const Variant& pt)
{
    startport = pt;
}

void Clicker::put_newparams(const Variant& nparams)
{
    param_list = nparams.to_text();
}

void Clicker::put_pnewdatetime(std::u16string_view newdt)
{
    new_datetime.assign(newdt);
}

std::int16_t Clicker::get_comport() const
{
    return port_no;
}

std::int16_t Clicker::get_num_barcodes() const
{
    return barcode_count;
}

std::u16string Clicker::get_hello() const
{
    return u"Clicker control successfully installed";
}

std::int16_t Clicker::get_num_files()
{
    auto names = platform_.directory.list(u"c:\\pantrylog\\*.*");
    std::int64_t count = 0;
    for (std::u16string name = names->next(); !name.empty(); name = names->next())
        ++count;
    if (count > INT16_MAX)
        raise(ErrorNumber::Overflow);
    return static_cast<std::int16_t>(count);
}

VariantBool Clicker::get_open_ok() const
{
    return is_open;
}

std::int32_t Clicker::StartPortIndex() const
{
    return startport.to_long();
}

} // namespace qmx
