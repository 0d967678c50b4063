// Tolvane: one INI file's operations, each passed straight to the profile service. The
// object keeps only its file name and a description of its last failure. For every member:
// - Outcomes are results. Without a file name the guarded members return their no-file
//   value ("False", False, -1, 0) and LastErrorA becomes "Missing IniFilename"; when the
//   service fails they return the absent text, False or 0, and LastErrorA holds the
//   system's message. A success never clears LastErrorA.
// - Every member that reaches the file does so in WithFile (below), with the file locked
//   from its first service call to its last; a lock not had fails the member as the
//   service fails, LastErrorA naming the lock. Arguments are copied before and given back
//   after, so that no fault in the caller's memory can happen while the file is locked.
// - Faults (fault.h) abort a call as an exception; work already done stays done.
// - By-reference texts come back as the file saw them (ServiceText::Seen, or Stored for
//   what a write stores); by-value texts are never changed.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "com_types/owners.h"
#include "com_types/tolvane_interface.h"
#include "profile_object/profile_lists.h"
#include "profile_service/profile_service.h"

namespace profile_object {

class Tolvane {
 public:
  // `publicInterface` is the object's own _Tolvane: the composite operations
  // (RenameKey, RenameSection) reach their parts through it, as a client would.
  explicit Tolvane(_Tolvane& publicInterface) : self_(publicInterface) {}
  Tolvane(const Tolvane&) = delete;
  Tolvane& operator=(const Tolvane&) = delete;

  // Never the absent (null) text: a caller may use the result as a string unchecked.
  com_types::UniqueBstr IniFileName() const { return TextOrEmpty(fileName_.Get()); }
  void SetIniFileName(BSTR newFileName) { fileName_ = com_types::UniqueBstr::Copy(newFileName); }
  com_types::UniqueBstr LastErrorA() const { return TextOrEmpty(lastErrorText_.Get()); }

  // Single keys.
  com_types::UniqueBstr ReadValue(BSTR* section, BSTR* key);
  bool WriteValue(BSTR* section, BSTR* key, BSTR* value);
  bool CreateKeyAndValue(BSTR section, BSTR key, BSTR value);
  void DeleteKey(BSTR section, BSTR key);
  void RenameKey(BSTR section, BSTR currentKeyName, BSTR newKeyName);

  // Whole sections.
  LONG SectionsCount();
  com_types::UniqueVariant ReadSection(BSTR* section, SAFEARRAY** keys, SAFEARRAY** values);
  bool SectionAdd(BSTR section);
  LONG SectionWriteAtOnce(BSTR* section, SAFEARRAY* keys, SAFEARRAY* values);
  void DeleteSection(BSTR section);
  void RenameSection(BSTR currentSectionName, BSTR newSectionName);

 private:
  using ServiceText = profile_service::ServiceText;
  using ProfileFile = profile_service::ProfileFile;

  // The file-name guard: false, with "Missing IniFilename", when there is no file name.
  bool CheckFileName();
  // The object's file name as the service takes it.
  profile_service::AnsiText FileName() const;
  // The caller's by-reference texts that a member gives back, each as the file saw it.
  using GiveBacks = std::vector<std::pair<BSTR*, std::optional<std::wstring>>>;
  // The bracket of every member that uses the file, opened in `mode`: nullopt when it
  // cannot be used (LastErrorA says why), else `work(file, giveBacks)`'s result, nullopt
  // for a refusal. After a result the use ends (journal committed, lock given back), the
  // file name is stored as the service saw it, and the by-reference texts given back last.
  template <typename Work>
  auto WithFile(profile_service::LockMode mode, Work work) {
    GiveBacks giveBacks;
    ProfileFile file(FileName(), mode);
    decltype(work(file, giveBacks)) result;
    if (Usable(file) && (result = work(file, giveBacks))) Done(file, giveBacks);
    return result;
  }
  bool Usable(const ProfileFile& file);
  void Done(ProfileFile& file, const GiveBacks& giveBacks);
  // Records GetLastError and its system message; call right after a service call returned 0.
  void CaptureLastError();
  // A service call's result, the error captured when it is 0.
  template <typename Result>
  Result Captured(Result result) {
    if (!result) CaptureLastError();
    return result;
  }
  void SetLastErrorText(const wchar_t* text);
  // Puts a write rule's refusal in LastErrorA; false when there is none.
  bool Refused(const wchar_t* refusal);
  // Refuses "]" in the name of a section that the write would start.
  bool RefusedNewSection(const ServiceText& section, ProfileFile& file);
  // `givenBack`: the caller's by-reference section, key and value, or none.
  bool WriteKey(const ServiceText& section, const ServiceText& key, const ServiceText& value,
                std::array<BSTR*, 3> givenBack);
  void Delete(const ServiceText& section, const ServiceText& key);
  bool SectionExists(const ServiceText& section, ProfileFile& file);
  // Adds an empty section where the service's empty whole-section write created none.
  bool CreateEmptySection(const ServiceText& section, ProfileFile& file);

  // The steps of the renames (profile_object/renames.cpp), once the file is in use.
  void RenameKeyIn(ProfileFile& file, const ServiceText& section, const ServiceText& current,
                   const ServiceText& renamed);
  void RenameSectionIn(ProfileFile& file, const ServiceText& current, const ServiceText& target);
  void RenameEmptySection(const ServiceText& current, const ServiceText& target, ProfileFile& file);
  // The section's entries (views into `list`), or nullopt (with the reason in LastErrorA)
  // when one of them cannot be moved.
  std::optional<std::vector<Entry>> ReadMovableEntries(std::wstring_view list);
  // Each true once every entry is in the target section.
  bool CopyIntoNewSection(const std::vector<Entry>& entries, const ServiceText& target, std::wstring_view list,
                          ProfileFile& file);
  bool MergeIntoExistingSection(const std::vector<Entry>& entries, const ServiceText& target);

  static com_types::UniqueBstr TextOrEmpty(BSTR text) {
    return text ? com_types::UniqueBstr::Copy(text) : com_types::UniqueBstr::Copy(L"", 0);
  }

  _Tolvane& self_;
  // Both texts start empty, held as the null BSTR (the empty text to every BSTR reader).
  com_types::UniqueBstr fileName_;
  LONG lastErrorCode_ = 0;
  com_types::UniqueBstr lastErrorText_;
};

}  // namespace profile_object
