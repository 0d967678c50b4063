// Text that the profile service would write raw and so corrupt the file: a line break
// or NUL anywhere would start new lines (or sections) of the caller's choosing, "=" in
// a key name can never be read back, a key beginning with ";" becomes a comment and one
// beginning with "[" a section header, and "]" inside the name of a new section ends its
// header early for other readers. What the service merely normalises (blanks around
// names and values, one pair of outer quotes) is the file syntax and passes.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace profile_object {

// The message for LastErrorA when the text must not be written, or nullptr when it may.
// Absent (null) texts pass: they keep their meaning of "no key" and "no value".
const wchar_t* RefusalForSection(BSTR section);
const wchar_t* RefusalForKey(BSTR key);
const wchar_t* RefusalForValue(BSTR value);
const wchar_t* RefusalForWrite(BSTR section, BSTR key, BSTR value);
// "]" in a section name, which matters only where a write would start the section: the
// service reads such a header back whole, and an existing section gets no new header.
const wchar_t* RefusalForNewSection(BSTR section);

// A rename needs names the service can find again: an empty one (or blanks only, which
// the service trims away) would write a key or section without a name, and an absent
// key name would stand for the whole section. Absent texts are refused here too.
const wchar_t* RefusalForKeyRename(BSTR currentKeyName, BSTR newKeyName);
const wchar_t* RefusalForSectionRename(BSTR newSectionName);

}  // namespace profile_object
