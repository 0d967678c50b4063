// Text that the profile service would write raw and so corrupt the file: a line break
// or NUL anywhere would start new lines (or sections) of the caller's choosing, "=" in
// a key name can never be read back, a key beginning with ";" becomes a comment and one
// beginning with "[" a section header, and "]" inside the name of a new section ends its
// header early for other readers. What the service merely normalises (blanks, one pair
// of outer quotes) passes. The rules look at the caller's characters, as the file holds
// them, or "?" for a look-alike (profile_service/ansi_text.h).
#pragma once

#include "profile_service/profile_service.h"

namespace profile_object {

using profile_service::ServiceText;

// The message for LastErrorA when the text must not be written, or nullptr when it may.
// Absent texts pass: they keep their meaning of "no key" and "no value".
const wchar_t* RefusalForSection(const ServiceText& section);
const wchar_t* RefusalForWrite(const ServiceText& section, const ServiceText& key, const ServiceText& value);
// The same for one entry of a whole-section write.
const wchar_t* RefusalForEntry(const ServiceText& key, const ServiceText& value);
// "]" in a section name, which matters only where a write would start the section: the
// service reads such a header back whole, and an existing section gets no new header.
const wchar_t* RefusalForNewSection(const ServiceText& section);

// SectionAdd needs a name: the empty one (or blanks only, trimmed away) stands for the
// keys above every header. An absent name passes, to the service, which refuses it.
const wchar_t* RefusalForSectionAdd(const ServiceText& section);

// A rename needs names the service can find again, and present ones: an empty name (or
// blanks only) would write a key or section without a name, an absent key name stand for
// the whole section.
const wchar_t* RefusalForKeyRename(const ServiceText& currentKeyName, const ServiceText& newKeyName);
const wchar_t* RefusalForSectionRename(const ServiceText& newSectionName);

}  // namespace profile_object
