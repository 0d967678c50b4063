// VoskTolvane.h: the interface in the two forms of the platform's generated headers (a
// C++ abstract class, and for C a function table with call macros), and the identifiers
// declared by DEFINE_GUID. Only platform headers are included, and whatever one compiler
// lacks (__declspec(uuid), __CRT_UUID_DECL) is left to the platform's own macros.
#include <sstream>
#include <string>
#include <vector>

#include "com_types/identity.h"
#include "com_types/member_table.h"
#include "tools/client_files/declaration_parts.h"

namespace client_files {

namespace {

// One function-table entry as C declares it.
struct Entry {
  std::string result;
  std::string name;
  std::vector<std::string> parameters;  // "BSTR *Section"
  std::vector<std::string> names;       // "Section"
};

// The entries of IUnknown and IDispatch, as the platform's headers declare them.
const std::vector<Entry>& InheritedEntries() {
  static const std::vector<Entry> entries = {
      {"HRESULT", "QueryInterface", {"REFIID riid", "void **ppvObject"}, {"riid", "ppvObject"}},
      {"ULONG", "AddRef", {}, {}},
      {"ULONG", "Release", {}, {}},
      {"HRESULT", "GetTypeInfoCount", {"UINT *pctinfo"}, {"pctinfo"}},
      {"HRESULT", "GetTypeInfo", {"UINT iTInfo", "LCID lcid", "ITypeInfo **ppTInfo"}, {"iTInfo", "lcid", "ppTInfo"}},
      {"HRESULT",
       "GetIDsOfNames",
       {"REFIID riid", "LPOLESTR *rgszNames", "UINT cNames", "LCID lcid", "DISPID *rgDispId"},
       {"riid", "rgszNames", "cNames", "lcid", "rgDispId"}},
      {"HRESULT",
       "Invoke",
       {"DISPID dispIdMember", "REFIID riid", "LCID lcid", "WORD wFlags", "DISPPARAMS *pDispParams",
        "VARIANT *pVarResult", "EXCEPINFO *pExcepInfo", "UINT *puArgErr"},
       {"dispIdMember", "riid", "lcid", "wFlags", "pDispParams", "pVarResult", "pExcepInfo", "puArgErr"}},
  };
  return entries;
}

std::string CType(const Argument& argument) {
  const std::string type = SpellingOf(argument.type).c;
  return argument.passing == Argument::Passing::ByValue ? type : type + "*";
}

Entry EntryOf(const com_types::Member& member) {
  Entry entry{"HRESULT", EntryName(member), {}, {}};
  for (const Argument& argument : ArgumentsOf(member)) {
    entry.parameters.push_back(CType(argument) + argument.name);
    entry.names.push_back(argument.name);
  }
  return entry;
}

std::vector<Entry> OwnEntries() {
  std::vector<Entry> entries;
  for (const com_types::Member& member : com_types::kMembers) entries.push_back(EntryOf(member));
  return entries;
}

std::string Joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string joined;
  for (const std::string& part : parts) joined += (joined.empty() ? "" : separator) + part;
  return joined;
}

void WriteCppClass(std::ostream& out, const std::string& interfaceName, const GUID& interfaceId) {
  out << "MIDL_INTERFACE(\"" << GuidText(interfaceId) << "\")\n" << interfaceName << " : public IDispatch\n{\n";
  for (const Entry& entry : OwnEntries()) {
    out << "    virtual " << entry.result << " STDMETHODCALLTYPE " << entry.name << "(";
    out << (entry.parameters.empty() ? "void" : "\n        " + Joined(entry.parameters, ",\n        "));
    out << ") = 0;\n\n";
  }
  out << "};\n"
      << "#ifdef __CRT_UUID_DECL\n"
      << "__CRT_UUID_DECL(" << interfaceName << ", " << GuidArguments(interfaceId) << ")\n"
      << "#endif\n";
}

void WriteCTable(std::ostream& out, const std::string& interfaceName) {
  const std::vector<Entry> own = OwnEntries();
  const std::vector<std::pair<const char*, std::vector<Entry>>> groups = {
      {"IUnknown", {InheritedEntries().begin(), InheritedEntries().begin() + 3}},
      {"IDispatch", {InheritedEntries().begin() + 3, InheritedEntries().end()}},
      {interfaceName.c_str(), own}};

  out << "typedef struct " << interfaceName << "Vtbl {\n    BEGIN_INTERFACE\n\n";
  for (const auto& [group, entries] : groups) {
    out << "    /*** " << group << " methods ***/\n";
    for (const Entry& entry : entries) {
      std::vector<std::string> parameters{interfaceName + " *This"};
      parameters.insert(parameters.end(), entry.parameters.begin(), entry.parameters.end());
      out << "    " << entry.result << " (STDMETHODCALLTYPE *" << entry.name << ")(\n        "
          << Joined(parameters, ",\n        ") << ");\n\n";
    }
  }
  out << "    END_INTERFACE\n} " << interfaceName << "Vtbl;\n\n"
      << "interface " << interfaceName << " {\n    CONST_VTBL " << interfaceName << "Vtbl* lpVtbl;\n};\n\n";

  out << "#ifdef COBJMACROS\n";
  for (const auto& [group, entries] : groups) {
    out << "/*** " << group << " methods ***/\n";
    for (const Entry& entry : entries) {
      std::vector<std::string> names{"This"};
      names.insert(names.end(), entry.names.begin(), entry.names.end());
      const std::string arguments = Joined(names, ",");
      out << "#define " << interfaceName << "_" << entry.name << "(" << arguments << ") ((This)->lpVtbl->" << entry.name
          << "(" << arguments << "))\n";
    }
  }
  out << "#endif\n";
}

}  // namespace

