// The type library Voskini15T as clients' tools read it back through LoadTypeLibEx:
// from the server DLL (resource TYPELIB 1), and from this test program's own copy, which
// serves IDispatch for the object linked in here. Both must describe the same interface.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "com_types/identity.h"
#include "com_types/member_table.h"
#include "com_types/owners.h"
#include "tests/support/com_apartment.h"
#include "tests/support/dispatch_calls.h"
#include "tests/support/program_folder.h"
#include "tests/support/test_support.h"

using com_types::ComPtr;
using com_types::kMembers;
using com_types::Member;
using com_types::UniqueBstr;
using com_types::ValueType;
using test_support::Text;
using test_support::TextOf;

namespace {

// The OLE Automation library that IDispatch is taken from.
constexpr GUID kStandardOleLibrary = {0x00020430, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

constexpr WORD kDualDispatchViewFlags =
    TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;  // 0x10d0
constexpr WORD kDualInterfaceFlags =
    TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;

std::wstring PathOfThisProgram() {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// Owners for the descriptions that type information lends out.
class TypeAttributes {
 public:
  explicit TypeAttributes(ITypeInfo* info) : info_(info) {
    if (FAILED(info_->GetTypeAttr(&attributes_))) attributes_ = nullptr;
  }
  TypeAttributes(const TypeAttributes&) = delete;
  TypeAttributes& operator=(const TypeAttributes&) = delete;
  ~TypeAttributes() {
    if (attributes_) info_->ReleaseTypeAttr(attributes_);
  }
  const TYPEATTR* operator->() const { return attributes_; }
  explicit operator bool() const { return attributes_ != nullptr; }

 private:
  ITypeInfo* info_;
  TYPEATTR* attributes_ = nullptr;
};

class FunctionDescription {
 public:
  FunctionDescription(ITypeInfo* info, UINT index) : info_(info) {
    if (FAILED(info_->GetFuncDesc(index, &description_))) description_ = nullptr;
  }
  FunctionDescription(const FunctionDescription&) = delete;
  FunctionDescription& operator=(const FunctionDescription&) = delete;
  ~FunctionDescription() {
    if (description_) info_->ReleaseFuncDesc(description_);
  }
  const FUNCDESC* operator->() const { return description_; }
  const FUNCDESC& operator*() const { return *description_; }
  explicit operator bool() const { return description_ != nullptr; }

 private:
  ITypeInfo* info_;
  FUNCDESC* description_ = nullptr;
};

// ---- How a description reads --------------------------------------------------------

std::wstring Describe(const TYPEDESC& type) {
  switch (type.vt) {
    case VT_BSTR: return L"BSTR";
    case VT_VARIANT: return L"VARIANT";
    case VT_BOOL: return L"VARIANT_BOOL";
    case VT_I4: return L"long";
    case VT_HRESULT: return L"HRESULT";
    case VT_VOID: return L"void";
    case VT_PTR: return Describe(*type.lptdesc) + L"*";
    case VT_SAFEARRAY: return L"SAFEARRAY(" + Describe(*type.lptdesc) + L")";
    default: return L"vt" + std::to_wstring(type.vt);
  }
}

std::wstring Describe(ValueType type) {
  switch (type) {
    case ValueType::Text: return L"BSTR";
    case ValueType::TextArray: return L"SAFEARRAY(BSTR)";
    case ValueType::Variant: return L"VARIANT";
    case ValueType::Boolean: return L"VARIANT_BOOL";
    case ValueType::Long: return L"long";
    case ValueType::None: return L"void";
  }
  return L"?";
}

std::wstring DescribeParameterFlags(USHORT flags) {
  switch (flags) {
    case PARAMFLAG_FIN: return L"[in]";
    case PARAMFLAG_FIN | PARAMFLAG_FOUT: return L"[in, out]";
    case PARAMFLAG_FOUT | PARAMFLAG_FRETVAL: return L"[out, retval]";
    default: return L"[flags " + std::to_wstring(flags) + L"]";
  }
}

std::wstring DescribeInvokeKind(INVOKEKIND kind) {
  switch (kind) {
    case INVOKE_PROPERTYGET: return L"propget ";
    case INVOKE_PROPERTYPUT: return L"propput ";
    case INVOKE_PROPERTYPUTREF: return L"propputref ";
    default: return L"";
  }
}

std::wstring Hex(DISPID id) {
  wchar_t text[16] = {};
  swprintf(text, 16, L"0x%08lx", static_cast<unsigned long>(id));
  return text;
}

// The member's name, then the names its parameters carry (unnamed ones are not listed).
std::vector<std::wstring> NamesOf(ITypeInfo* info, MEMBERID id) {
  BSTR names[8] = {};
  UINT count = 0;
  EXPECT_EQ(info->GetNames(id, names, 8, &count), S_OK);
  std::vector<std::wstring> listed;
  for (UINT i = 0; i < count; ++i) listed.push_back(TextOf(UniqueBstr(names[i]).Get()).value_or(L"(null)"));
  return listed;
}

// "slot 10: ReadValue 0x60030003 ([in, out] BSTR* Section, ..., [out, retval] BSTR*)"
std::wstring Signature(ITypeInfo* info, const FUNCDESC& function) {
  const std::vector<std::wstring> names = NamesOf(info, function.memid);
  std::wstring text = L"slot " + std::to_wstring(function.oVft / static_cast<SHORT>(sizeof(void*))) + L": " +
                      DescribeInvokeKind(function.invkind) + (names.empty() ? L"?" : names[0]) + L" " +
                      Hex(function.memid) + L" (";
  for (SHORT i = 0; i < function.cParams; ++i) {
    const ELEMDESC& parameter = function.lprgelemdescParam[i];
    if (i > 0) text += L", ";
    text += DescribeParameterFlags(parameter.paramdesc.wParamFlags) + L" " + Describe(parameter.tdesc);
    // A property put's value is never named through GetNames: its names are the get's.
    if (function.invkind != INVOKE_PROPERTYPUT && static_cast<size_t>(i) + 1 < names.size()) {
      text += L" " + names[i + 1];
    }
  }
  return text + L")";
}

struct Documentation {
  Text name;
  Text docString;
  DWORD helpContext = 0;
  Text helpFile;
};

Documentation DocumentationOf(ITypeInfo* info, MEMBERID id) {
  BSTR name = nullptr, docString = nullptr, helpFile = nullptr;
  Documentation documentation;
  EXPECT_EQ(info->GetDocumentation(id, &name, &docString, &documentation.helpContext, &helpFile), S_OK);
  const UniqueBstr ownedName(name), ownedDoc(docString), ownedFile(helpFile);
  documentation.name = TextOf(ownedName.Get());
  documentation.docString = TextOf(ownedDoc.Get());
  documentation.helpFile = TextOf(ownedFile.Get());
  return documentation;
}

// Help strings, contexts, files and help DLLs: none anywhere. The help string is read
// through GetDocumentation, which reads the same field as GetDocumentation2 for a
// member; for a whole type Wine's GetDocumentation2 answers with the type's name.
void ExpectNoHelp(ITypeInfo* info, MEMBERID id, const std::string& where) {
  SCOPED_TRACE(where);
  const Documentation documentation = DocumentationOf(info, id);
  EXPECT_EQ(documentation.docString, std::nullopt);
  EXPECT_EQ(documentation.helpContext, 0u);
  EXPECT_EQ(documentation.helpFile, std::nullopt);
  ComPtr<ITypeInfo2> info2;
  ASSERT_EQ(info->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(info2.Put())), S_OK);
  BSTR helpString = nullptr, helpDll = nullptr;
  DWORD helpStringContext = 0;
  EXPECT_EQ(info2->GetDocumentation2(id, 0, &helpString, &helpStringContext, &helpDll), S_OK);
  const UniqueBstr ownedHelpString(helpString);
  if (id != MEMBERID_NIL) {
    EXPECT_TRUE(ownedHelpString.IsAbsent());
  }
  EXPECT_EQ(TextOf(UniqueBstr(helpDll).Get()), std::nullopt);
  EXPECT_EQ(helpStringContext, 0u);
}

// ---- The fixture: one library, loaded from a module file ------------------------------

struct LibraryFile {
  const char* label;
  std::wstring (*path)();
};

std::wstring ServerDll() { return test_support::ServerDllPath(); }

std::ostream& operator<<(std::ostream& out, const LibraryFile& file) { return out << file.label; }

const LibraryFile kServerDll{"ServerDll", &ServerDll};
const LibraryFile kThisProgram{"ThisProgram", &PathOfThisProgram};

class TypeLibrary : public test_support::ComApartment, public ::testing::WithParamInterface<LibraryFile> {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ComApartment::SetUp());
    ASSERT_EQ(LoadTypeLibEx(GetParam().path().c_str(), REGKIND_NONE, library_.Put()), S_OK);
    ASSERT_EQ(library_->GetTypeInfoOfGuid(com_types::kInterfaceId, dispatch_.Put()), S_OK);
    HREFTYPE functionTable = 0;
    ASSERT_EQ(dispatch_->GetRefTypeOfImplType(-1, &functionTable), S_OK);
    ASSERT_EQ(dispatch_->GetRefTypeInfo(functionTable, functionTable_.Put()), S_OK);
  }
  void TearDown() override {
    functionTable_ = {};
    dispatch_ = {};
    library_ = {};
    ComApartment::TearDown();
  }

