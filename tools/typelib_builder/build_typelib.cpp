// Writes the Voskini15T type library from the member table, through the platform's
// type-library creation interfaces. Run at build time (under Wine):
//   build_typelib OUTPUT.tlb
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <vector>

#include "com_types/identity.h"
#include "com_types/member_table.h"
#include "com_types/owners.h"
#include "tools/one_argument.h"
#include "tools/typelib_builder/coclass_flags.h"

using com_types::ComPtr;
using com_types::Member;
using com_types::ValueType;

namespace {

void Check(HRESULT status, const char* step) {
  if (FAILED(status)) {
    std::fprintf(stderr, "build_typelib: %s failed (0x%08lX)\n", step, static_cast<unsigned long>(status));
    std::exit(1);
  }
}

// Type descriptions are linked through lpadesc/lptdesc pointers; these keep them alive.
struct TypeDescriptions {
  TYPEDESC text{{nullptr}, VT_BSTR};
  TYPEDESC textArray{{&text}, VT_SAFEARRAY};
  TYPEDESC variant{{nullptr}, VT_VARIANT};
  TYPEDESC boolean{{nullptr}, VT_BOOL};
  TYPEDESC integer{{nullptr}, VT_I4};
  TYPEDESC pointerTo[5] = {
      {{&text}, VT_PTR}, {{&textArray}, VT_PTR}, {{&variant}, VT_PTR}, {{&boolean}, VT_PTR}, {{&integer}, VT_PTR}};

  const TYPEDESC& Of(ValueType type) const {
    switch (type) {
      case ValueType::TextArray: return textArray;
      case ValueType::Variant: return variant;
      case ValueType::Boolean: return boolean;
      case ValueType::Long: return integer;
      default: return text;
    }
  }
  const TYPEDESC& PointerTo(ValueType type) const {
    switch (type) {
      case ValueType::TextArray: return pointerTo[1];
      case ValueType::Variant: return pointerTo[2];
      case ValueType::Boolean: return pointerTo[3];
      case ValueType::Long: return pointerTo[4];
      default: return pointerTo[0];
    }
  }
};

ELEMDESC Element(const TYPEDESC& type, USHORT flags) {
  ELEMDESC element{};
  element.tdesc = type;
  element.paramdesc.wParamFlags = flags;
  return element;
}

void AddMember(ICreateTypeInfo* interfaceInfo, const TypeDescriptions& types, UINT index, const Member& member) {
  std::vector<ELEMDESC> parameters;
  for (size_t i = 0; i < member.parameterCount; ++i) {
    const auto& parameter = member.parameters[i];
    parameters.push_back(parameter.byReference
                             ? Element(types.PointerTo(parameter.type), PARAMFLAG_FIN | PARAMFLAG_FOUT)
                             : Element(types.Of(parameter.type), PARAMFLAG_FIN));
  }
  if (member.result != ValueType::None) {
    parameters.push_back(Element(types.PointerTo(member.result), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL));
  }

  FUNCDESC function{};
  function.memid = member.dispid;
  function.funckind = FUNC_PUREVIRTUAL;
  function.invkind = member.kind;
  function.callconv = CC_STDCALL;
  function.cParams = static_cast<SHORT>(parameters.size());
  function.lprgelemdescParam = parameters.data();
  function.oVft = static_cast<SHORT>((com_types::kFirstMemberSlot + index) * sizeof(void*));
  function.elemdescFunc.tdesc.vt = VT_HRESULT;
  Check(interfaceInfo->AddFuncDesc(index, &function), "AddFuncDesc");

  // The member's name, then the names of its named parameters; the retvals stay unnamed.
  std::vector<LPOLESTR> names{const_cast<LPOLESTR>(member.name)};
  for (size_t i = 0; i < com_types::NamedParameterCount(member); ++i) {
    names.push_back(const_cast<LPOLESTR>(member.parameters[i].name));
  }
  Check(interfaceInfo->SetFuncAndParamNames(index, names.data(), static_cast<UINT>(names.size())),
        "SetFuncAndParamNames");
}

ComPtr<ICreateTypeInfo> CreateType(ICreateTypeLib2* library, const wchar_t* name, TYPEKIND kind, const GUID& id,
                                   UINT flags) {
  ComPtr<ICreateTypeInfo> info;
  Check(library->CreateTypeInfo(const_cast<LPOLESTR>(name), kind, info.Put()), "CreateTypeInfo");
  Check(info->SetGuid(id), "SetGuid");
  Check(info->SetVersion(com_types::kTypeMajorVersion, com_types::kTypeMinorVersion), "SetVersion");
  Check(info->SetTypeFlags(flags), "SetTypeFlags");
  return info;
}

void Implement(ICreateTypeInfo* info, ITypeInfo* implemented) {
  HREFTYPE reference = 0;
  Check(info->AddRefTypeInfo(implemented, &reference), "AddRefTypeInfo");
  Check(info->AddImplType(0, reference), "AddImplType");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const wchar_t* output = tools::OneArgument(argc, argv, "build_typelib OUTPUT.tlb");
  Check(CoInitialize(nullptr), "CoInitialize");
  {
    ComPtr<ICreateTypeLib2> library;
    Check(CreateTypeLib2(com_types::kTargetSystem, output, library.Put()), "CreateTypeLib2");
    Check(library->SetName(const_cast<LPOLESTR>(com_types::kLibraryName)), "SetName");
    Check(library->SetGuid(com_types::kLibraryId), "SetGuid");
    Check(library->SetVersion(com_types::kLibraryMajorVersion, com_types::kLibraryMinorVersion), "SetVersion");
    Check(library->SetLcid(0), "SetLcid");
    Check(library->SetLibFlags(com_types::kLibraryFlags), "SetLibFlags");

    ComPtr<ITypeLib> standardOle;
    Check(LoadTypeLib(L"stdole2.tlb", standardOle.Put()), "LoadTypeLib(stdole2)");
    ComPtr<ITypeInfo> dispatchInfo;
    Check(standardOle->GetTypeInfoOfGuid(IID_IDispatch, dispatchInfo.Put()), "GetTypeInfoOfGuid(IDispatch)");

    ComPtr<ICreateTypeInfo> interfaceInfo = CreateType(library.Get(), com_types::kInterfaceName, TKIND_INTERFACE,
                                                       com_types::kInterfaceId, com_types::kInterfaceTypeFlags);
    Implement(interfaceInfo.Get(), dispatchInfo.Get());
    const TypeDescriptions types;
    for (UINT i = 0; i < com_types::kMembers.size(); ++i)
      AddMember(interfaceInfo.Get(), types, i, com_types::kMembers[i]);
    Check(interfaceInfo->LayOut(), "LayOut(_Tolvane)");

    ComPtr<ICreateTypeInfo> classInfo = CreateType(library.Get(), com_types::kClassName, TKIND_COCLASS,
                                                   com_types::kClassId, com_types::kClassTypeFlags);
    ComPtr<ITypeInfo> interfaceTypeInfo;
    Check(interfaceInfo->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(interfaceTypeInfo.Put())),
          "QueryInterface(ITypeInfo)");
    Implement(classInfo.Get(), interfaceTypeInfo.Get());
    Check(classInfo->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT), "SetImplTypeFlags");
    Check(classInfo->LayOut(), "LayOut(Tolvane)");

    Check(library->SaveAllChanges(), "SaveAllChanges");
  }
  CoUninitialize();
  return typelib_builder::SetCoclassFlags(output, com_types::kClassTypeFlags) ? 0 : 1;
}
