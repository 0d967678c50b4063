#include "profile_object/tolvane.h"

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "profile_object/fault.h"
#include "profile_object/profile_lists.h"
#include "profile_object/text_arrays.h"
#include "profile_object/write_rules.h"
#include "profile_service/profile_service.h"

namespace profile_object {

using com_types::UniqueBstr;
using com_types::UniqueSafeArray;
using com_types::UniqueVariant;
using profile_service::AnsiText;
namespace service = profile_service;

namespace {

constexpr wchar_t kMissingFileName[] = L"Missing IniFilename";
constexpr wchar_t kUnknownError[] = L"Unknown Error";
constexpr wchar_t kUnequalArrays[] = L"Key array is not the same size as Value array";
constexpr wchar_t kLinesWithoutKeys[] =
    L"RenameSection: the section holds lines without \"=\", which cannot be moved; the section was kept";
constexpr wchar_t kCopyNotConfirmed[] =
    L"RenameSection: the copied keys could not be read back whole; the section was kept";
constexpr wchar_t kFileLockTimedOut[] =
    L"The file is in use: another process kept it locked for longer than the wait; nothing was read or written";
constexpr char kFileLockFailed[] = "The file could not be locked: ";

std::string_view UpToFirstNul(const std::string& buffer) {
  return std::string_view(buffer).substr(0, buffer.find('\0'));
}

UniqueBstr BstrFromAnsi(std::string_view text) { return service::WideFromAnsi(text); }

AnsiText SectionText(BSTR section) { return AnsiText::FromBstr(section, service::TextRole::Section); }
AnsiText KeyText(BSTR key) { return AnsiText::FromBstr(key, service::TextRole::Key); }
AnsiText ValueText(BSTR value) { return AnsiText::FromBstr(value, service::TextRole::Value); }

// Fills a new text array from the ANSI texts that `textAt(i)` gives for i = 0..count-1.
template <typename TextAt>
UniqueSafeArray TextArrayOf(LONG count, TextAt textAt) {
  UniqueSafeArray array = NewTextArray(count);
  com_types::SafeArrayData<BSTR> elements(array.Get());
  for (LONG i = 0; i < count; ++i) elements[i] = BstrFromAnsi(textAt(i)).Release();
  return array;
}

}  // namespace

bool Tolvane::CheckFileName() {
  if (fileName_.Length() != 0) return true;
  SetLastErrorText(kMissingFileName);
  return false;
}

service::FileLock Tolvane::LockFile(const AnsiText& file) {
  service::FileLock lock(file);
  if (lock.Held()) return lock;
  lastErrorCode_ = static_cast<LONG>(lock.Failure());
  if (lock.Failure() == ERROR_TIMEOUT) {
    SetLastErrorText(kFileLockTimedOut);
  } else {
    lastErrorText_ = BstrFromAnsi(kFileLockFailed + service::MessageFor(lock.Failure()));
  }
  return lock;
}

void Tolvane::CaptureLastError() {
  const DWORD code = service::LastError();
  lastErrorCode_ = static_cast<LONG>(code);
  if (code == 0) {
    SetLastErrorText(kUnknownError);
    return;
  }
  lastErrorText_ = BstrFromAnsi(service::MessageFor(code));
}

void Tolvane::SetLastErrorText(const wchar_t* text) { lastErrorText_ = UniqueBstr::Copy(text); }

bool Tolvane::Refused(const wchar_t* refusal) {
  if (!refusal) return false;
  SetLastErrorText(refusal);
  return true;
}

// Only a name holding "]" pays for the look-up of the section names. A list that cannot
// be read counts as one without the section.
bool Tolvane::RefusedNewSection(BSTR section, const AnsiText& file) {
  const wchar_t* refusal = RefusalForNewSection(section);
  return refusal && !SectionExists(SectionText(section), file) && Refused(refusal);
}

// A deletion (an absent key or value) starts no section.
bool Tolvane::RefusedSectionStart(BSTR section, BSTR key, BSTR value, const AnsiText& file) {
  return key && value && RefusedNewSection(section, file);
}

AnsiText Tolvane::FileArgument() const { return AnsiText::FromBstr(fileName_.Get(), service::TextRole::FileName); }

void Tolvane::FileNameSeen(const AnsiText& file) { service::WriteBack(fileName_.InOut(), file); }

// ---- Single keys ----------------------------------------------------------------------

UniqueBstr Tolvane::ReadValue(BSTR* section, BSTR* key) {
  if (!CheckFileName()) return UniqueBstr::Copy(L"False");
  const AnsiText file = FileArgument();
  const service::FileLock lock = LockFile(file);
  if (!lock.Held()) return UniqueBstr();
  service::Buffer buffer = service::MakeBuffer(service::kValueBufferSize);
  const AnsiText sectionText = SectionText(*section);
  const AnsiText keyText = KeyText(*key);
  const DWORD count = service::ReadString(sectionText, keyText, "", buffer, file);
  if (count == 0) CaptureLastError();
  service::WriteBack(section, sectionText);
  service::WriteBack(key, keyText);
  FileNameSeen(file);
  if (count == 0) return UniqueBstr();
  return BstrFromAnsi(UpToFirstNul(buffer));
}

bool Tolvane::WriteValue(BSTR* section, BSTR* key, BSTR* value) {
  if (!CheckFileName() || Refused(RefusalForWrite(*section, *key, *value))) return false;
  const AnsiText file = FileArgument();
  const service::FileLock lock = LockFile(file);
  if (!lock.Held() || RefusedSectionStart(*section, *key, *value, file)) return false;
  const AnsiText sectionText = SectionText(*section);
  const AnsiText keyText = KeyText(*key);
  const AnsiText valueText = ValueText(*value);
  const BOOL written = service::WriteString(sectionText, keyText, valueText, file);
  if (!written) CaptureLastError();
  service::WriteBack(section, sectionText);
  service::WriteBack(key, keyText);
  service::WriteBack(value, valueText);
  FileNameSeen(file);
  return written != FALSE;
}

bool Tolvane::CreateKeyAndValue(BSTR section, BSTR key, BSTR value) {
  if (Refused(RefusalForWrite(section, key, value))) return false;
  const AnsiText file = FileArgument();
  const service::FileLock lock = LockFile(file);
  if (!lock.Held() || RefusedSectionStart(section, key, value, file)) return false;
  const BOOL written = service::WriteString(SectionText(section), KeyText(key), ValueText(value), file);
  if (!written) CaptureLastError();
  FileNameSeen(file);
  return written != FALSE;
}

void Tolvane::DeleteKey(BSTR section, BSTR key) {
  const AnsiText file = FileArgument();
  const service::FileLock lock = LockFile(file);
  if (!lock.Held()) return;
  service::WriteString(SectionText(section), KeyText(key), AnsiText(), file);
  FileNameSeen(file);
}

// Moves the key with its whole value as the file holds it (read from the section's
// entry list, so neither cut at 254 characters nor stripped of quotes), and deletes the
// current key only once the new one is written. A missing key, or a new name that the
// service takes for the same key, changes nothing. LastErrorA ends as the read, write
// and delete this rename stands for would leave it.
void Tolvane::RenameKey(BSTR section, BSTR currentKeyName, BSTR newKeyName) {
  if (!CheckFileName() || Refused(RefusalForKeyRename(currentKeyName, newKeyName))) return;
  const AnsiText file = FileArgument();
  const service::FileLock lock = LockFile(file);
  if (!lock.Held()) return;
  const AnsiText current = KeyText(currentKeyName);
  std::string entries;
  std::optional<std::string_view> storedValue;
  if (service::ReadWholeSection(SectionText(section), entries, file)) {
    ForEachItem(entries, [&](std::string_view line) {
      const Entry entry = SplitEntry(line);
      if (!storedValue && entry.hasEquals && SameProfileName(entry.key, current.View())) storedValue = entry.value;
    });
  }
  // The read this rename stands for runs the error capture when it reads nothing: a
  // missing key, or an empty value. Then it is made, so that LastErrorA says what that
  // read says on this platform.
  if (!storedValue || storedValue->empty()) {
    UniqueBstr sectionArgument = UniqueBstr::Copy(section);
    UniqueBstr keyArgument = UniqueBstr::Copy(currentKeyName);
    UniqueBstr read;
    ThrowIfFailed(self_.ReadValue(sectionArgument.InOut(), keyArgument.InOut(), read.InOut()));
  }
  if (!storedValue || SameProfileName(current.View(), KeyText(newKeyName).View())) return;

  UniqueBstr sectionArgument = UniqueBstr::Copy(section);
  UniqueBstr keyArgument = UniqueBstr::Copy(newKeyName);
  UniqueBstr valueArgument = BstrFromAnsi(*storedValue);
  VARIANT_BOOL written = VARIANT_FALSE;
  ThrowIfFailed(self_.WriteValue(sectionArgument.InOut(), keyArgument.InOut(), valueArgument.InOut(), &written));
  if (!written) return;
  ThrowIfFailed(self_.DeleteKey(section, currentKeyName));
}

// ---- Whole sections -------------------------------------------------------------------

LONG Tolvane::SectionsCount() {
  if (!CheckFileName()) return -1;
  const AnsiText file = FileArgument();
  const service::FileLock lock = LockFile(file);
  if (!lock.Held()) return 0;
  service::Buffer buffer = service::MakeBuffer(service::kListBufferSize);
  const DWORD count = service::ReadSectionNames(buffer, file);
  if (count == 0) CaptureLastError();
  FileNameSeen(file);
  if (count == 0) return 0;
  return ForEachListItem(buffer, count, [](SHORT, std::string_view) {});
}

// A missing or empty section returns False and leaves the caller's arrays as they were.
UniqueVariant Tolvane::ReadSection(BSTR* section, SAFEARRAY** keys, SAFEARRAY** values) {
  UniqueVariant result;
  V_VT(result.Get()) = VT_BOOL;
  V_BOOL(result.Get()) = VARIANT_FALSE;
  if (!CheckFileName()) return result;
  const AnsiText file = FileArgument();
  const service::FileLock lock = LockFile(file);
  if (!lock.Held()) return result;
  service::Buffer buffer = service::MakeBuffer(service::kListBufferSize);
  const AnsiText sectionText = SectionText(*section);
  const DWORD count = service::ReadSection(sectionText, buffer, file);
  if (count == 0) CaptureLastError();
  service::WriteBack(section, sectionText);
  FileNameSeen(file);
  if (count == 0) return result;

  // The lines up to and including the first one without "=", which ends the read with
  // the invalid-argument fault once the lines before it are stored.
  std::vector<Entry> entries;
  bool lineWithoutEquals = false;
  ForEachListItem(buffer, count, [&](SHORT, std::string_view line) {
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
      keyElements[i] = BstrFromAnsi(entries[i].key).Release();
      valueElements[i] = BstrFromAnsi(entries[i].value).Release();
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

bool Tolvane::SectionExists(const AnsiText& section, const AnsiText& file) {
  std::string names;
  return service::ReadAllSectionNames(names, file) && NameListHolds(names, section.View());
}

bool Tolvane::CreateEmptySection(const AnsiText& section, const AnsiText& file) {
  // Writing a key and deleting it leaves the section's header behind.
  const AnsiText placeholder(std::string("SectionAdd"));
  if (!service::WriteString(section, placeholder, AnsiText(std::string()), file)) return false;
  if (service::WriteString(section, placeholder, AnsiText(), file)) return true;
  // The placeholder must not stay behind as a key nobody wrote: the section, which was
  // missing, goes again. The failure's code is kept for the error capture that follows.
  const DWORD code = service::LastError();
  service::WriteString(section, AnsiText(), AnsiText(), file);
  SetLastError(code);
  return false;
}

// An existing section, keys and all, is left as it is.
bool Tolvane::SectionAdd(BSTR section) {
  if (!CheckFileName() || Refused(RefusalForSection(section))) return false;
  const AnsiText file = FileArgument();
  const service::FileLock lock = LockFile(file);
  if (!lock.Held() || RefusedNewSection(section, file)) return false;
  const AnsiText sectionText = SectionText(section);
  // A section with lines counts as existing even when the name list cannot be read: the
  // empty whole-section write below would remove its keys.
  std::string lines;
  bool added = SectionExists(sectionText, file) || service::ReadWholeSection(sectionText, lines, file);
  if (!added) {
    static constexpr char kNoEntries[] = "\0";  // one NUL, then the closing NUL
    added = service::WriteSection(sectionText, kNoEntries, file) &&
            (SectionExists(sectionText, file) || CreateEmptySection(sectionText, file));
    if (!added) CaptureLastError();
  }
  FileNameSeen(file);
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
  if (Refused(RefusalForSection(*section))) return 0;
  std::string entries;
  for (LONGLONG index = lower; index <= upper; ++index) {  // wide: `upper` may be LONG_MAX
    const LONG i = static_cast<LONG>(index);
    BSTR key = TextAt(keys, i);
    BSTR value = TextAt(values, i);
    if (Refused(RefusalForWrite(nullptr, key, value))) return 0;
    service::AppendAnsi(entries, key, service::TextRole::Key);
    entries += '=';
    service::AppendAnsi(entries, value, service::TextRole::Value);
    entries += '\0';
  }
  const AnsiText file = FileArgument();
  const service::FileLock lock = LockFile(file);
  // Without a pair the section is removed, not started.
  if (!lock.Held() || (lower <= upper && RefusedNewSection(*section, file))) return 0;
  const AnsiText sectionText = SectionText(*section);
  // No pair means no entry list at all, not an empty one.
  if (!service::WriteSection(sectionText, lower <= upper ? entries.c_str() : nullptr, file)) CaptureLastError();
  service::WriteBack(section, sectionText);
  FileNameSeen(file);
  return upper;
}

void Tolvane::DeleteSection(BSTR section) {
  const AnsiText file = FileArgument();
  const service::FileLock lock = LockFile(file);
  if (!lock.Held()) return;
  service::WriteString(SectionText(section), AnsiText(), AnsiText(), file);
  FileNameSeen(file);
}

// Moves every key with its whole value, as the file holds it, and deletes the current
// section only once all of them are confirmed in the new one. A missing section, or a
// new name that the service takes for the same section, changes nothing; an empty
// section is renamed as an empty section. Nothing is written when something could not
// be moved: a line without "=" (no key can carry it), or a stored key that the write
// rules refuse.
void Tolvane::RenameSection(BSTR currentSectionName, BSTR newSectionName) {
  const AnsiText current = SectionText(currentSectionName);
  const AnsiText target = SectionText(newSectionName);
  if (Refused(RefusalForSectionRename(newSectionName)) || SameProfileName(current.View(), target.View())) return;
  const AnsiText file = FileArgument();
  const service::FileLock lock = LockFile(file);
  if (!lock.Held() || RefusedNewSection(newSectionName, file)) return;

  std::string list;
  if (!service::ReadWholeSection(current, list, file)) {
    RenameEmptySection(current, currentSectionName, newSectionName, file);
    return;
  }
  const std::optional<MovableEntries> movable = ReadMovableEntries(list);
  if (!movable) return;

  // The current section was just read, so the file has sections: an empty name list is a
  // failed read, and must not pass for a missing target, whose keys the whole-section
  // write would replace.
  std::string names;
  if (!service::ReadAllSectionNames(names, file)) {
    CaptureLastError();
    return;
  }
  const bool copied = NameListHolds(names, target.View())
                          ? MergeIntoExistingSection(*movable, newSectionName)
                          : CopyIntoNewSection(*movable, newSectionName, list, file);
  if (copied) ThrowIfFailed(self_.DeleteSection(currentSectionName));
}

// An empty section reads as nothing, with no error; a failed read must not pass for one,
// or the section would be deleted with its keys. A missing file has nothing to rename,
// and reports nothing, as the reads and the deletion this rename stands for report nothing.
void Tolvane::RenameEmptySection(const AnsiText& current, BSTR currentSectionName, BSTR newSectionName,
                                 const AnsiText& file) {
  const DWORD readFailure = service::LastError();
  if (readFailure == ERROR_FILE_NOT_FOUND || readFailure == ERROR_PATH_NOT_FOUND) return;
  if (readFailure != 0) {
    CaptureLastError();
    return;
  }
  if (!SectionExists(current, file)) return;
  UniqueBstr targetArgument = UniqueBstr::Copy(newSectionName);
  VARIANT_BOOL added = VARIANT_FALSE;
  ThrowIfFailed(self_.SectionAdd(targetArgument.Get(), &added));
  if (added) ThrowIfFailed(self_.DeleteSection(currentSectionName));
}

std::optional<Tolvane::MovableEntries> Tolvane::ReadMovableEntries(std::string_view list) {
  MovableEntries movable;
  bool onlyKeys = true;
  ForEachItem(list, [&](std::string_view line) {
    movable.entries.push_back(SplitEntry(line));
    onlyKeys = onlyKeys && movable.entries.back().hasEquals;
  });
  if (!onlyKeys) {
    SetLastErrorText(kLinesWithoutKeys);
    return std::nullopt;
  }
  const std::vector<Entry>& entries = movable.entries;
  const LONG count = static_cast<LONG>(entries.size());
  movable.keys = TextArrayOf(count, [&](LONG i) { return entries[i].key; });
  movable.values = TextArrayOf(count, [&](LONG i) { return entries[i].value; });
  for (LONG i = 0; i < count; ++i) {
    if (Refused(RefusalForWrite(nullptr, TextAt(movable.keys.Get(), i), TextAt(movable.values.Get(), i)))) {
      return std::nullopt;
    }
  }
  return movable;
}

// Into a new section the keys go in one whole-section write, confirmed by reading the
// section back.
bool Tolvane::CopyIntoNewSection(const MovableEntries& movable, BSTR newSectionName, std::string_view list,
                                 const AnsiText& file) {
  UniqueBstr targetArgument = UniqueBstr::Copy(newSectionName);
  SAFEARRAY* keySlot = movable.keys.Get();
  SAFEARRAY* valueSlot = movable.values.Get();
  LONG lastIndex = 0;
  ThrowIfFailed(self_.SectionWriteAtOnce(targetArgument.InOut(), &keySlot, &valueSlot, &lastIndex));
  std::string copied;
  if (!service::ReadWholeSection(SectionText(newSectionName), copied, file) || copied != list) {
    SetLastErrorText(kCopyNotConfirmed);
    return false;
  }
  return true;
}

// Into an existing section key by key, so that its own keys stay and copied keys replace
// those of the same name. Of several lines with one key name, readers only ever see the
// first, so only the first is copied.
bool Tolvane::MergeIntoExistingSection(const MovableEntries& movable, BSTR newSectionName) {
  UniqueBstr targetArgument = UniqueBstr::Copy(newSectionName);
  std::unordered_set<std::string> copiedKeys;
  com_types::SafeArrayData<BSTR> keyElements(movable.keys.Get()), valueElements(movable.values.Get());
  for (size_t i = 0; i < movable.entries.size(); ++i) {
    if (!copiedKeys.insert(ProfileNameKey(movable.entries[i].key)).second) continue;
    UniqueBstr key = UniqueBstr::Copy(keyElements[i]);
    UniqueBstr value = UniqueBstr::Copy(valueElements[i]);
    VARIANT_BOOL written = VARIANT_FALSE;
    ThrowIfFailed(self_.WriteValue(targetArgument.InOut(), key.InOut(), value.InOut(), &written));
    if (!written) return false;
  }
  return true;
}

}  // namespace profile_object