std::string ClientHeader() {
  const std::string library = Narrow(com_types::kLibraryName);
  const std::string interfaceName = Narrow(com_types::kInterfaceName);
  const std::string className = Narrow(com_types::kClassName);
  std::ostringstream out;
  out << "/* VoskTolvane.h: the class " << className << " of VoskTolvane.dll, type library " << library << " "
      << com_types::kLibraryMajorVersion << "." << com_types::kLibraryMinorVersion << ",\n"
      << " * for C and C++ clients. Written from the component's description of its interface,\n"
      << " * as are VoskTolvane.idl and the type library; do not edit.\n"
      << " *\n"
      << " * C++: " << interfaceName << " is an abstract class; __uuidof(" << interfaceName << ") and __uuidof("
      << className << ") work\n"
      << " * with Visual C++ (__declspec(uuid)) and with MinGW-w64 (__CRT_UUID_DECL).\n"
      << " * C (or C++ with CINTERFACE): a function table; define COBJMACROS before including\n"
      << " * this header for the call macros, " << interfaceName << "_ReadValue(This, Section, Key, Result) and\n"
      << " * the others.\n"
      << " * CLSID_" << className << ", IID_" << interfaceName << " and LIBID_" << library
      << " are declared here and defined in the\n"
      << " * one source file that includes <initguid.h> before this header.\n"
      << " */\n"
      << "#ifndef VOSKTOLVANE_H\n#define VOSKTOLVANE_H\n\n"
      << "#include <windows.h>\n#include <ole2.h>\n#include <oaidl.h>\n\n"
      << "#ifndef __" << interfaceName << "_FWD_DEFINED__\n#define __" << interfaceName << "_FWD_DEFINED__\n"
      << "typedef interface " << interfaceName << " " << interfaceName << ";\n#endif\n\n"
      << "#ifdef __cplusplus\nextern \"C\" {\n#endif\n\n"
      << "DEFINE_GUID(LIBID_" << library << ", " << GuidArguments(com_types::kLibraryId) << ");\n\n"
      << "#ifndef __" << interfaceName << "_INTERFACE_DEFINED__\n#define __" << interfaceName
      << "_INTERFACE_DEFINED__\n\n"
      << "DEFINE_GUID(IID_" << interfaceName << ", " << GuidArguments(com_types::kInterfaceId) << ");\n\n"
      << "#if defined(__cplusplus) && !defined(CINTERFACE)\n";
  WriteCppClass(out, interfaceName, com_types::kInterfaceId);
  out << "#else\n";
  WriteCTable(out, interfaceName);
  out << "#endif\n\n#endif /* __" << interfaceName << "_INTERFACE_DEFINED__ */\n\n"
      << "DEFINE_GUID(CLSID_" << className << ", " << GuidArguments(com_types::kClassId) << ");\n\n"
      << "#ifdef __cplusplus\n"
      << "class DECLSPEC_UUID(\"" << GuidText(com_types::kClassId) << "\") " << className << ";\n"
      << "#ifdef __CRT_UUID_DECL\n"
      << "__CRT_UUID_DECL(" << className << ", " << GuidArguments(com_types::kClassId) << ")\n"
      << "#endif\n#endif\n\n"
      << "#ifdef __cplusplus\n}\n#endif\n\n"
      << "#endif /* VOSKTOLVANE_H */\n";
  return out.str();
}

}  // namespace client_files
