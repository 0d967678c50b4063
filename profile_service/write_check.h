// Whether a platform write that reported success left the file whole.
//
// The platform rewrites the whole file for every write: it empties the file, then writes
// it out section by section, and does not report a write that failed on the way (seen
// under Wine on a full disk: the call returned TRUE with the file cut after any byte). A
// forecast of free room cannot guard that: another writer may take the room in between,
// a quota or a link onto another volume may apply. So the file is looked at afterwards.
//
// A write touches one section. Every other section keeps its lines, in order (the
// platform only drops blank lines and blanks around names, which the comparison ignores),
// and the file ends with a whole line; the written section holds exactly the keys the
// write leaves there. A file cut anywhere breaks one of these.
#pragma once

#include <string>
#include <string_view>

namespace profile_service {

struct WriteShape {
  enum class Kind { SetKey, DeleteKey, DeleteSection, ReplaceSection };
  Kind kind;
  std::wstring section;  // as the platform was given them
  std::wstring key;      // SetKey, DeleteKey
  size_t entries = 0;    // ReplaceSection: the "key=value" entries given
};

// `before` and `after` are the file's bytes around the write, in the same encoding.
bool LeftWhole(std::string_view before, std::string_view after, const WriteShape& write);

}  // namespace profile_service
