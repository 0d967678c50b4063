#include "profile_object/write_rules.h"

#include <string_view>

#include "profile_service/profile_syntax.h"

namespace profile_object {
namespace {

bool HasLineBreakOrNul(std::wstring_view text) {
  return text.find_first_of(std::wstring_view(L"\r\n\0", 3)) != std::wstring_view::npos;
}

using profile_service::WithoutBlanks;

bool NamesNothing(const ServiceText& name) { return WithoutBlanks(name.Wide()).empty(); }

const wchar_t* RefusalForKey(const ServiceText& key) {
  const std::wstring_view text = key.Wide();
  if (HasLineBreakOrNul(text)) return L"Refused to write: the key name contains a line break or NUL character";
  if (text.find(L'=') != std::wstring_view::npos) return L"Refused to write: the key name contains \"=\"";
  const std::wstring_view name = WithoutBlanks(text);
  if (name.starts_with(L';') || name.starts_with(L'[')) {
    return L"Refused to write: the key name begins with \";\" or \"[\"";
  }
  return nullptr;
}

const wchar_t* RefusalForValue(const ServiceText& value) {
  if (HasLineBreakOrNul(value.Wide())) return L"Refused to write: the value contains a line break or NUL character";
  return nullptr;
}

}  // namespace

const wchar_t* RefusalForSection(const ServiceText& section) {
  const std::wstring_view text = section.Wide();
  if (HasLineBreakOrNul(text)) return L"Refused to write: the section name contains a line break or NUL character";
  return nullptr;
}

const wchar_t* RefusalForNewSection(const ServiceText& section) {
  if (section.Wide().find(L']') != std::wstring_view::npos) return L"Refused to write: the section name contains \"]\"";
  return nullptr;
}

const wchar_t* RefusalForEntry(const ServiceText& key, const ServiceText& value) {
  if (const wchar_t* refusal = RefusalForKey(key)) return refusal;
  return RefusalForValue(value);
}

const wchar_t* RefusalForWrite(const ServiceText& section, const ServiceText& key, const ServiceText& value) {
  if (const wchar_t* refusal = RefusalForSection(section)) return refusal;
  return RefusalForEntry(key, value);
}

const wchar_t* RefusalForSectionAdd(const ServiceText& section) {
  if (!section.IsAbsent() && NamesNothing(section)) return L"Refused to write: the section name is empty";
  return RefusalForSection(section);
}

const wchar_t* RefusalForKeyRename(const ServiceText& currentKeyName, const ServiceText& newKeyName) {
  if (NamesNothing(currentKeyName)) return L"Refused to write: the current key name is empty";
  if (NamesNothing(newKeyName)) return L"Refused to write: the new key name is empty";
  return nullptr;
}

const wchar_t* RefusalForSectionRename(const ServiceText& newSectionName) {
  if (NamesNothing(newSectionName)) return L"Refused to write: the new section name is empty";
  return RefusalForSection(newSectionName);
}

}  // namespace profile_object
