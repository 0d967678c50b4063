#include "profile_object/write_rules.h"

#include <algorithm>
#include <string_view>

#include "profile_service/profile_syntax.h"

namespace profile_object {
namespace {

std::wstring_view View(BSTR text) { return text ? std::wstring_view(text, SysStringLen(text)) : std::wstring_view(); }

bool HasLineBreakOrNul(std::wstring_view text) {
  return text.find_first_of(std::wstring_view(L"\r\n\0", 3)) != std::wstring_view::npos;
}

bool IsBlank(wchar_t c) { return profile_service::IsProfileBlank(c); }

// The name without the blanks that the service trims from its start.
std::wstring_view PastBlanks(std::wstring_view name) {
  return name.substr(std::find_if_not(name.begin(), name.end(), IsBlank) - name.begin());
}

bool NamesNothing(BSTR name) { return PastBlanks(View(name)).empty(); }

}  // namespace

const wchar_t* RefusalForSection(BSTR section) {
  const std::wstring_view text = View(section);
  if (HasLineBreakOrNul(text)) return L"Refused to write: the section name contains a line break or NUL character";
  return nullptr;
}

const wchar_t* RefusalForNewSection(BSTR section) {
  if (View(section).find(L']') != std::wstring_view::npos) return L"Refused to write: the section name contains \"]\"";
  return nullptr;
}

const wchar_t* RefusalForKey(BSTR key) {
  const std::wstring_view text = View(key);
  if (HasLineBreakOrNul(text)) return L"Refused to write: the key name contains a line break or NUL character";
  if (text.find(L'=') != std::wstring_view::npos) return L"Refused to write: the key name contains \"=\"";
  const std::wstring_view name = PastBlanks(text);
  if (name.starts_with(L';') || name.starts_with(L'[')) {
    return L"Refused to write: the key name begins with \";\" or \"[\"";
  }
  return nullptr;
}

const wchar_t* RefusalForValue(BSTR value) {
  if (HasLineBreakOrNul(View(value))) return L"Refused to write: the value contains a line break or NUL character";
  return nullptr;
}

const wchar_t* RefusalForWrite(BSTR section, BSTR key, BSTR value) {
  if (const wchar_t* refusal = RefusalForSection(section)) return refusal;
  if (const wchar_t* refusal = RefusalForKey(key)) return refusal;
  return RefusalForValue(value);
}

const wchar_t* RefusalForKeyRename(BSTR currentKeyName, BSTR newKeyName) {
  if (NamesNothing(currentKeyName)) return L"Refused to write: the current key name is empty";
  if (NamesNothing(newKeyName)) return L"Refused to write: the new key name is empty";
  return nullptr;
}

const wchar_t* RefusalForSectionRename(BSTR newSectionName) {
  if (NamesNothing(newSectionName)) return L"Refused to write: the new section name is empty";
  return RefusalForSection(newSectionName);
}

}  // namespace profile_object
