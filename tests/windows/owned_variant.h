// A VARIANT that a test owns: initialised when made, cleared when it goes. It is a VARIANT,
// so it is passed as one.
#pragma once

#include <oleauto.h>

namespace qmx::test {

struct OwnedVariant : VARIANT {
    OwnedVariant() { VariantInit(this); }
    // Takes over a value made for the test (v_text and the like).
    explicit OwnedVariant(const VARIANT& taken) : VARIANT(taken) {}
    ~OwnedVariant() { VariantClear(this); }
    OwnedVariant(const OwnedVariant&) = delete;
    OwnedVariant& operator=(const OwnedVariant&) = delete;

    // Empty again, for the next result.
    void clear() { VariantClear(this); }
};

} // namespace qmx::test
