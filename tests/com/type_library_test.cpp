// The type library inside the DLL: library attributes, the two types, and every member's
// identifier, invoke kind, parameters and flags.
#include "com_host.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <string>

namespace qmx::test {
namespace {

struct Member {
    const wchar_t* name;
    INVOKEKIND kind;
    MEMBERID id;
    VARTYPE parameter; // VT_EMPTY: none
    USHORT parameter_flags;
    VARTYPE result;    // VT_EMPTY: none (always through [out, retval])
};

constexpr VARTYPE by_ref(VARTYPE t)
{
    return static_cast<VARTYPE>(t | 0x8000); // marks a pointer parameter in this table
}

const Member members[] = {
    {L"startport", INVOKE_PROPERTYGET, 0x40030004, VT_EMPTY, 0, VT_VARIANT},
    {L"startport", INVOKE_PROPERTYPUT, 0x40030004, by_ref(VT_VARIANT), PARAMFLAG_FIN, VT_EMPTY},
    {L"startport", INVOKE_PROPERTYPUTREF, 0x40030004, by_ref(VT_VARIANT), PARAMFLAG_FIN, VT_EMPTY},
    {L"get_barcode", INVOKE_PROPERTYGET, 0x40030006, VT_EMPTY, 0, VT_I2},
    {L"get_barcode", INVOKE_PROPERTYPUT, 0x40030006, VT_I2, PARAMFLAG_FIN, VT_EMPTY},
    {L"open_clicker", INVOKE_FUNC, 0x6003000E, VT_EMPTY, 0, VT_EMPTY},
    {L"close_clicker", INVOKE_FUNC, 0x6003000F, VT_EMPTY, 0, VT_EMPTY},
    {L"serial", INVOKE_PROPERTYGET, 0x6803000C, VT_EMPTY, 0, VT_VARIANT},
    {L"lastport", INVOKE_PROPERTYPUT, 0x6803000B, by_ref(VT_VARIANT), PARAMFLAG_FIN | PARAMFLAG_FOUT, VT_EMPTY},
    {L"newparams", INVOKE_PROPERTYPUT, 0x6803000A, by_ref(VT_VARIANT), PARAMFLAG_FIN | PARAMFLAG_FOUT, VT_EMPTY},
    {L"pnewdatetime", INVOKE_PROPERTYPUT, 0x68030009, by_ref(VT_BSTR), PARAMFLAG_FIN | PARAMFLAG_FOUT, VT_EMPTY},
    {L"alldata", INVOKE_PROPERTYGET, 0x68030008, VT_EMPTY, 0, VT_VARIANT},
    {L"comport", INVOKE_PROPERTYGET, 0x68030007, VT_EMPTY, 0, VT_I2},
    {L"num_barcodes", INVOKE_PROPERTYGET, 0x68030006, VT_EMPTY, 0, VT_I2},
    {L"hello", INVOKE_PROPERTYGET, 0x68030005, VT_EMPTY, 0, VT_BSTR},
    {L"num_files", INVOKE_PROPERTYGET, 0x68030004, VT_EMPTY, 0, VT_I2},
    {L"open_ok", INVOKE_PROPERTYGET, 0x68030003, VT_EMPTY, 0, VT_BOOL},
    {L"EmptyScanner", INVOKE_FUNC, 0x60030010, VT_EMPTY, 0, VT_EMPTY},
    {L"reset_params", INVOKE_FUNC, 0x60030011, VT_EMPTY, 0, VT_EMPTY},
    {L"getdate", INVOKE_FUNC, 0x60030012, VT_EMPTY, 0, VT_EMPTY},
    {L"setdate", INVOKE_FUNC, 0x60030013, VT_EMPTY, 0, VT_EMPTY},
    {L"sbarcode", INVOKE_PROPERTYGET, 0x68030002, VT_EMPTY, 0, VT_VARIANT},
    {L"stime", INVOKE_PROPERTYGET, 0x68030001, VT_EMPTY, 0, VT_VARIANT},
    {L"stype", INVOKE_PROPERTYGET, 0x68030000, VT_EMPTY, 0, VT_VARIANT},
};

class TypeLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(LoadTypeLibEx(server_path().c_str(), REGKIND_NONE, library.out()), S_OK);
    }
    ComPtr<ITypeLib> library;
};