  ComPtr<ITypeLib> library_;
  ComPtr<ITypeInfo> dispatch_;       // _Tolvane as IDispatch callers see it
  ComPtr<ITypeInfo> functionTable_;  // _Tolvane's function table (early binding)
};

// The type that `info`'s impltype `index` refers to.
ComPtr<ITypeInfo> ImplementedType(ITypeInfo* info, UINT index) {
  HREFTYPE reference = 0;
  ComPtr<ITypeInfo> implemented;
  EXPECT_EQ(info->GetRefTypeOfImplType(index, &reference), S_OK);
  EXPECT_EQ(info->GetRefTypeInfo(reference, implemented.Put()), S_OK);
  return implemented;
}

void ExpectIDispatchFromStandardOle(ITypeInfo* info) {
  ComPtr<ITypeInfo> base = ImplementedType(info, 0);
  ASSERT_TRUE(base);
  EXPECT_EQ(DocumentationOf(base.Get(), MEMBERID_NIL).name, L"IDispatch");
  const TypeAttributes attributes(base.Get());
  ASSERT_TRUE(attributes);
  EXPECT_EQ(attributes->guid, IID_IDispatch);

  ComPtr<ITypeLib> container;
  UINT index = 0;
  ASSERT_EQ(base->GetContainingTypeLib(container.Put(), &index), S_OK);
  TLIBATTR* library = nullptr;
  ASSERT_EQ(container->GetLibAttr(&library), S_OK);
  EXPECT_EQ(library->guid, kStandardOleLibrary);
  EXPECT_EQ(library->wMajorVerNum, 2);
  EXPECT_EQ(library->wMinorVerNum, 0);
  container->ReleaseTLibAttr(library);
}

