#include "profile_service/journal.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "profile_service/file_access.h"
#include "profile_service/file_identity.h"

namespace profile_service {
namespace {

// The mark's last byte is the layout's version (the previous layout: journal.h, 3).
constexpr char kMark[8] = {'T', 'o', 'l', 'v', 'J', 'r', 'n', '4'};
constexpr char kPreviousMark[8] = {'T', 'o', 'l', 'v', 'J', 'r', 'n', '3'};
constexpr size_t kFamilyBytes = 7;
constexpr std::uint32_t kFileExisted = 1;

// What leads a journal; the file's name (without its folder, which other spellings reach
// by other paths) and bytes follow. Each field lies at a multiple of its size, so the
// layout is the same in 32-bit and 64-bit processes.
struct Header {
  char mark[8];
  std::uint32_t flags;
  std::uint32_t nameUnits;  // UTF-16 units of the name
  std::uint64_t length;     // bytes of the file
  std::uint32_t volume;     // the file's identity, when it existed
  std::uint32_t reserved;
  std::uint64_t index;
  std::uint64_t checksum;  // FNV-1a over the header (this field 0), the name and the bytes
};
static_assert(sizeof(Header) == 48);

// The previous layout: the same fields without the identity.
struct PreviousHeader {
  char mark[8];
  std::uint32_t flags;
  std::uint32_t nameUnits;
  std::uint64_t length;
  std::uint64_t checksum;
};
static_assert(sizeof(PreviousHeader) == 32);

template <typename Layout>
std::uint64_t ChecksumOf(Layout header, std::wstring_view name, std::string_view bytes) {
  header.checksum = 0;
  std::uint64_t hash = 14695981039346656037ull;
  auto add = [&](const void* data, size_t size) {
    for (size_t i = 0; i < size; ++i) hash = (hash ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211ull;
  };
  add(&header, sizeof header);
  add(name.data(), name.size() * sizeof(wchar_t));
  add(bytes.data(), bytes.size());
  return hash;
}

std::wstring_view LeafOf(std::wstring_view path) { return path.substr(path.find_last_of(L'\\') + 1); }

bool WriteAllFlushed(HANDLE file, std::string_view bytes) {
  return WriteAt(file, 0, bytes.data(), static_cast<DWORD>(bytes.size())) && CutAt(file, bytes.size()) &&
         FlushFileBuffers(file);
}

// Empties the lock file; where that fails, wipes the journal's mark, so that it is never
// put back. Not flushed (invariant 2).
void EmptyJournal(HANDLE lockFile) {
  if (CutAt(lockFile, 0)) return;
  const char wiped[sizeof kMark] = {};
  WriteAt(lockFile, 0, wiped, sizeof wiped);
}

// A whole journal, as stored.
struct Stored {
  bool existed = false;
  std::optional<FileIdentity> identity;  // none in the previous layout
  std::wstring name;
  std::string bytes;
};

template <typename Layout>
std::optional<Stored> ReadStoredAs(HANDLE lockFile, const char (&mark)[8]) {
  const ULONGLONG size = SizeOf(lockFile);
  Layout header{};
  if (size < sizeof header || !ReadAt(lockFile, 0, &header, sizeof header)) return std::nullopt;
  if (std::memcmp(header.mark, mark, sizeof mark) != 0 || header.nameUnits == 0 || header.nameUnits > 32767 ||
      size != sizeof header + ULONGLONG{header.nameUnits} * sizeof(wchar_t) + header.length) {
    return std::nullopt;
  }
  Stored stored{(header.flags & kFileExisted) != 0, std::nullopt, std::wstring(header.nameUnits, L'\0'),
                std::string(static_cast<size_t>(header.length), '\0')};
  const ULONGLONG data = sizeof header + stored.name.size() * sizeof(wchar_t);
  if (!ReadAt(lockFile, sizeof header, stored.name.data(), header.nameUnits * sizeof(wchar_t)) ||
      !ReadAt(lockFile, data, stored.bytes.data(), static_cast<DWORD>(stored.bytes.size())) ||
      header.checksum != ChecksumOf(header, stored.name, stored.bytes)) {
    return std::nullopt;
  }
  if constexpr (std::is_same_v<Layout, Header>) stored.identity = FileIdentity{header.volume, header.index};
  return stored;
}

std::optional<Stored> ReadStored(HANDLE lockFile) {
  if (std::optional<Stored> stored = ReadStoredAs<Header>(lockFile, kMark)) return stored;
  return ReadStoredAs<PreviousHeader>(lockFile, kPreviousMark);
}

// Whether `lockFile` is the lock file of the file at `path`, whose lock its holder then
// holds (and not a copy of it beside another file).
bool IsLockFileOf(HANDLE lockFile, const std::wstring& path) {
  const std::wstring lockPath = path + kLockFileSuffix;
  const com_types::UniqueHandle named = OpenShared(lockPath, GENERIC_READ);
  const std::optional<FileIdentity> identity = IdentityOf(lockFile, lockPath, false);
  return named.Valid() && identity && identity == IdentityOf(named.Get(), lockPath, false);
}

}  // namespace

std::optional<FileAsFound> ReadFileAsFound(const std::wstring& path) {
  const com_types::UniqueHandle file = OpenShared(path, GENERIC_READ);
  if (!file.Valid()) return IsMissingFile(GetLastError()) ? std::optional<FileAsFound>(FileAsFound{}) : std::nullopt;
  const std::optional<FileIdentity> identity = IdentityOf(file.Get(), path, true);
  std::optional<std::string> bytes = ReadWhole(file.Get(), 0);
  if (!identity || !bytes) return std::nullopt;
  return FileAsFound{std::move(bytes), *identity};
}

bool WriteJournal(HANDLE lockFile, const std::wstring& path, const FileAsFound& found) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(lockFile, &size)) return false;
  if (size.QuadPart != 0) {  // bytes that are no journal (invariant 5)
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  const std::wstring_view name = LeafOf(path);
  const std::string_view bytes = found.bytes ? std::string_view(*found.bytes) : std::string_view();
  Header header{};
  std::memcpy(header.mark, kMark, sizeof kMark);
  header.flags = found.bytes ? kFileExisted : 0;
  header.nameUnits = static_cast<std::uint32_t>(name.size());
  header.length = bytes.size();
  header.volume = found.identity.volume;
  header.index = found.identity.index;
  header.checksum = ChecksumOf(header, name, bytes);
  std::string journal(reinterpret_cast<const char*>(&header), sizeof header);
  journal.append(reinterpret_cast<const char*>(name.data()), name.size() * sizeof(wchar_t));
  journal += bytes;
  // The lock file is empty: written from its start, it needs no cutting.
  if (!WriteAt(lockFile, 0, journal.data(), static_cast<DWORD>(journal.size())) || !FlushFileBuffers(lockFile)) {
    const DWORD failure = GetLastError();
    EmptyJournal(lockFile);
    SetLastError(failure);
    return false;
  }
  return true;
}

void Journal::Commit(HANDLE file) {
  if (!std::exchange(open_, false)) return;
  if (!file || !FlushFileBuffers(file)) {
    if (const com_types::UniqueHandle opened = OpenShared(path_, GENERIC_WRITE); opened.Valid()) {
      FlushFileBuffers(opened.Get());
    }
  }
  EmptyJournal(lockFile_);
}

// The member's own file, kept from everyone else by its lock: put back by name.
bool Journal::RollBack() {
  if (!std::exchange(open_, false)) return true;
  bool putBack = false;
  if (!saved_) {
    putBack = DeleteFileW(path_.c_str()) || IsMissingFile(GetLastError());
  } else {
    const com_types::UniqueHandle file = OpenShared(path_, GENERIC_WRITE, OPEN_ALWAYS);
    putBack = file.Valid() && WriteAllFlushed(file.Get(), *saved_);
  }
  if (putBack) EmptyJournal(lockFile_);  // otherwise it stays for the next holder of the lock
  return putBack;
}

bool JournalWaiting(HANDLE lockFile, const std::wstring& lockPath) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (GetFileAttributesExW(lockPath.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow == 0 &&
      data.nFileSizeHigh == 0) {
    return false;
  }
  char first[kFamilyBytes] = {};
  return ReadAt(lockFile, 0, first, sizeof first) && std::memcmp(first, kMark, kFamilyBytes) == 0;
}

DWORD PutBackWaitingJournal(HANDLE lockFile, const std::wstring& path) {
  if (!JournalWaiting(lockFile, path + kLockFileSuffix)) return 0;
  const std::optional<Stored> stored = ReadStored(lockFile);
  const std::wstring named = path.substr(0, path.size() - LeafOf(path).size()) + (stored ? stored->name : L"");
  if (stored && stored->existed && IsLockFileOf(lockFile, named)) {
    const com_types::UniqueHandle file = OpenShared(named, GENERIC_READ | GENERIC_WRITE);
    if (!file.Valid() && !IsMissingFile(GetLastError())) return GetLastError();
    const bool same = file.Valid() && (!stored->identity || IdentityOf(file.Get(), named, false) == stored->identity);
    if (same && !WriteAllFlushed(file.Get(), stored->bytes)) {
      return GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
    }
  }
  EmptyJournal(lockFile);
  return 0;
}

}  // namespace profile_service
