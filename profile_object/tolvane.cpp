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
using com_types::UniqueVariant;
using profile_service::AnsiText;
using profile_service::LockMode;
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
  const service::FileLock& lock = *file.Lock();
  lastErrorCode_ = static_cast<LONG>(lock.Failure());
  if (lock.Failure() == ERROR_TIMEOUT) {
    SetLastErrorText(lock.HeldWithinThisProcess() ? kFileLockTimedOutWithinThisProcess : kFileLockTimedOut);
  } else {  // a journal that could not be put back says only why the file itself could not be had
    const std::string message = service::MessageFor(lock.Failure());
    lastErrorText_ = BstrOf(service::WideOf(lock.JournalWaits() ? message : kFileLockFailed + message));
  }
  return false;
}

void Tolvane::Done(ProfileFile& file, const GiveBacks& giveBacks) {
  const std::optional<std::wstring> fileNameSeen = file.Names().given.Widened();
  file.Close();
  service::WriteBack(fileName_.InOut(), fileNameSeen);
  for (const auto& [slot, seen] : giveBacks) service::WriteBack(slot, seen);
}

void Tolvane::CaptureLastError() {
  const DWORD code = service::LastError();
  lastErrorCode_ = static_cast<LONG>(code);
  if (code == 0) {
    SetLastErrorText(kUnknownError);
    return;
  }
  lastErrorText_ = BstrOf(service::WideOf(service::MessageFor(code)));
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

bool Tolvane::SectionExists(const ServiceText& section, ProfileFile& file) {
  std::wstring names;
  return service::ReadAllSectionNames(file, names) && NameListHolds(names, section.Seen(file).value_or(L""));
}

// ---- Single keys ----------------------------------------------------------------------

UniqueBstr Tolvane::ReadValue(BSTR* section, BSTR* key) {
  if (!CheckFileName()) return UniqueBstr::Copy(L"False");
  const ServiceText sectionText = SectionText(*section), keyText = KeyText(*key);
  std::wstring value;
  const auto read = WithFile(LockMode::Read, [&](ProfileFile& file, GiveBacks& giveBacks) -> std::optional<bool> {
    const bool found = Captured(service::ReadString(file, sectionText, keyText, value)) != 0;
    giveBacks = {{section, sectionText.Seen(file)}, {key, keyText.Seen(file)}};
    return found;
  });
  return read.value_or(false) ? BstrOf(value) : UniqueBstr();
}

bool Tolvane::WriteValue(BSTR* section, BSTR* key, BSTR* value) {
  return CheckFileName() && WriteKey(SectionText(*section), KeyText(*key), ValueText(*value), {section, key, value});
}

bool Tolvane::CreateKeyAndValue(BSTR section, BSTR key, BSTR value) {
  return WriteKey(SectionText(section), KeyText(key), ValueText(value), {});
}

// A key is written, or deleted for an absent key or value, once the write rules are met.
// A deletion starts no section, and gives its names back as they reached what was there.
bool Tolvane::WriteKey(const ServiceText& section, const ServiceText& key, const ServiceText& value,
                       std::array<BSTR*, 3> givenBack) {
  if (Refused(RefusalForWrite(section, key, value))) return false;
  const bool stores = !key.IsAbsent() && !value.IsAbsent();
  const auto written = WithFile(LockMode::Write, [&](ProfileFile& file, GiveBacks& giveBacks) -> std::optional<bool> {
    if (stores && RefusedNewSection(section, file)) return std::nullopt;
    const bool done = Captured(service::WriteString(file, section, key, value)) != FALSE;
    if (givenBack[0]) {
      giveBacks = {{givenBack[0], stores ? section.Stored(file) : section.Seen(file)},
                   {givenBack[1], stores ? key.Stored(file) : key.Seen(file)},
                   {givenBack[2], value.Stored(file)}};
    }
    return done;
  });
  return written.value_or(false);
}

void Tolvane::DeleteKey(BSTR section, BSTR key) { Delete(SectionText(section), KeyText(key)); }

// A key, or for the absent key the whole section; a failure goes unreported.
void Tolvane::Delete(const ServiceText& section, const ServiceText& key) {
  WithFile(LockMode::WriteExisting, [&](ProfileFile& file, GiveBacks&) -> std::optional<BOOL> {
    return service::WriteString(file, section, key, ServiceText::Absent());
  });
}

// ---- Whole sections -------------------------------------------------------------------

LONG Tolvane::SectionsCount() {
  if (!CheckFileName()) return -1;
  std::wstring list;
  const auto count = WithFile(LockMode::Read, [&](ProfileFile& file, GiveBacks&) -> std::optional<DWORD> {
    return Captured(service::ReadSectionNames(file, list));
  });
  if (count.value_or(0) == 0) return 0;
  return ForEachListItem(list, *count, [](SHORT, std::wstring_view) {});
}

namespace {

// The lines of a section's list up to and including the first one without "=".
std::vector<Entry> EntriesToFirstLineWithoutEquals(std::wstring_view list, DWORD count) {
  std::vector<Entry> entries;
  ForEachListItem(list, count, [&](SHORT, std::wstring_view line) {
    if (entries.empty() || entries.back().hasEquals) entries.push_back(SplitEntry(line));
  });
  return entries;
}

// Re-creates both arrays (a fixed or locked one faults here), sized once, with the
// entries' keys and values; a line without "=" stays empty, then faults as invalid.
void FillKeysAndValues(const std::vector<Entry>& entries, SAFEARRAY** keys, SAFEARRAY** values) {
  ReplaceTextArray(keys, NewTextArray(1));
  ReplaceTextArray(values, NewTextArray(1));
  SAFEARRAYBOUND bound{static_cast<ULONG>(entries.size()), 0};
  if (FAILED(SafeArrayRedim(*keys, &bound)) || FAILED(SafeArrayRedim(*values, &bound))) throw std::bad_alloc();
  {
    com_types::SafeArrayData<BSTR> keyElements(*keys), valueElements(*values);
    for (size_t i = 0; i < entries.size() && entries[i].hasEquals; ++i) {
      keyElements[i] = BstrOf(entries[i].key).Release();
      valueElements[i] = BstrOf(entries[i].value).Release();
    }
  }
  if (!entries.empty() && !entries.back().hasEquals) throw Fault::InvalidArgument();
}

}  // namespace

// A missing or empty section returns False and leaves the caller's arrays as they were.
UniqueVariant Tolvane::ReadSection(BSTR* section, SAFEARRAY** keys, SAFEARRAY** values) {
  UniqueVariant result;
  V_VT(result.Get()) = VT_BOOL;
  V_BOOL(result.Get()) = VARIANT_FALSE;
  if (!CheckFileName()) return result;
  const ServiceText sectionText = SectionText(*section);
  std::wstring list;
  const auto count = WithFile(LockMode::Read, [&](ProfileFile& file, GiveBacks& giveBacks) -> std::optional<DWORD> {
    const DWORD read = Captured(service::ReadSection(file, sectionText, list));
    giveBacks = {{section, sectionText.Seen(file)}};
    return read;
  });
  if (count.value_or(0) == 0) return result;
  const std::vector<Entry> entries = EntriesToFirstLineWithoutEquals(list, *count);
  FillKeysAndValues(entries, keys, values);
  result.Clear();
  V_VT(result.Get()) = VT_ARRAY | VT_BSTR;
  V_ARRAY(result.Get()) = PairArrayOf(*keys, *values).Release();
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

// An existing section is left as it is. The name goes to every call without its blanks
// and as the write stores it, so the placeholder's deletion reaches the section it started.
bool Tolvane::SectionAdd(BSTR section) {
  if (!CheckFileName()) return false;
  const ServiceText sectionGiven = NameText(section, service::TextRole::Section);
  if (Refused(RefusalForSectionAdd(sectionGiven))) return false;
  const auto added = WithFile(LockMode::Write, [&](ProfileFile& file, GiveBacks&) -> std::optional<bool> {
    const ServiceText sectionText = sectionGiven.StoredIn(file);
    if (RefusedNewSection(sectionText, file)) return std::nullopt;
    // A section with lines counts as existing even when the name list cannot be read: the
    // empty whole-section write below would remove its keys.
    std::wstring lines;
    if (SectionExists(sectionText, file) || service::ReadWholeSection(file, sectionText, lines)) return true;
    const std::vector<service::EntryText> noEntries;
    return Captured(service::WriteSection(file, sectionText, &noEntries) &&
                    (SectionExists(sectionText, file) || CreateEmptySection(sectionText, file)));
  });
  return added.value_or(false);
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
  // Without a pair the section is removed, not started: no entry list at all, not an empty one.
  const bool pairs = lower <= upper;
  const auto written = WithFile(pairs ? LockMode::Write : LockMode::WriteExisting,
                                [&](ProfileFile& file, GiveBacks& giveBacks) -> std::optional<LONG> {
                                  if (pairs && RefusedNewSection(sectionText, file)) return std::nullopt;
                                  Captured(service::WriteSection(file, sectionText, pairs ? &entries : nullptr));
                                  giveBacks = {{section, pairs ? sectionText.Stored(file) : sectionText.Seen(file)}};
                                  return upper;
                                });
  return written.value_or(0);
}

void Tolvane::DeleteSection(BSTR section) { Delete(SectionText(section), ServiceText::Absent()); }

}  // namespace profile_object
