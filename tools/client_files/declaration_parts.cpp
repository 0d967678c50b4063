#include "tools/client_files/declaration_parts.h"

#include <cstdio>

namespace client_files {

std::string Narrow(const wchar_t* text) {
  std::string narrow;
  for (; *text; ++text) narrow += static_cast<char>(*text);
  return narrow;
}

namespace {

// The GUID's eleven fields in `format`, which takes them in order.
std::string Formatted(const char* format, const GUID& guid) {
  char text[100];
  std::snprintf(text, sizeof text, format, static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3,
                guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
                guid.Data4[7]);
  return text;
}

}  // namespace

std::string GuidText(const GUID& guid) { return Formatted("%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", guid); }

std::string GuidArguments(const GUID& guid) {
  return Formatted("0x%08lx, 0x%04x, 0x%04x, 0x%02x,0x%02x, 0x%02x,0x%02x,0x%02x,0x%02x,0x%02x,0x%02x", guid);
}

TypeSpelling SpellingOf(com_types::ValueType type) {
  switch (type) {
    case com_types::ValueType::Text: return {"BSTR ", "BSTR"};
    case com_types::ValueType::TextArray: return {"SAFEARRAY *", "SAFEARRAY(BSTR)"};
    case com_types::ValueType::Variant: return {"VARIANT ", "VARIANT"};
    case com_types::ValueType::Boolean: return {"VARIANT_BOOL ", "VARIANT_BOOL"};
    case com_types::ValueType::Long: return {"LONG ", "long"};
    case com_types::ValueType::None: break;
  }
  return {"", ""};
}

std::string EntryName(const com_types::Member& member) {
  return Narrow(com_types::AccessorPrefix(member)) + Narrow(member.name);
}

std::vector<Argument> ArgumentsOf(const com_types::Member& member) {
  std::vector<Argument> arguments;
  for (size_t i = 0; i < member.parameterCount; ++i) {
    const com_types::Parameter& parameter = member.parameters[i];
    arguments.push_back({Narrow(parameter.name), parameter.type,
                         parameter.byReference ? Argument::Passing::ByReference : Argument::Passing::ByValue});
  }
  if (member.result != com_types::ValueType::None) {
    arguments.push_back({"Result", member.result, Argument::Passing::Result});
  }
  return arguments;
}

}  // namespace client_files