// ---- The library ----------------------------------------------------------------------

TEST_P(TypeLibrary, IsVoskini15TVersion6LanguageNeutralForItsTargetWithoutFlags) {
  TLIBATTR* attributes = nullptr;
  ASSERT_EQ(library_->GetLibAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->guid, com_types::kLibraryId);
  EXPECT_EQ(attributes->lcid, 0u);
  // The library describes the function table of the DLL it is built into.
  EXPECT_EQ(attributes->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  EXPECT_EQ(attributes->wMajorVerNum, 6);
  EXPECT_EQ(attributes->wMinorVerNum, 0);
  // The loader itself marks a library read from a file; nothing else may be set.
  EXPECT_EQ(attributes->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, 0);
  library_->ReleaseTLibAttr(attributes);

  BSTR name = nullptr;
  ASSERT_EQ(library_->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(TextOf(UniqueBstr(name).Get()), L"Voskini15T");
}

TEST_P(TypeLibrary, CarriesNoHelpOnTheLibraryTypesOrMembers) {
  BSTR name = nullptr, docString = nullptr, helpFile = nullptr;
  DWORD helpContext = 1;
  ASSERT_EQ(library_->GetDocumentation(-1, &name, &docString, &helpContext, &helpFile), S_OK);
  const UniqueBstr ownedName(name), ownedDoc(docString), ownedFile(helpFile);
  EXPECT_TRUE(ownedDoc.IsAbsent());
  EXPECT_TRUE(ownedFile.IsAbsent());
  EXPECT_EQ(helpContext, 0u);

  ComPtr<ITypeLib2> library2;
  ASSERT_EQ(library_->QueryInterface(IID_ITypeLib2, reinterpret_cast<void**>(library2.Put())), S_OK);
  BSTR helpString = nullptr, helpDll = nullptr;
  DWORD helpStringContext = 1;
  ASSERT_EQ(library2->GetDocumentation2(-1, 0, &helpString, &helpStringContext, &helpDll), S_OK);
  EXPECT_TRUE(UniqueBstr(helpString).IsAbsent());
  EXPECT_TRUE(UniqueBstr(helpDll).IsAbsent());
  EXPECT_EQ(helpStringContext, 0u);

  for (UINT index = 0; index < library_->GetTypeInfoCount(); ++index) {
    ComPtr<ITypeInfo> type;
    ASSERT_EQ(library_->GetTypeInfo(index, type.Put()), S_OK);
    ExpectNoHelp(type.Get(), MEMBERID_NIL, "type " + std::to_string(index));
  }
  // The members of both views; the dispatch view's first seven are IDispatch's own.
  for (ITypeInfo* view : {dispatch_.Get(), functionTable_.Get()}) {
    ExpectNoHelp(view, MEMBERID_NIL, "_Tolvane view");
    const TypeAttributes attributes(view);
    ASSERT_TRUE(attributes);
    const UINT first = attributes->typekind == TKIND_DISPATCH ? com_types::kFirstMemberSlot : 0;
    ASSERT_EQ(attributes->cFuncs - first, kMembers.size());
    for (UINT i = first; i < attributes->cFuncs; ++i) {
      const FunctionDescription function(view, i);
      ASSERT_TRUE(function);
      ExpectNoHelp(view, function->memid, "function " + std::to_string(i));
    }
  }
}

// ---- The two types --------------------------------------------------------------------

TEST_P(TypeLibrary, HoldsExactlyTheInterfaceThenTheClass) {
  ASSERT_EQ(library_->GetTypeInfoCount(), 2u);
  TYPEKIND kinds[2] = {};
  ASSERT_EQ(library_->GetTypeInfoType(0, &kinds[0]), S_OK);
  ASSERT_EQ(library_->GetTypeInfoType(1, &kinds[1]), S_OK);
  EXPECT_EQ(kinds[0], TKIND_DISPATCH);
  EXPECT_EQ(kinds[1], TKIND_COCLASS);

  ComPtr<ITypeInfo> first, second;
  ASSERT_EQ(library_->GetTypeInfo(0, first.Put()), S_OK);
  ASSERT_EQ(library_->GetTypeInfo(1, second.Put()), S_OK);
  EXPECT_EQ(DocumentationOf(first.Get(), MEMBERID_NIL).name, L"_Tolvane");
  EXPECT_EQ(DocumentationOf(second.Get(), MEMBERID_NIL).name, L"Tolvane");
  EXPECT_EQ(TypeAttributes(first.Get())->guid, com_types::kInterfaceId);
  EXPECT_EQ(TypeAttributes(second.Get())->guid, com_types::kClassId);
}

TEST_P(TypeLibrary, TheInterfaceIsAHiddenNonextensibleDualOnIDispatch) {
  {
    const TypeAttributes attributes(dispatch_.Get());
    ASSERT_TRUE(attributes);
    EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attributes->wTypeFlags, kDualDispatchViewFlags);
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->cImplTypes, 1);
    EXPECT_EQ(attributes->cVars, 0);  // the properties exist only as accessors
    // IUnknown's and IDispatch's seven, then the fourteen members.
    EXPECT_EQ(attributes->cFuncs, 7 + kMembers.size());
  }
  ExpectIDispatchFromStandardOle(dispatch_.Get());

  const TypeAttributes attributes(functionTable_.Get());
  ASSERT_TRUE(attributes);
  EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
  EXPECT_EQ(attributes->guid, com_types::kInterfaceId);
  EXPECT_EQ(attributes->wTypeFlags & kDualInterfaceFlags, kDualInterfaceFlags);
  EXPECT_EQ(attributes->wTypeFlags & ~(kDualInterfaceFlags | TYPEFLAG_FDISPATCHABLE), 0);
  EXPECT_EQ(attributes->wMajorVerNum, 1);
  EXPECT_EQ(attributes->wMinorVerNum, 0);
  EXPECT_EQ(attributes->cFuncs, kMembers.size());
  EXPECT_EQ(attributes->cVars, 0);
  EXPECT_EQ(attributes->cbSizeVft, static_cast<WORD>(21 * sizeof(void*)));
  ExpectIDispatchFromStandardOle(functionTable_.Get());
}

