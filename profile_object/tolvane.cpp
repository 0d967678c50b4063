#include "profile_object/tolvane.h"

#include <string>
#include <vector>

#include "profile_object/fault.h"
#include "profile_object/profile_lists.h"
#include "profile_object/text_arrays.h"
#include "profile_object/tolvane_texts.h"
#include "profile_object/write_rules.h"

namespace profile_object {

using com_types::UniqueBstr;
using com_types::UniqueSafeArray;
using com_types::UniqueVariant;
using profile_service::AnsiText;
using profile_service::WriteBack;
namespace service = profile_service;

namespace {

constexpr wchar_t kMissingFileName[] = L"Missing IniFilename";
constexpr wchar_t kUnknownError[] = L"Unknown Error";
constexpr wchar_t kUnequalArrays[] = L"Key array is not the same size as Value array";
constexpr wchar_t kFileLockTimedOut[] =
    L"The file is in use: another process kept it locked for longer than the wait; nothing was read or written";
constexpr wchar_t kFileLockTimedOutWithinThisProcess[] =
    L"The file is in use: another thread of this process kept it locked for longer than the wait; nothing was "
    L"read or written";
constexpr char kFileLockFailed[] = "The file could not be locked: ";

}  // namespace

bool Tolvane::CheckFileName() {
  if (fileName_.Length() != 0) return true;
  SetLastErrorText(kMissingFileName);
  return false;
}

AnsiText Tolvane::FileName() const { return AnsiText::FromBstr(fileName_.Get(), service::TextRole::FileName); }

bool Tolvane::Usable(const ProfileFile& file) {
  if (file.Usable()) return true;
  lastErrorCode_ = static_cast<LONG>(file.LockFailure());
  if (file.LockFailure() == ERROR_TIMEOUT) {
    SetLastErrorText(file.HeldWithinThisProcess() ? kFileLockTimedOutWithinThisProcess : kFileLockTimedOut);
  } else if (file.JournalWaits()) {  // the file itself could not be had, to be put back
    lastErrorText_ = service::WideFromAnsi(service::MessageFor(file.LockFailure()));
  } else {
    lastErrorText_ = service::WideFromAnsi(kFileLockFailed + service::MessageFor(file.LockFailure()));
  }
  return false;
}

void Tolvane::Done(ProfileFile& file) {
  WriteBack(fileName_.InOut(), file.GivenName().Widened());
  file.Close();
}

void Tolvane::CaptureLastError() {
  const DWORD code = service::LastError();
  lastErrorCode_ = static_cast<LONG>(code);
  if (code == 0) {
    SetLastErrorText(kUnknownError);
    return;
  }
  lastErrorText_ = service::WideFromAnsi(service::MessageFor(code));
}

void Tolvane::SetLastErrorText(const wchar_t* text) { lastErrorText_ = UniqueBstr::Copy(text); }

bool Tolvane::Refused(const wchar_t* refusal) {
  if (!refusal) return false;
  SetLastErrorText(refusal);
  return true;
}

// Only a name holding "]" pays for the look-up of the section names. A list that cannot
// be read counts as one without the section.
bool Tolvane::RefusedNewSection(const ServiceText& section, ProfileFile& file) {
  const wchar_t* refusal = RefusalForNewSection(section);
  return refusal && !SectionExists(section, file) && Refused(refusal);
}

// A deletion (an absent key or value) starts no section.
bool Tolvane::RefusedSectionStart(const ServiceText& section, const ServiceText& key, const ServiceText& value,
                                  ProfileFile& file) {
  return !key.IsAbsent() && !value.IsAbsent() && RefusedNewSection(section, file);
}

bool Tolvane::SectionExists(const ServiceText& section, ProfileFile& file) {
  std::wstring names;
  return service::ReadAllSectionNames(file, names) && NameListHolds(names, section.Seen(file).value_or(L""));
}

// ---- Single keys ----------------------------------------------------------------------

UniqueBstr Tolvane::ReadValue(BSTR* section, BSTR* key) {
  if (!CheckFileName()) return UniqueBstr::Copy(L"False");
  const ServiceText sectionText = SectionText(*section), keyText = KeyText(*key);
  ProfileFile file(FileName(), service::LockMode::Read);
  if (!Usable(file)) return UniqueBstr();
  std::wstring value;
  const DWORD count = service::ReadString(file, sectionText, keyText, value);
  if (count == 0) CaptureLastError();
  const auto sectionSeen = sectionText.Seen(file), keySeen = keyText.Seen(file);
  Done(file);
  WriteBack(section, sectionSeen);
  WriteBack(key, keySeen);
  if (count == 0) return UniqueBstr();
  return BstrOf(value);
}

bool Tolvane::WriteValue(BSTR* section, BSTR* key, BSTR* value) {
  if (!CheckFileName()) return false;
  const ServiceText sectionText = SectionText(*section), keyText = KeyText(*key), valueText = ValueText(*value);
  if (Refused(RefusalForWrite(sectionText, keyText, valueText))) return false;
  ProfileFile file(FileName());
  if (!Usable(file) || RefusedSectionStart(sectionText, keyText, valueText, file)) return false;
  const BOOL written = service::WriteString(file, sectionText, keyText, valueText);
  if (!written) CaptureLastError();
  // What the write put in the file; a deletion's names as they reached what was there.
  const bool stores = !keyText.IsAbsent() && !valueText.IsAbsent();
  const auto sectionSeen = stores ? sectionText.Stored(file) : sectionText.Seen(file),
             keySeen = stores ? keyText.Stored(file) : keyText.Seen(file), valueSeen = valueText.Stored(file);
  Done(file);
  WriteBack(section, sectionSeen);
  WriteBack(key, keySeen);
  WriteBack(value, valueSeen);
  return written != FALSE;
}

bool Tolvane::CreateKeyAndValue(BSTR section, BSTR key, BSTR value) {
  const ServiceText sectionText = SectionText(section), keyText = KeyText(key), valueText = ValueText(value);
  if (Refused(RefusalForWrite(sectionText, keyText, valueText))) return false;
  ProfileFile file(FileName());
  if (!Usable(file) || RefusedSectionStart(sectionText, keyText, valueText, file)) return false;
  const BOOL written = service::WriteString(file, sectionText, keyText, valueText);
  if (!written) CaptureLastError();
  Done(file);
  return written != FALSE;
}

void Tolvane::DeleteKey(BSTR section, BSTR key) {
  const ServiceText sectionText = SectionText(section), keyText = KeyText(key);
  ProfileFile file(FileName(), service::LockMode::WriteExisting);
  if (!Usable(file)) return;
  service::WriteString(file, sectionText, keyText, ServiceText::Absent());
  Done(file);
}

// ---- Whole sections -------------------------------------------------------------------

LONG Tolvane::SectionsCount() {
  if (!CheckFileName()) return -1;
  ProfileFile file(FileName(), service::LockMode::Read);
  if (!Usable(file)) return 0;
  std::wstring list;
  const DWORD count = service::ReadSectionNames(file, list);
  if (count == 0) CaptureLastError();
  Done(file);
  if (count == 0) return 0;
  return ForEachListItem(list, count, [](SHORT, std::wstring_view) {});
}

// A missing or empty section returns False and leaves the caller's arrays as they were.
UniqueVariant Tolvane::ReadSection(BSTR* section, SAFEARRAY** keys, SAFEARRAY** values) {
  UniqueVariant result;
  V_VT(result.Get()) = VT_BOOL;
  V_BOOL(result.Get()) = VARIANT_FALSE;
  if (!CheckFileName()) return result;
  const ServiceText sectionText = SectionText(*section);
  ProfileFile file(FileName(), service::LockMode::Read);
  if (!Usable(file)) return result;
  std::wstring list;
  const DWORD count = service::ReadSection(file, sectionText, list);
  if (count == 0) CaptureLastError();
  const auto sectionSeen = sectionText.Seen(file);
  Done(file);
  WriteBack(section, sectionSeen);
  if (count == 0) return result;

  // The lines up to and including the first one without "=", which ends the read with
  // the invalid-argument fault once the lines before it are stored.
  std::vector<Entry> entries;
  bool lineWithoutEquals = false;
  ForEachListItem(list, count, [&](SHORT, std::wstring_view line) {
    if (lineWithoutEquals) return;
    entries.push_back(SplitEntry(line));
    lineWithoutEquals = !entries.back().hasEquals;
  });
  const LONG stored = static_cast<LONG>(entries.size());

  // Both arrays are re-created (a fixed or locked one faults here), then sized once.
  ReplaceTextArray(keys, NewTextArray(1));
  ReplaceTextArray(values, NewTextArray(1));
  SAFEARRAYBOUND bound{static_cast<ULONG>(stored), 0};
  if (FAILED(SafeArrayRedim(*keys, &bound)) || FAILED(SafeArrayRedim(*values, &bound))) throw std::bad_alloc();
  {
    com_types::SafeArrayData<BSTR> keyElements(*keys), valueElements(*values);
    for (LONG i = 0; i < stored; ++i) {
      if (!entries[i].hasEquals) break;  // stays an empty element
      keyElements[i] = BstrOf(entries[i].key).Release();
      valueElements[i] = BstrOf(entries[i].value).Release();
    }
  }
  if (lineWithoutEquals) throw Fault::InvalidArgument();

  UniqueSafeArray pairs = NewPairArray(stored);
  {
    com_types::SafeArrayData<BSTR> pairElements(pairs.Get());
    for (LONG i = 0; i < stored; ++i) {
      pairElements[2 * i] = UniqueBstr::Copy(TextAt(*keys, i)).Release();
      pairElements[2 * i + 1] = UniqueBstr::Copy(TextAt(*values, i)).Release();
    }
  }
  result.Clear();
  V_VT(result.Get()) = VT_ARRAY | VT_BSTR;
  V_ARRAY(result.Get()) = pairs.Release();
  return result;
}

bool Tolvane::CreateEmptySection(const ServiceText& section, ProfileFile& file) {
  // Writing a key and deleting it leaves the section's header behind.
  const ServiceText placeholder(std::wstring_view(L"SectionAdd"), service::TextRole::Key);
  if (!service::WriteString(file, section, placeholder, ServiceText(std::wstring_view(), service::TextRole::Value))) {
    return false;
  }
  if (service::WriteString(file, section, placeholder, ServiceText::Absent())) return true;
  // The placeholder must not stay behind as a key nobody wrote: the section, which was
  // missing, goes again. The failure's code is kept for the error capture that follows.
  const DWORD code = service::LastError();
  service::WriteString(file, section, ServiceText::Absent(), ServiceText::Absent());
  SetLastError(code);
  return false;
}

// An existing section, keys and all, is left as it is. The name goes to every call
// without the blanks around it, and in the form the write stores it, so that the
// placeholder's deletion reaches the section that its write started.
bool Tolvane::SectionAdd(BSTR section) {
  if (!CheckFileName()) return false;
  const ServiceText sectionGiven = NameText(section, service::TextRole::Section);
  if (Refused(RefusalForSectionAdd(sectionGiven))) return false;
  ProfileFile file(FileName());
  if (!Usable(file)) return false;
  const ServiceText sectionText = sectionGiven.StoredIn(file);
  if (RefusedNewSection(sectionText, file)) return false;
  // A section with lines counts as existing even when the name list cannot be read: the
  // empty whole-section write below would remove its keys.
  std::wstring lines;
  bool added = SectionExists(sectionText, file) || service::ReadWholeSection(file, sectionText, lines);
  if (!added) {
    const std::vector<service::EntryText> noEntries;
    added = service::WriteSection(file, sectionText, &noEntries) &&
            (SectionExists(sectionText, file) || CreateEmptySection(sectionText, file));
    if (!added) CaptureLastError();
  }
  Done(file);
  return added;
}

LONG Tolvane::SectionWriteAtOnce(BSTR* section, SAFEARRAY* keys, SAFEARRAY* values) {
  if (!CheckFileName()) return 0;
  const LONG upper = UpperBound(keys);
  if (UpperBound(values) != upper) {
    SetLastErrorText(kUnequalArrays);
    return 0;
  }
  const LONG lower = LowerBound(keys);
  const ServiceText sectionText = SectionText(*section);
  if (Refused(RefusalForSection(sectionText))) return 0;
  std::vector<service::EntryText> entries;
  for (LONGLONG index = lower; index <= upper; ++index) {  // wide: `upper` may be LONG_MAX
    const LONG i = static_cast<LONG>(index);
    entries.push_back({KeyText(TextAt(keys, i)), ValueText(TextAt(values, i))});
    if (Refused(RefusalForEntry(entries.back().key, entries.back().value))) return 0;
  }
  ProfileFile file(FileName(), lower <= upper ? service::LockMode::Write : service::LockMode::WriteExisting);
  // Without a pair the section is removed, not started.
  if (!Usable(file) || (lower <= upper && RefusedNewSection(sectionText, file))) return 0;
  // No pair means no entry list at all, not an empty one.
  if (!service::WriteSection(file, sectionText, lower <= upper ? &entries : nullptr)) CaptureLastError();
  const auto sectionSeen = lower <= upper ? sectionText.Stored(file) : sectionText.Seen(file);
  Done(file);
  WriteBack(section, sectionSeen);
  return upper;
}

void Tolvane::DeleteSection(BSTR section) {
  const ServiceText sectionText = SectionText(section);
  ProfileFile file(FileName(), service::LockMode::WriteExisting);
  if (!Usable(file)) return;
  service::WriteString(file, sectionText, ServiceText::Absent(), ServiceText::Absent());
  Done(file);
}

}  // namespace profile_object
