// The texts a member hands the service, by the role each plays, and BSTRs of the texts
// the service hands back.
#pragma once

#include <string_view>

#include "com_types/owners.h"
#include "profile_object/profile_lists.h"
#include "profile_service/profile_service.h"
#include "profile_service/profile_syntax.h"

namespace profile_object {

inline profile_service::ServiceText SectionText(BSTR section) {
  return profile_service::ServiceText(section, profile_service::TextRole::Section);
}
inline profile_service::ServiceText KeyText(BSTR key) {
  return profile_service::ServiceText(key, profile_service::TextRole::Key);
}
inline profile_service::ServiceText ValueText(BSTR value) {
  return profile_service::ServiceText(value, profile_service::TextRole::Value);
}

// A name as the members of several service calls hand it on: without its blanks, which
// key lookups skip, but section reads and deletions compare and a new name keeps: as
// given, one name would reach different sections or keys from one call to the next.
inline profile_service::ServiceText NameText(BSTR name, profile_service::TextRole role) {
  if (!name) return profile_service::ServiceText(nullptr, role);
  return profile_service::ServiceText(profile_service::WithoutBlanks(std::wstring_view(name, SysStringLen(name))),
                                      role);
}

inline com_types::UniqueBstr BstrOf(std::wstring_view text) {
  return com_types::UniqueBstr::Copy(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace profile_object