TEST_P(TypeLibrary, TheClassIsCreatableOnlyWithTheInterfaceAsItsDefault) {
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(library_->GetTypeInfoOfGuid(com_types::kClassId, coclass.Put()), S_OK);
  {
    const TypeAttributes attributes(coclass.Get());
    ASSERT_TRUE(attributes);
    EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
    EXPECT_EQ(attributes->wTypeFlags, TYPEFLAG_FCANCREATE);
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->cImplTypes, 1);
    EXPECT_EQ(attributes->cFuncs, 0);
    EXPECT_EQ(attributes->cVars, 0);
  }
  INT implementationFlags = -1;
  ASSERT_EQ(coclass->GetImplTypeFlags(0, &implementationFlags), S_OK);
  EXPECT_EQ(implementationFlags, IMPLTYPEFLAG_FDEFAULT);  // and so no source interface

  ComPtr<ITypeInfo> implemented = ImplementedType(coclass.Get(), 0);
  ASSERT_TRUE(implemented);
  EXPECT_EQ(DocumentationOf(implemented.Get(), MEMBERID_NIL).name, L"_Tolvane");
  EXPECT_EQ(TypeAttributes(implemented.Get())->guid, com_types::kInterfaceId);
}

// ---- The members ----------------------------------------------------------------------

