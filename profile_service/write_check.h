// Whether a platform write that reported success left the file whole. The platform
// empties the file and writes it out again for every write, and does not report a write
// that failed on the way (under Wine on a full disk: TRUE, the file cut after any byte).
// No forecast of free room can guard that (another writer may take the room, a quota may
// apply), so the file is looked at afterwards. A write touches one section: every other
// section keeps its lines in order (blank lines and blanks around names, which the
// platform drops, aside), the written one holds exactly the keys the write leaves there,
// and the file ends with a whole line. A file cut anywhere breaks one of these.
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
