// The portable Variant: the automation conversion rules written out, for builds without
// the Windows automation runtime.
#include "core/automation/variant.h"

#include "core/automation/error.h"
#include "core/automation/numbers.h"
#include "core/automation/text.h"

#include <cmath>
#include <cstdio>

namespace qmx {

struct Variant::Rep {
    Type type = Type::Empty;
    std::int32_t integer = 0; // Short, Long, Boolean (-1 or 0)
    double real = 0;          // Double, Date
    std::u16string text;
    std::shared_ptr<const AutomationObject> object;
};

namespace {

// Object default values may themselves be objects; a chain this deep is a mistake.
constexpr int max_default_value_depth = 8;

double number_of(const Variant::Rep* rep, int depth);

} // namespace

struct VariantAccess {
    static const Variant::Rep* rep(const Variant& value) { return value.rep_.get(); }
};

namespace {

// The default value of an object reference; none is a type mismatch.
Variant default_value_of(const Variant::Rep& rep, int depth)
{
    if (!rep.object || depth >= max_default_value_depth)
        raise(ErrorNumber::TypeMismatch);
    std::optional<Variant> value = rep.object->default_value();
    // A default value of Null has no number or text form either, as the runtime sees it.
    if (!value || value->is_null())
        raise(ErrorNumber::TypeMismatch);
    return std::move(*value);
}

double number_of(const Variant::Rep* rep, int depth)
{
    if (!rep)
        return 0;
    switch (rep->type) {
    case Variant::Type::Empty: return 0;
    case Variant::Type::Null: raise(ErrorNumber::InvalidUseOfNull);
    case Variant::Type::Short:
    case Variant::Type::Long:
    case Variant::Type::Boolean: return rep->integer;
    case Variant::Type::Double:
    case Variant::Type::DateTime: return rep->real;
    case Variant::Type::Text: {
        std::optional<double> value = parse_number(rep->text);
        if (!value)
            raise(ErrorNumber::TypeMismatch);
        return *value;
    }
    case Variant::Type::Object: {
        Variant value = default_value_of(*rep, depth);
        return number_of(VariantAccess::rep(value), depth + 1);
    }
    case Variant::Type::Other: break;
    }
    raise(ErrorNumber::TypeMismatch);
}

std::u16string two_digits(int value)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d", value);
    return widen(buffer);
}

// The en-US general date form: "5/20/2005 1:45:12 PM", the date alone at midnight, the
// time alone on day 0. A value outside the DATE range (1 January 100 to 31 December 9999)
// names no date and has no text, as with the Windows runtime: type mismatch.
std::u16string date_text(Date value)
{
    if (!(value > -657435.0 && value < 2958466.0))
        raise(ErrorNumber::TypeMismatch);
    CivilDateTime c = civil_from_date(value);
    std::u16string out;
    bool has_date = std::trunc(value) != 0;
    bool has_time = c.hour != 0 || c.minute != 0 || c.second != 0;
    if (has_date) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%d/%d/%d", c.month, c.day, c.year);
        out = widen(buffer);
    }
    if (has_time || !has_date) {
        if (!out.empty())
            out += u' ';
        int hour12 = c.hour % 12 == 0 ? 12 : c.hour % 12;
        out += widen(std::to_string(hour12)) + u':' + two_digits(c.minute) + u':' + two_digits(c.second);
        out += c.hour < 12 ? u" AM" : u" PM";
    }
    return out;
}

std::u16string text_of(const Variant::Rep* rep, int depth)
{
    if (!rep)
        return {};
    switch (rep->type) {
    case Variant::Type::Empty: return {};
    case Variant::Type::Null: raise(ErrorNumber::InvalidUseOfNull);
    case Variant::Type::Short:
    case Variant::Type::Long: return widen(std::to_string(rep->integer));
    case Variant::Type::Boolean: return rep->integer ? u"True" : u"False";
    case Variant::Type::Double: return format_double(rep->real);
    case Variant::Type::DateTime: return date_text(rep->real);
    case Variant::Type::Text: return rep->text;
    case Variant::Type::Object: {
        Variant value = default_value_of(*rep, depth);
        return text_of(VariantAccess::rep(value), depth + 1);
    }
    case Variant::Type::Other: break;
    }
    raise(ErrorNumber::TypeMismatch);
}

std::unique_ptr<Variant::Rep> make(Variant::Type type)
{
    auto rep = std::make_unique<Variant::Rep>();
    rep->type = type;
    return rep;
}

} // namespace

Variant::Variant() noexcept = default;
Variant::Variant(std::unique_ptr<Rep> rep) noexcept : rep_(std::move(rep)) {}
Variant::Variant(const Variant& other) : rep_(other.rep_ ? std::make_unique<Rep>(*other.rep_) : nullptr) {}
Variant::Variant(Variant&& other) noexcept = default;
Variant& Variant::operator=(const Variant& other)
{
    if (this != &other)
        rep_ = other.rep_ ? std::make_unique<Rep>(*other.rep_) : nullptr;
    return *this;
}
Variant& Variant::operator=(Variant&& other) noexcept = default;
Variant::~Variant() = default;

Variant Variant::null()
{
    return Variant(make(Type::Null));
}

Variant Variant::from_short(std::int16_t value)
{
    auto rep = make(Type::Short);
    rep->integer = value;
    return Variant(std::move(rep));
}

Variant Variant::from_long(std::int32_t value)
{
    auto rep = make(Type::Long);
    rep->integer = value;
    return Variant(std::move(rep));
}

Variant Variant::from_double(double value)
{
    auto rep = make(Type::Double);
    rep->real = value;
    return Variant(std::move(rep));
}

Variant Variant::from_bool(bool value)
{
    auto rep = make(Type::Boolean);
    rep->integer = value ? -1 : 0;
    return Variant(std::move(rep));
}

Variant Variant::from_date(Date value)
{
    auto rep = make(Type::DateTime);
    rep->real = value;
    return Variant(std::move(rep));
}

Variant Variant::from_text(std::u16string_view value)
{
    auto rep = make(Type::Text);
    rep->text.assign(value);
    return Variant(std::move(rep));
}

Variant Variant::from_object(std::shared_ptr<const AutomationObject> object)
{
    auto rep = make(Type::Object);
    rep->object = std::move(object);
    return Variant(std::move(rep));
}

Variant::Type Variant::type() const noexcept
{
    return rep_ ? rep_->type : Type::Empty;
}

std::int16_t Variant::to_short() const
{
    return to_int16(number_of(rep_.get(), 0));
}

std::int32_t Variant::to_long() const
{
    return to_int32(number_of(rep_.get(), 0));
}

std::u16string Variant::to_text() const
{
    return text_of(rep_.get(), 0);
}

std::int16_t Variant::short_value() const
{
    if (type() != Type::Short)
        raise(ErrorNumber::TypeMismatch);
    return static_cast<std::int16_t>(rep_->integer);
}

Date Variant::date_value() const
{
    if (type() != Type::DateTime)
        raise(ErrorNumber::TypeMismatch);
    return rep_->real;
}

std::u16string Variant::text_value() const
{
    if (type() != Type::Text)
        raise(ErrorNumber::TypeMismatch);
    return rep_->text;
}

} // namespace qmx
