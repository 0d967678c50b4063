// What the public header and the IDL are written from: the member table and the
// identity, spelled as C and IDL spell them. Both files declare the same names, GUIDs
// and parameter lists, so both come from these pieces.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "com_types/member_table.h"

namespace client_files {

// One argument of a function-table entry, after the interface pointer.
struct Argument {
  std::string name;
  com_types::ValueType type;
  enum class Passing { ByValue, ByReference, Result } passing;
};

// How C and IDL spell a type passed by value; a pointer to it adds "*".
struct TypeSpelling {
  const char* c;    // "BSTR ", "SAFEARRAY *": ready to be followed by "*" or a name
  const char* idl;  // "BSTR", "SAFEARRAY(BSTR)"
};
TypeSpelling SpellingOf(com_types::ValueType type);

// The names are ASCII.
std::string Narrow(const wchar_t* text);

// B7DE8621-73CA-4CF2-8631-C442D6F9C638, as IDL attributes and __declspec(uuid) take it.
std::string GuidText(const GUID& guid);
// 0xb7de8621, 0x73ca, 0x4cf2, 0x86,0x31, 0xc4,0x42,0xd6,0xf9,0xc6,0x38: the arguments
// of DEFINE_GUID and __CRT_UUID_DECL.
std::string GuidArguments(const GUID& guid);

// get_IniFileName, put_IniFileName, ReadValue, ...
std::string EntryName(const com_types::Member& member);
// The member's parameters, then its result (named Result) where it has one.
std::vector<Argument> ArgumentsOf(const com_types::Member& member);

// The two files.
std::string ClientHeader();
std::string InterfaceIdl();

}  // namespace client_files
