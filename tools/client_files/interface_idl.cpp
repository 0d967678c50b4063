// VoskTolvane.idl: the library in the platform's interface definition language, for
// clients whose tools start from IDL (MIDL, widl). It describes the same library as the
// one built into the DLL.
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "com_types/identity.h"
#include "com_types/member_table.h"
#include "tools/client_files/declaration_parts.h"

namespace client_files {

namespace {

std::string IdlType(const Argument& argument) {
  const std::string type = SpellingOf(argument.type).idl;
  return argument.passing == Argument::Passing::ByValue ? type : type + "*";
}

std::string Direction(const Argument& argument) {
  switch (argument.passing) {
    case Argument::Passing::ByValue: return "[in] ";
    case Argument::Passing::ByReference: return "[in, out] ";
    case Argument::Passing::Result: return "[out, retval] ";
  }
  return "";
}

std::string InvokeKind(const com_types::Member& member) {
  switch (member.kind) {
    case INVOKE_PROPERTYGET: return ", propget";
    case INVOKE_PROPERTYPUT: return ", propput";
    default: return "";
  }
}

std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", value);
  return text;
}

std::string Version(WORD major, WORD minor) {
  return "version(" + std::to_string(major) + "." + std::to_string(minor) + ")";
}

// The attributes of the interface or the coclass: its identity and version, then those that
// stand for its type flags. A flag without an attribute here would be lost from the IDL, so
// it stops the build instead.
std::vector<std::string> TypeAttributes(TYPEKIND kind, const GUID& id, WORD flags) {
  std::vector<std::string> attributes;
  if (kind == TKIND_INTERFACE) attributes.push_back("odl");
  attributes.push_back("uuid(" + GuidText(id) + ")");
  attributes.push_back(Version(com_types::kTypeMajorVersion, com_types::kTypeMinorVersion));
  struct Spelling {
    WORD flag;
    const char* attribute;
  };
  constexpr Spelling kSpellings[] = {{TYPEFLAG_FHIDDEN, "hidden"},
                                     {TYPEFLAG_FDUAL, "dual"},
                                     {TYPEFLAG_FNONEXTENSIBLE, "nonextensible"},
                                     {TYPEFLAG_FOLEAUTOMATION, "oleautomation"}};
  for (const Spelling& spelling : kSpellings) {
    if (flags & spelling.flag) attributes.push_back(spelling.attribute);
    flags &= ~spelling.flag;
  }
  // A coclass is creatable unless the IDL says otherwise.
  if (kind == TKIND_COCLASS) {
    if (!(flags & TYPEFLAG_FCANCREATE)) attributes.push_back("noncreatable");
    flags &= ~TYPEFLAG_FCANCREATE;
  }
  if (flags != 0) {
    std::fprintf(stderr, "write_client_files: type flags 0x%X have no IDL attribute here\n", flags);
    std::exit(1);
  }
  return attributes;
}

void WriteAttributes(std::ostream& out, const std::string& indent, const std::vector<std::string>& attributes) {
  out << indent << "[\n";
  for (size_t i = 0; i < attributes.size(); ++i) {
    out << indent << "  " << attributes[i] << (i + 1 < attributes.size() ? ",\n" : "\n");
  }
  out << indent << "]\n";
}

}  // namespace

std::string InterfaceIdl() {
  const std::string interfaceName = Narrow(com_types::kInterfaceName);
  std::ostringstream out;
  out << "// VoskTolvane.idl: the type library " << Narrow(com_types::kLibraryName)
      << " of VoskTolvane.dll. Written from the component's\n"
      << "// description of its interface, as are VoskTolvane.h and the type library built into\n"
      << "// the DLL; do not edit.\n\n"
      << "import \"oaidl.idl\";\n\n";
  WriteAttributes(out, "",
                  {"uuid(" + GuidText(com_types::kLibraryId) + ")",
                   Version(com_types::kLibraryMajorVersion, com_types::kLibraryMinorVersion)});
  out << "library " << Narrow(com_types::kLibraryName) << "\n{\n"
      << "  importlib(\"stdole2.tlb\");\n\n";

  WriteAttributes(out, "  ", TypeAttributes(TKIND_INTERFACE, com_types::kInterfaceId, com_types::kInterfaceTypeFlags));
  out << "  interface " << interfaceName << " : IDispatch\n  {\n";
  for (const com_types::Member& member : com_types::kMembers) {
    out << "    [id(" << Hex(static_cast<unsigned long>(member.dispid)) << ")" << InvokeKind(member) << "]\n"
        << "    HRESULT " << Narrow(member.name) << "(";
    const std::vector<Argument> arguments = ArgumentsOf(member);
    for (size_t i = 0; i < arguments.size(); ++i) {
      out << (i ? ",\n" : "\n") << "        " << Direction(arguments[i]) << IdlType(arguments[i]) << " "
          << arguments[i].name;
    }
    out << ");\n";
  }
  out << "  };\n\n";

  WriteAttributes(out, "  ", TypeAttributes(TKIND_COCLASS, com_types::kClassId, com_types::kClassTypeFlags));
  out << "  coclass " << Narrow(com_types::kClassName) << "\n  {\n"
      << "    [default] interface " << interfaceName << ";\n  };\n};\n";
  return out.str();
}

}  // namespace client_files