// Stated by hand, apart from the member table: what a client's tools show for each slot.
// The names and DISPIDs come from the tests' own table of them.
TEST_P(TypeLibrary, PublishesTheFourteenMembersWithTheseSignatures) {
  using namespace dispatch_calls;
  auto slot = [](int number, const wchar_t* kind, const MemberName& member, const std::wstring& parameters) {
    return L"slot " + std::to_wstring(number) + L": " + kind + member.name + L" " + Hex(member.dispid) + L" (" +
           parameters + L")";
  };
  const std::vector<std::wstring> expected = {
      slot(7, L"propget ", kIniFileName, L"[out, retval] BSTR*"),
      slot(8, L"propput ", kIniFileName, L"[in, out] BSTR*"),
      slot(9, L"propget ", kLastErrorA, L"[out, retval] BSTR*"),
      slot(10, L"", kReadValue, L"[in, out] BSTR* Section, [in, out] BSTR* Key, [out, retval] BSTR*"),
      slot(11, L"", kReadSection,
           L"[in, out] BSTR* Section, [in, out] SAFEARRAY(BSTR)* Keys, [in, out] SAFEARRAY(BSTR)* Values, "
           L"[out, retval] VARIANT*"),
      slot(12, L"", kCreateKeyAndValue,
           L"[in] BSTR Section, [in] BSTR Key, [in] BSTR Value, [out, retval] VARIANT_BOOL*"),
      slot(13, L"", kWriteValue,
           L"[in, out] BSTR* Section, [in, out] BSTR* Key, [in, out] BSTR* Value, [out, retval] VARIANT_BOOL*"),
      slot(14, L"propget ", kSectionsCount, L"[out, retval] long*"),
      slot(15, L"", kSectionAdd, L"[in] BSTR Section, [out, retval] VARIANT_BOOL*"),
      slot(16, L"", kSectionWriteAtOnce,
           L"[in, out] BSTR* Section, [in, out] SAFEARRAY(BSTR)* Keys, [in, out] SAFEARRAY(BSTR)* Values, "
           L"[out, retval] long*"),
      slot(17, L"", kRenameKey, L"[in] BSTR Section, [in] BSTR CurrentKeyName, [in] BSTR NewKeyName"),
      slot(18, L"", kRenameSection, L"[in] BSTR CurrentSectionName, [in] BSTR NewSectionName"),
      slot(19, L"", kDeleteSection, L"[in] BSTR Section"),
      slot(20, L"", kDeleteKey, L"[in] BSTR Section, [in] BSTR Key"),
  };
  std::vector<std::wstring> published;
  for (UINT i = 0; i < TypeAttributes(functionTable_.Get())->cFuncs; ++i) {
    const FunctionDescription function(functionTable_.Get(), i);
    ASSERT_TRUE(function);
    published.push_back(Signature(functionTable_.Get(), *function));
  }
  EXPECT_EQ(published, expected);
}

