// RenameKey and RenameSection: the members made of other members. They reach their parts
// (ReadValue, WriteValue, SectionWriteAtOnce, SectionAdd and the deletes) through the
// object's own interface, as a client would, so that a part's failing call status ends
// the rename with that status. The parts join the rename's use of the file
// (profile_service/profile_file.h): one lock and one journal around them all, so a rename
// stopped half way by a kill or a power cut leaves the file as it was; one stopped by a
// fault of a part keeps what was done, as every fault does.
//
// Both move what they move exactly as the file holds it, and remove the old key or
// section only once the new one is confirmed: no key and no part of a value is lost.
// What a write would store otherwise (StoredOtherwise) is not moved at all. The names go
// to every part without the blanks around them (see NameText).
#include <algorithm>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "profile_object/fault.h"
#include "profile_object/profile_lists.h"
#include "profile_object/text_arrays.h"
#include "profile_object/tolvane.h"
#include "profile_object/tolvane_texts.h"
#include "profile_object/write_rules.h"

namespace profile_object {

using com_types::UniqueBstr;
using com_types::UniqueSafeArray;
namespace service = profile_service;

namespace {

// A new text array of one field of the entries: their keys, or their values.
UniqueSafeArray TextArrayOf(const std::vector<Entry>& entries, std::wstring_view Entry::*field) {
  UniqueSafeArray array = NewTextArray(static_cast<LONG>(entries.size()));
  com_types::SafeArrayData<BSTR> elements(array.Get());
  for (size_t i = 0; i < entries.size(); ++i) elements[i] = BstrOf(entries[i].*field).Release();
  return array;
}

std::wstring SeenIn(const ServiceText& text, service::ProfileFile& file) { return text.Seen(file).value_or(L""); }

// Whether a text that the file holds would be stored otherwise if written back: in a file
// marked FE FF or EF BB BF, as "?" for a look-alike (profile_service/ansi_text.h).
bool StoredOtherwise(std::wstring_view text, service::TextRole role, service::ProfileFile& file) {
  return ServiceText(text, role).Stored(file) != std::optional<std::wstring>(text);
}

}  // namespace

// The value comes from the section's entry list: neither cut at 254 characters nor
// stripped of quotes. A missing key, or a new name the service takes for the same key,
// changes nothing. LastErrorA ends as the read, write and delete it stands for leave it.
void Tolvane::RenameKey(BSTR section, BSTR currentKeyName, BSTR newKeyName) {
  if (!CheckFileName()) return;
  const ServiceText sectionGiven = NameText(section, service::TextRole::Section),
                    current = NameText(currentKeyName, service::TextRole::Key),
                    renamedGiven = NameText(newKeyName, service::TextRole::Key);
  if (Refused(RefusalForKeyRename(current, renamedGiven))) return;
  WithFile(service::LockMode::WriteExisting, [&](ProfileFile& file, GiveBacks&) -> std::optional<bool> {
    RenameKeyIn(file, sectionGiven, current, renamedGiven);
    return true;
  });
}

void Tolvane::RenameKeyIn(ProfileFile& file, const ServiceText& sectionGiven, const ServiceText& current,
                          const ServiceText& renamedGiven) {
  // The names that are written go to every part in the form the writes store them.
  const ServiceText sectionText = sectionGiven.StoredIn(file), renamed = renamedGiven.StoredIn(file);
  const std::wstring currentSeen = SeenIn(current, file);
  std::wstring entries;
  std::optional<std::wstring_view> storedValue;
  if (service::ReadWholeSection(file, sectionText, entries)) {
    ForEachItem(entries, [&](std::wstring_view line) {
      const Entry entry = SplitEntry(line);
      if (!storedValue && entry.hasEquals && SameProfileName(entry.key, currentSeen)) storedValue = entry.value;
    });
  }
  // The read this rename stands for runs the error capture when it reads nothing: a
  // missing key, or an empty value. Then it is made, so that LastErrorA says what that
  // read says on this platform.
  if (!storedValue || storedValue->empty()) {
    UniqueBstr sectionArgument = sectionText.Bstr(), keyArgument = current.Bstr(), read;
    ThrowIfFailed(self_.ReadValue(sectionArgument.InOut(), keyArgument.InOut(), read.InOut()));
  }
  if (!storedValue || SameProfileName(currentSeen, SeenIn(renamed, file))) return;
  if (StoredOtherwise(*storedValue, service::TextRole::Value, file)) {
    SetLastErrorText(
        L"RenameKey: the value holds a character that a write to this file stores as \"?\"; the key was kept");
    return;
  }

  UniqueBstr sectionArgument = sectionText.Bstr(), keyArgument = renamed.Bstr(), valueArgument = BstrOf(*storedValue);
  VARIANT_BOOL written = VARIANT_FALSE;
  ThrowIfFailed(self_.WriteValue(sectionArgument.InOut(), keyArgument.InOut(), valueArgument.InOut(), &written));
  if (!written) return;
  ThrowIfFailed(self_.DeleteKey(sectionText.Bstr().Get(), current.Bstr().Get()));
}

// A missing section, or a new name that the service takes for the same section, changes
// nothing; an empty section is renamed as an empty section. Nothing is written when
// something could not be moved: a line without "=" (no key can carry it), or a stored key
// that the write rules refuse.
void Tolvane::RenameSection(BSTR currentSectionName, BSTR newSectionName) {
  const ServiceText current = NameText(currentSectionName, service::TextRole::Section),
                    targetGiven = NameText(newSectionName, service::TextRole::Section);
  if (Refused(RefusalForSectionRename(targetGiven))) return;
  WithFile(service::LockMode::WriteExisting, [&](ProfileFile& file, GiveBacks&) -> std::optional<bool> {
    RenameSectionIn(file, current, targetGiven);
    return true;
  });
}

void Tolvane::RenameSectionIn(ProfileFile& file, const ServiceText& current, const ServiceText& targetGiven) {
  const ServiceText target = targetGiven.StoredIn(file);  // written: as the writes store it
  if (SameProfileName(SeenIn(current, file), SeenIn(target, file)) || RefusedNewSection(target, file)) return;

  std::wstring list;
  if (!service::ReadWholeSection(file, current, list)) {
    RenameEmptySection(current, target, file);
    return;
  }
  const std::optional<std::vector<Entry>> movable = ReadMovableEntries(list);
  if (!movable) return;
  for (const Entry& entry : *movable) {
    if (StoredOtherwise(entry.key, service::TextRole::Key, file) ||
        StoredOtherwise(entry.value, service::TextRole::Value, file)) {
      SetLastErrorText(
          L"RenameSection: the section holds a character that a write to this file stores as \"?\"; the section was "
          L"kept");
      return;
    }
  }

  // The current section was just read, so the file has sections: an empty name list is a
  // failed read, and must not pass for a missing target, whose keys the whole-section
  // write would replace.
  std::wstring names;
  if (!service::ReadAllSectionNames(file, names)) {
    CaptureLastError();
    return;
  }
  const bool copied = NameListHolds(names, SeenIn(target, file)) ? MergeIntoExistingSection(*movable, target)
                                                                 : CopyIntoNewSection(*movable, target, list, file);
  if (copied) ThrowIfFailed(self_.DeleteSection(current.Bstr().Get()));
}

// An empty section reads as nothing, with no error; a failed read must not pass for one,
// or the section would be deleted with its keys. A missing file has nothing to rename,
// and reports nothing, as the reads and the deletion this rename stands for report nothing.
void Tolvane::RenameEmptySection(const ServiceText& current, const ServiceText& target, ProfileFile& file) {
  const DWORD readFailure = service::LastError();
  if (service::IsMissingFile(readFailure)) return;
  if (readFailure != 0) {
    CaptureLastError();
    return;
  }
  if (!SectionExists(current, file)) return;
  VARIANT_BOOL added = VARIANT_FALSE;
  ThrowIfFailed(self_.SectionAdd(target.Bstr().Get(), &added));
  if (added) ThrowIfFailed(self_.DeleteSection(current.Bstr().Get()));
}

std::optional<std::vector<Entry>> Tolvane::ReadMovableEntries(std::wstring_view list) {
  std::vector<Entry> entries;
  ForEachItem(list, [&](std::wstring_view line) { entries.push_back(SplitEntry(line)); });
  if (!std::all_of(entries.begin(), entries.end(), [](const Entry& entry) { return entry.hasEquals; })) {
    SetLastErrorText(
        L"RenameSection: the section holds lines without \"=\", which cannot be moved; the section was kept");
    return std::nullopt;
  }
  for (const Entry& entry : entries) {
    const ServiceText key(entry.key, service::TextRole::Key), value(entry.value, service::TextRole::Value);
    if (Refused(RefusalForEntry(key, value))) return std::nullopt;
  }
  return entries;
}

// Into a new section the keys go in one whole-section write, confirmed by reading the
// section back. A failed write is told by its LastErrorA text, which stays: a new text
// (every message is one, and nothing else in the write sets one); its result tells nothing.
bool Tolvane::CopyIntoNewSection(const std::vector<Entry>& entries, const ServiceText& target, std::wstring_view list,
                                 ProfileFile& file) {
  UniqueBstr targetArgument = target.Bstr();
  const UniqueSafeArray keys = TextArrayOf(entries, &Entry::key), values = TextArrayOf(entries, &Entry::value);
  SAFEARRAY* keySlot = keys.Get();
  SAFEARRAY* valueSlot = values.Get();
  LONG lastIndex = 0;
  const BSTR messageBefore = lastErrorText_.Get();
  ThrowIfFailed(self_.SectionWriteAtOnce(targetArgument.InOut(), &keySlot, &valueSlot, &lastIndex));
  if (lastErrorText_.Get() != messageBefore) return false;
  std::wstring copied;
  if (!service::ReadWholeSection(file, target, copied) || copied != list) {
    SetLastErrorText(L"RenameSection: the copied keys could not be read back whole; the section was kept");
    return false;
  }
  return true;
}

// Into an existing section key by key, so that its own keys stay and copied keys replace
// those of the same name. Of several lines with one key name, readers only ever see the
// first, so only the first is copied.
bool Tolvane::MergeIntoExistingSection(const std::vector<Entry>& entries, const ServiceText& target) {
  UniqueBstr targetArgument = target.Bstr();
  std::unordered_set<std::wstring> copiedKeys;
  for (const Entry& entry : entries) {
    if (!copiedKeys.insert(ProfileNameKey(entry.key)).second) continue;
    UniqueBstr key = BstrOf(entry.key), value = BstrOf(entry.value);
    VARIANT_BOOL written = VARIANT_FALSE;
    ThrowIfFailed(self_.WriteValue(targetArgument.InOut(), key.InOut(), value.InOut(), &written));
    if (!written) return false;
  }
  return true;
}

}  // namespace profile_object
