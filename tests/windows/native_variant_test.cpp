// Variant and the runtime's own VARIANTs: by-reference values, arrays, Nothing.
#include "windows/native_variant.h"
#include "support/matchers.h"
#include "owned_variant.h"

#include <gtest/gtest.h>
#include <oleauto.h>

namespace qmx {
namespace {

using test::OwnedVariant;

TEST(NativeVariant, AByReferenceValueIsStoredAsTheValueItRefersTo)
{
    OwnedVariant inner;
    V_VT(&inner) = VT_BSTR;
    V_BSTR(&inner) = SysAllocString(L"3");
    VARIANT ref;
    VariantInit(&ref);
    V_VT(&ref) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&ref) = &inner;

    Variant value = variant_from_native(ref);
    EXPECT_EQ(value.type(), Variant::Type::Text);
    SysFreeString(V_BSTR(&inner));
    V_BSTR(&inner) = SysAllocString(L"9");
    EXPECT_EQ(value.text_value(), u"3") << "a copy, not the caller's storage";
    EXPECT_EQ(value.to_long(), 3);

    short number = 12;
    V_VT(&ref) = VT_I2 | VT_BYREF;
    V_I2REF(&ref) = &number;
    Variant copied = variant_from_native(ref);
    number = 13;
    EXPECT_EQ(copied.short_value(), 12);
}

TEST(NativeVariant, EmbeddedZerosSurviveBothWays)
{
    OwnedVariant text;
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocStringLen(L"a\0b", 3);
    Variant value = variant_from_native(text);
    EXPECT_EQ(value.text_value(), std::u16string(u"a\0b", 3));

    OwnedVariant back;
    variant_to_native(value, &back);
    EXPECT_EQ(V_VT(&back), VT_BSTR);
    EXPECT_EQ(SysStringLen(V_BSTR(&back)), 3u);
}

TEST(NativeVariant, ValuesWithoutANumberOrTextFormAreTypeMismatches)
{
    OwnedVariant array;
    V_VT(&array) = VT_ARRAY | VT_I4;
    V_ARRAY(&array) = SafeArrayCreateVector(VT_I4, 0, 3);
    Variant value = variant_from_native(array);
    EXPECT_EQ(value.type(), Variant::Type::Other);
    EXPECT_AUTOMATION_ERROR(value.to_text(), 13);
    EXPECT_AUTOMATION_ERROR(value.to_long(), 13);

    VARIANT nothing;
    VariantInit(&nothing);
    V_VT(&nothing) = VT_DISPATCH;
    V_DISPATCH(&nothing) = nullptr;
    Variant object = variant_from_native(nothing);
    EXPECT_EQ(object.type(), Variant::Type::Object);
    EXPECT_AUTOMATION_ERROR(object.to_long(), 13);
    EXPECT_AUTOMATION_ERROR(object.to_text(), 13);

    VARIANT error;
    VariantInit(&error);
    V_VT(&error) = VT_ERROR;
    V_ERROR(&error) = DISP_E_PARAMNOTFOUND; // a missing optional argument
    EXPECT_AUTOMATION_ERROR(variant_from_native(error).to_long(), 13);
}

TEST(NativeVariant, VariantsNoRuleAllowsAreRefusedBeforeTheyAreRead)
{
    // Each would send the runtime's copy through a null or meaningless pointer.
    const VARTYPE refused[] = {VT_BYREF | VT_I2, VT_BYREF | VT_BSTR, VT_BYREF | VT_VARIANT, VT_BYREF | VT_ARRAY | VT_I4,
                               0x7FFF, VT_VECTOR | VT_I2, VT_RESERVED | VT_I4, VT_BYREF | VT_EMPTY, VT_ARRAY | VT_NULL,
                               VT_VARIANT, VT_RECORD, VT_LPWSTR, VT_PTR, 15};
    for (VARTYPE type : refused) {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = type; // and a null pointer or zero behind it
        SCOPED_TRACE(type);
        EXPECT_AUTOMATION_ERROR(variant_from_native(v), 13);
    }
    VARIANT decimal;
    VariantInit(&decimal);
    V_DECIMAL(&decimal).Lo64 = 25;
    V_DECIMAL(&decimal).scale = 1;
    V_VT(&decimal) = VT_DECIMAL;
    EXPECT_EQ(variant_from_native(decimal).to_long(), 2) << "every type a VARIANT may hold still converts";
}

TEST(NativeVariant, EmptyGoesOutAsEmpty)
{
    VARIANT out;
    VariantInit(&out);
    V_VT(&out) = VT_I4;
    variant_to_native(Variant(), &out);
    EXPECT_EQ(V_VT(&out), VT_EMPTY);
}

} // namespace
} // namespace qmx