TEST_P(TypeLibrary, DescribesEveryMemberAsTheMemberTableStatesIt) {
  ASSERT_EQ(TypeAttributes(functionTable_.Get())->cFuncs, kMembers.size());
  for (UINT i = 0; i < kMembers.size(); ++i) {
    const Member& member = kMembers[i];
    SCOPED_TRACE(testing::Message() << "member " << i);
    const FunctionDescription function(functionTable_.Get(), i);
    ASSERT_TRUE(function);
    EXPECT_EQ(function->memid, member.dispid);
    EXPECT_EQ(function->invkind, member.kind);
    EXPECT_EQ(function->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(function->callconv, CC_STDCALL);
    EXPECT_EQ(function->oVft, static_cast<SHORT>((com_types::kFirstMemberSlot + i) * sizeof(void*)));
    EXPECT_EQ(function->wFuncFlags, 0);
    EXPECT_EQ(function->cParamsOpt, 0);
    EXPECT_EQ(Describe(function->elemdescFunc.tdesc), L"HRESULT");

    const bool hasResult = member.result != ValueType::None;
    ASSERT_EQ(static_cast<size_t>(function->cParams), member.parameterCount + (hasResult ? 1 : 0));
    for (size_t p = 0; p < member.parameterCount; ++p) {
      const auto& parameter = member.parameters[p];
      const ELEMDESC& described = function->lprgelemdescParam[p];
      EXPECT_EQ(Describe(described.tdesc), Describe(parameter.type) + (parameter.byReference ? L"*" : L""));
      EXPECT_EQ(described.paramdesc.wParamFlags,
                parameter.byReference ? PARAMFLAG_FIN | PARAMFLAG_FOUT : PARAMFLAG_FIN);
    }
    if (hasResult) {
      const ELEMDESC& result = function->lprgelemdescParam[member.parameterCount];
      EXPECT_EQ(Describe(result.tdesc), Describe(member.result) + L"*");
      EXPECT_EQ(result.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    }

    // Retvals and the put's value are unnamed; the get and put of IniFileName share one
    // DISPID, so GetNames answers for the get there.
    const Member& named = i > 0 && kMembers[i - 1].dispid == member.dispid ? kMembers[i - 1] : member;
    std::vector<std::wstring> expectedNames{named.name};
    for (size_t p = 0; p < com_types::NamedParameterCount(named); ++p) {
      expectedNames.push_back(named.parameters[p].name);
    }
    EXPECT_EQ(NamesOf(functionTable_.Get(), member.dispid), expectedNames);
  }
}

// Late-bound clients read the same members, after IUnknown's and IDispatch's, with the
// result as the call's own type.
TEST_P(TypeLibrary, TheDispatchViewListsTheSameMembersAfterTheInheritedOnes) {
  ASSERT_EQ(TypeAttributes(dispatch_.Get())->cFuncs, com_types::kFirstMemberSlot + kMembers.size());
  for (UINT i = 0; i < kMembers.size(); ++i) {
    const Member& member = kMembers[i];
    SCOPED_TRACE(testing::Message() << "member " << i);
    const FunctionDescription function(dispatch_.Get(), static_cast<UINT>(com_types::kFirstMemberSlot + i));
    ASSERT_TRUE(function);
    EXPECT_EQ(function->funckind, FUNC_DISPATCH);
    EXPECT_EQ(function->memid, member.dispid);
    EXPECT_EQ(function->invkind, member.kind);
    EXPECT_EQ(function->wFuncFlags, 0);
    EXPECT_EQ(function->cParamsOpt, 0);
    EXPECT_EQ(static_cast<size_t>(function->cParams), member.parameterCount);
    EXPECT_EQ(Describe(function->elemdescFunc.tdesc), Describe(member.result));
    EXPECT_EQ(DocumentationOf(dispatch_.Get(), member.dispid).name, member.name);
  }
}

TEST_P(TypeLibrary, ThePutValueHasNoNameToPassItBy) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"IniFileName"), const_cast<LPOLESTR>(L"New_FileName")};
  MEMBERID ids[2] = {};
  EXPECT_EQ(dispatch_->GetIDsOfNames(names, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], dispatch_calls::kIniFileName.dispid);
}

INSTANTIATE_TEST_SUITE_P(FromModuleFile, TypeLibrary, testing::Values(kServerDll, kThisProgram),
                         [](const testing::TestParamInfo<LibraryFile>& info) { return info.param.label; });

}  // namespace
