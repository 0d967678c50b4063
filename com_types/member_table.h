// The members of _Tolvane in function-table order: the one description of names, ids,
// kinds, parameters and results, that the type library, the header and the script forms use.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <array>
#include <cstddef>

namespace com_types {

enum class ValueType { None, Text, TextArray, Variant, Boolean, Long };

struct Parameter {
  const wchar_t* name;
  ValueType type;
  bool byReference;
};

struct Member {
  const wchar_t* name;
  INVOKEKIND kind;
  DISPID dispid;
  std::array<Parameter, 3> parameters;
  size_t parameterCount;
  ValueType result;  // returned through a final out, retval pointer; None for no result
};

inline constexpr size_t kFirstMemberSlot = 7;  // after IUnknown and IDispatch

namespace member_table_detail {
constexpr Parameter TextIn(const wchar_t* name) { return {name, ValueType::Text, false}; }
constexpr Parameter TextRef(const wchar_t* name) { return {name, ValueType::Text, true}; }
constexpr Parameter ArrayRef(const wchar_t* name) { return {name, ValueType::TextArray, true}; }
}  // namespace member_table_detail

inline constexpr std::array<Member, 14> kMembers = [] {
  using namespace member_table_detail;
  constexpr INVOKEKIND kGet = INVOKE_PROPERTYGET, kPut = INVOKE_PROPERTYPUT, kMethod = INVOKE_FUNC;
  // clang-format off
  return std::array<Member, 14>{{
      {L"IniFileName", kGet, 0x68030002, {}, 0, ValueType::Text},
      {L"IniFileName", kPut, 0x68030002, {TextRef(L"New_FileName")}, 1, ValueType::None},
      {L"LastErrorA", kGet, 0x68030001, {}, 0, ValueType::Text},
      {L"ReadValue", kMethod, 0x60030003, {TextRef(L"Section"), TextRef(L"Key")}, 2, ValueType::Text},
      {L"ReadSection", kMethod, 0x60030004, {TextRef(L"Section"), ArrayRef(L"Keys"), ArrayRef(L"Values")}, 3,
       ValueType::Variant},
      {L"CreateKeyAndValue", kMethod, 0x60030005, {TextIn(L"Section"), TextIn(L"Key"), TextIn(L"Value")}, 3,
       ValueType::Boolean},
      {L"WriteValue", kMethod, 0x60030006, {TextRef(L"Section"), TextRef(L"Key"), TextRef(L"Value")}, 3,
       ValueType::Boolean},
      {L"SectionsCount", kGet, 0x68030000, {}, 0, ValueType::Long},
      {L"SectionAdd", kMethod, 0x60030007, {TextIn(L"Section")}, 1, ValueType::Boolean},
      {L"SectionWriteAtOnce", kMethod, 0x60030008, {TextRef(L"Section"), ArrayRef(L"Keys"), ArrayRef(L"Values")},
       3, ValueType::Long},
      {L"RenameKey", kMethod, 0x60030009,
       {TextIn(L"Section"), TextIn(L"CurrentKeyName"), TextIn(L"NewKeyName")}, 3, ValueType::None},
      {L"RenameSection", kMethod, 0x6003000A, {TextIn(L"CurrentSectionName"), TextIn(L"NewSectionName")}, 2,
       ValueType::None},
      {L"DeleteSection", kMethod, 0x6003000B, {TextIn(L"Section")}, 1, ValueType::None},
      {L"DeleteKey", kMethod, 0x6003000C, {TextIn(L"Section"), TextIn(L"Key")}, 2, ValueType::None},
  }};
  // clang-format on
}();

// How many of the member's parameters the type library names: all but a property put's
// value, which the platform never names (GetNames answers for the get of the same DISPID).
constexpr size_t NamedParameterCount(const Member& member) {
  return member.kind == INVOKE_PROPERTYPUT ? member.parameterCount - 1 : member.parameterCount;
}

// The name of the member's function-table entry: accessors are prefixed get_ and put_.
constexpr const wchar_t* AccessorPrefix(const Member& member) {
  switch (member.kind) {
    case INVOKE_PROPERTYGET: return L"get_";
    case INVOKE_PROPERTYPUT: return L"put_";
    default: return L"";
  }
}

// The member with this dispatch identifier and invoke kind, or nullptr.
constexpr const Member* FindMember(DISPID dispid, INVOKEKIND kind) {
  for (const Member& member : kMembers) {
    if (member.dispid == dispid && member.kind == kind) return &member;
  }
  return nullptr;
}

}  // namespace com_types
