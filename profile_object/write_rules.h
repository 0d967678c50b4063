// Text that the profile service would write raw and so corrupt the file: a line break
// or NUL anywhere would start new lines (or sections) of the caller's choosing, "=" in
// a key name can never be read back, a key beginning with ";" becomes a comment and one
// beginning with "[" a section header, and "]" inside the name of a new section ends its
// header early for other readers. What the service merely normalises (blanks around
// names and values, one pair of outer quotes) passes. The rules look at the caller's
// characters: the file holds those, or "?" for a look-alike (profile_service/ansi_text.h).
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

// SectionAdd needs a name: the empty one (and one of blanks only, which the service trims
// away) stands for the keys above every header, where no section can be added. An absent
// name passes, as in every write, to the service, which refuses it.
const wchar_t* RefusalForSectionAdd(const ServiceText& section);

// A rename needs names the service can find again: an empty one (or blanks only, which
// the service trims away) would write a key or section without a name, and an absent
// key name would stand for the whole section. Absent texts are refused here too.
const wchar_t* RefusalForKeyRename(const ServiceText& currentKeyName, const ServiceText& newKeyName);
const wchar_t* RefusalForSectionRename(const ServiceText& newSectionName);

}  // namespace profile_object
