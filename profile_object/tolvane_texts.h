// The texts a member hands the service, by the role each plays, and BSTRs of the texts
// the service hands back.
#pragma once

#include <string_view>

#include "com_types/owners.h"
#include "profile_service/profile_service.h"

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

inline com_types::UniqueBstr BstrOf(std::wstring_view text) {
  return com_types::UniqueBstr::Copy(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace profile_object