TEST_F(TypeLibrary, DescribesTheLibraryItself)
{
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_QMXClicker));
    EXPECT_EQ(attributes->lcid, 0x0409u);
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL | LIBFLAG_FHIDDEN), 0)
        << "neither restricted, nor a control library, nor hidden";
#ifdef _WIN64
    EXPECT_EQ(attributes->syskind, SYS_WIN64);
#else
    EXPECT_EQ(attributes->syskind, SYS_WIN32);
#endif
    library->ReleaseTLibAttr(attributes);

    // No help file, help context or documentation string: not on the library, not on
    // its two types (the members are checked with their descriptions).
    for (INT index = -1; index < 2; ++index) {
        BSTR name = nullptr, doc = nullptr, help = nullptr;
        DWORD context = 1;
        ASSERT_EQ(library->GetDocumentation(index, &name, &doc, &context, &help), S_OK) << index;
        EXPECT_STREQ(name, index == -1 ? L"QMXClicker" : index == 0 ? L"_Clicker" : L"Clicker");
        EXPECT_EQ(doc, nullptr) << index;
        EXPECT_EQ(help, nullptr) << index;
        EXPECT_EQ(context, 0u) << index;
        SysFreeString(name);
        SysFreeString(doc);
    }
}

TEST_F(TypeLibrary, HoldsTheInterfaceThenTheClass)
{
    ASSERT_EQ(library->GetTypeInfoCount(), 2u);
    TYPEKIND kind;
    ASSERT_EQ(library->GetTypeInfoType(0, &kind), S_OK);
    EXPECT_EQ(kind, TKIND_DISPATCH);
    ASSERT_EQ(library->GetTypeInfoType(1, &kind), S_OK);
    EXPECT_EQ(kind, TKIND_COCLASS);

    ComPtr<ITypeInfo> clicker;
    ASSERT_EQ(library->GetTypeInfo(1, clicker.out()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(clicker->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, CLSID_Clicker));
    EXPECT_EQ(attributes->wTypeFlags, TYPEFLAG_FCANCREATE);
    EXPECT_EQ(attributes->cImplTypes, 1);
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    clicker->ReleaseTypeAttr(attributes);
    INT flags = 0;
    ASSERT_EQ(clicker->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> implemented;
    ASSERT_EQ(clicker->GetRefTypeOfImplType(0, &ref), S_OK);
    ASSERT_EQ(clicker->GetRefTypeInfo(ref, implemented.out()), S_OK);
    ASSERT_EQ(implemented->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, IID__Clicker));
    implemented->ReleaseTypeAttr(attributes);
}

TEST_F(TypeLibrary, TheInterfaceIsAHiddenDualDerivedFromIDispatchOfStdole)
{
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID__Clicker, dispatch.out()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->wTypeFlags, TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    dispatch->ReleaseTypeAttr(attributes);

    // The vtable side: the 24 members after the seven of IUnknown and IDispatch.
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> vtable;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(-1, &ref), S_OK);
    ASSERT_EQ(dispatch->GetRefTypeInfo(ref, vtable.out()), S_OK);
    ASSERT_EQ(vtable->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attributes->wTypeFlags,
              TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(attributes->cFuncs, 24);
    EXPECT_EQ(attributes->cbSizeVft, 31 * sizeof(void*));
    vtable->ReleaseTypeAttr(attributes);

    ComPtr<ITypeInfo> base;
    ASSERT_EQ(vtable->GetRefTypeOfImplType(0, &ref), S_OK);
    ASSERT_EQ(vtable->GetRefTypeInfo(ref, base.out()), S_OK);
    ComPtr<ITypeLib> base_library;
    UINT index = 0;
    ASSERT_EQ(base->GetContainingTypeLib(base_library.out(), &index), S_OK);
    TLIBATTR* library_attributes = nullptr;
    ASSERT_EQ(base_library->GetLibAttr(&library_attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(library_attributes->guid, IID_StdOle));
    EXPECT_EQ(library_attributes->wMajorVerNum, 2);
    base_library->ReleaseTLibAttr(library_attributes);
    ASSERT_EQ(base->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_IDispatch));
    base->ReleaseTypeAttr(attributes);
}

TEST_F(TypeLibrary, EveryMemberInVtableOrderWithItsIdentifierAndTypes)
{
    ComPtr<ITypeInfo> dispatch, vtable;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID__Clicker, dispatch.out()), S_OK);
    HREFTYPE ref = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(-1, &ref), S_OK);
    ASSERT_EQ(dispatch->GetRefTypeInfo(ref, vtable.out()), S_OK);

    for (UINT i = 0; i < 24; ++i) {
        const Member& expected = members[i];
        SCOPED_TRACE(testing::Message() << "member " << i + 1);
        FUNCDESC* f = nullptr;
        ASSERT_EQ(vtable->GetFuncDesc(i, &f), S_OK);
        EXPECT_EQ(f->memid, expected.id);
        EXPECT_EQ(f->invkind, expected.kind);
        EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(f->callconv, CC_STDCALL);
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
        EXPECT_EQ(f->wFuncFlags, 0) << "no member is hidden, restricted, bindable or default";
        EXPECT_EQ(f->cParamsOpt, 0);
        EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));

        const int expected_params = (expected.parameter != VT_EMPTY) + (expected.result != VT_EMPTY);
        ASSERT_EQ(f->cParams, expected_params);
        if (expected.parameter != VT_EMPTY) {
            const ELEMDESC& p = f->lprgelemdescParam[0];
            const bool pointer = expected.parameter & 0x8000;
            const VARTYPE base = expected.parameter & 0x7FFF;
            if (pointer) {
                ASSERT_EQ(p.tdesc.vt, VT_PTR);
                EXPECT_EQ(p.tdesc.lptdesc->vt, base);
            } else {
                EXPECT_EQ(p.tdesc.vt, base);
            }
            EXPECT_EQ(p.paramdesc.wParamFlags, expected.parameter_flags);
        }
        if (expected.result != VT_EMPTY) {
            const ELEMDESC& r = f->lprgelemdescParam[f->cParams - 1];
            ASSERT_EQ(r.tdesc.vt, VT_PTR);
            EXPECT_EQ(r.tdesc.lptdesc->vt, expected.result);
            EXPECT_EQ(r.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
        }

        BSTR names[3] = {};
        UINT count = 0;
        ASSERT_EQ(vtable->GetNames(f->memid, names, 3, &count), S_OK);
        EXPECT_STREQ(names[0], expected.name);
        if (expected.id == 0x40030004 && expected.kind == INVOKE_PROPERTYGET) {
            EXPECT_STREQ(names[1], L"startport");
        }
        if (expected.id == 0x40030006 && expected.kind == INVOKE_PROPERTYGET) {
            EXPECT_STREQ(names[1], L"get_barcode");
        }
        for (BSTR& n : names)
            SysFreeString(n);

        BSTR doc = nullptr;
        DWORD context = 1;
        ASSERT_EQ(vtable->GetDocumentation(f->memid, nullptr, &doc, &context, nullptr), S_OK);
        EXPECT_EQ(doc, nullptr) << "no documentation string";
        EXPECT_EQ(context, 0u);
        SysFreeString(doc);
        vtable->ReleaseFuncDesc(f);
    }
}

} // namespace
} // namespace qmx::test
