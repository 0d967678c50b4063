#include "tools/typelib_builder/coclass_flags.h"

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace typelib_builder {
namespace {

// Layout of the MSFT format, as far as this needs it (offsets in bytes).
constexpr uint32_t kMagic = 0x5446534D;  // "MSFT"
constexpr size_t kHeaderSize = 0x54;
constexpr size_t kVarFlagsOffset = 0x14;  // bit 0x100: a help DLL name follows the header
constexpr size_t kTypeInfoCountOffset = 0x20;
constexpr size_t kTypeInfoEntrySize = 0x64;  // one entry of the type-info table
constexpr size_t kTypeKindOffset = 0x00;     // low nibble: TYPEKIND
constexpr size_t kTypeFlagsOffset = 0x30;

int32_t ReadInt(const std::vector<char>& file, size_t offset) {
  int32_t value = 0;
  std::memcpy(&value, file.data() + offset, sizeof value);
  return value;
}

}  // namespace

bool SetCoclassFlags(const wchar_t* path, unsigned flags) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  if (file.size() < kHeaderSize || static_cast<uint32_t>(ReadInt(file, 0)) != kMagic) return false;

  const int32_t count = ReadInt(file, kTypeInfoCountOffset);
  size_t offsetsAt = kHeaderSize + ((ReadInt(file, kVarFlagsOffset) & 0x100) ? 4 : 0);
  const size_t segmentDirectory = offsetsAt + static_cast<size_t>(count) * 4;
  if (segmentDirectory + 4 > file.size()) return false;
  const size_t typeInfoTable = static_cast<size_t>(ReadInt(file, segmentDirectory));  // first segment

  for (int32_t i = 0; i < count; ++i) {
    const size_t entry = typeInfoTable + static_cast<size_t>(ReadInt(file, offsetsAt + 4 * i));
    if (entry + kTypeInfoEntrySize > file.size()) return false;
    if ((ReadInt(file, entry + kTypeKindOffset) & 0xF) != TKIND_COCLASS) continue;
    const int32_t value = static_cast<int32_t>(flags);
    std::memcpy(file.data() + entry + kTypeFlagsOffset, &value, sizeof value);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(file.data(), static_cast<std::streamsize>(file.size()));
  return static_cast<bool>(out);
}

}  // namespace typelib_builder
