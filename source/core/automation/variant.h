// An automation VARIANT as the core sees it. One interface, two implementations chosen at
// build time: the portable one follows the automation conversion rules itself, the Windows
// one holds a real VARIANT and converts with the system's automation runtime.
#pragma once

#include "core/automation/date.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qmx {

class AutomationObject;

class Variant {
public:
    enum class Type { Empty, Null, Short, Long, Double, Boolean, DateTime, Text, Object, Other };

    Variant() noexcept; // Empty
    Variant(const Variant& other);
    Variant(Variant&& other) noexcept;
    Variant& operator=(const Variant& other);
    Variant& operator=(Variant&& other) noexcept;
    ~Variant();

    static Variant null();
    static Variant from_short(std::int16_t value);
    static Variant from_long(std::int32_t value);
    static Variant from_double(double value);
    static Variant from_bool(bool value);
    static Variant from_date(Date value);
    static Variant from_text(std::u16string_view value);
    // Objects of a program's own (tests, fuzzers); on Windows defined in the test support,
    // as the component only receives objects from its hosts.
    static Variant from_object(std::shared_ptr<const AutomationObject> object);

    Type type() const noexcept;
    bool is_empty() const noexcept { return type() == Type::Empty; }
    bool is_null() const noexcept { return type() == Type::Null; }

    // Coercions by the automation rules. Empty is 0 or the empty text; Null fails with
    // invalid use of Null (94), a value without that form with type mismatch (13), a number
    // outside the target with overflow (6).
    std::int16_t to_short() const;
    std::int32_t to_long() const;
    std::u16string to_text() const;

    // The stored value itself, for the type it holds; any other type is a type mismatch.
    std::int16_t short_value() const;
    Date date_value() const;
    std::u16string text_value() const;

    struct Rep;

private:
    explicit Variant(std::unique_ptr<Rep> rep) noexcept;
    std::unique_ptr<Rep> rep_; // null while Empty
    friend struct VariantAccess;
};

// An object reference held in a Variant. Converting the Variant converts the object's
// default value; an object without one has no number or text form.
class AutomationObject {
public:
    virtual ~AutomationObject() = default;
    virtual std::optional<Variant> default_value() const = 0;
};

} // namespace qmx
