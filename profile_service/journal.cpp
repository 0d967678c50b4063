#include "profile_service/journal.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "com_types/registry_key.h"
#include "profile_service/file_identity.h"
#include "profile_service/unique_handle.h"

namespace profile_service {
namespace {

constexpr char kMark[8] = {'T', 'o', 'l', 'v', 'J', 'r', 'n', '3'};
constexpr std::uint32_t kFileExisted = 1;

// What leads a journal, in the order it is stored; the file's long name (without its
// folder, which other spellings reach by other paths) and its bytes follow. Every field
// lies at a multiple of its size, so the layout is the same in 32-bit and 64-bit processes.
struct Header {
  char mark[8];
  std::uint32_t flags;
  std::uint32_t nameUnits;  // UTF-16 units of the name
  std::uint64_t length;     // bytes of the file
  std::uint64_t checksum;   // FNV-1a over the header (this field 0), the name and the bytes
};
static_assert(sizeof(Header) == 32);

class Fnv1a {
 public:
  void Add(const void* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      hash_ ^= static_cast<const unsigned char*>(data)[i];
      hash_ *= 1099511628211ull;
    }
  }
  std::uint64_t Value() const { return hash_; }

 private:
  std::uint64_t hash_ = 14695981039346656037ull;
};

std::uint64_t ChecksumOf(Header header, std::wstring_view name, std::string_view bytes) {
  header.checksum = 0;
  Fnv1a hash;
  hash.Add(&header, sizeof header);
  hash.Add(name.data(), name.size() * sizeof(wchar_t));
  hash.Add(bytes.data(), bytes.size());
  return hash.Value();
}

std::wstring_view LeafOf(std::wstring_view path) { return path.substr(path.find_last_of(L'\\') + 1); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

OVERLAPPED At(ULONGLONG offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

bool ReadAt(HANDLE file, ULONGLONG offset, void* buffer, DWORD size) {
  OVERLAPPED at = At(offset);
  DWORD read = 0;
  return size == 0 || (ReadFile(file, buffer, size, &read, &at) && read == size);
}

bool WriteAt(HANDLE file, ULONGLONG offset, const void* data, DWORD size) {
  OVERLAPPED at = At(offset);
  DWORD written = 0;
  return size == 0 || (WriteFile(file, data, size, &written, &at) && written == size);
}

bool CutAt(HANDLE file, ULONGLONG size) {
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// Writes `bytes` over the file from its start and cuts it there, then flushes it.
bool WriteAllFlushed(HANDLE file, std::string_view bytes) {
  return WriteAt(file, 0, bytes.data(), static_cast<DWORD>(bytes.size())) && CutAt(file, bytes.size()) &&
         FlushFileBuffers(file);
}

// Empties the lock file; where that fails, wipes the journal's mark, so that it is never
// put back (invariant 5). Not flushed: a power cut right after may bring the journal back,
// and the next holder of the lock then puts back the file as it was before the change.
void EmptyJournal(HANDLE lockFile) {
  if (CutAt(lockFile, 0)) return;
  const char wiped[sizeof kMark] = {};
  WriteAt(lockFile, 0, wiped, sizeof wiped);
}

bool Missing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

// Puts the file back as `saved` holds it: its bytes, or no file.
bool PutBack(const std::wstring& path, const std::optional<std::string>& saved, DWORD disposition) {
  if (!saved) return DeleteFileW(path.c_str()) || Missing(GetLastError());
  const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, disposition, 0, nullptr));
  return file.Valid() && WriteAllFlushed(file.Get(), *saved);
}

ULONGLONG Ticks(const FILETIME& time) { return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

// Lock files whose contents recovery left alone, as they stood then: each is judged once
// per process, not read again by every call. A lock file is known by its size and times,
// which are quick to ask; its volume and index take a millisecond under Wine.
class JudgedJournals {
 public:
  struct Seen {
    LONGLONG size, created, written, changed;
    bool operator==(const Seen&) const = default;
  };
  static std::optional<Seen> Of(HANDLE lockFile) {
    FILE_BASIC_INFO times{};
    LARGE_INTEGER size{};
    if (!GetFileInformationByHandleEx(lockFile, FileBasicInfo, &times, sizeof times) || !GetFileSizeEx(lockFile, &size)) {
      return std::nullopt;
    }
    return Seen{size.QuadPart, times.CreationTime.QuadPart, times.LastWriteTime.QuadPart, times.ChangeTime.QuadPart};
  }
  bool Holds(const Seen& seen) {
    std::lock_guard<std::mutex> guard(guard_);
    return std::find(judged_.begin(), judged_.end(), seen) != judged_.end();
  }
  void Add(const Seen& seen) {
    std::lock_guard<std::mutex> guard(guard_);
    if (judged_.size() >= 64) judged_.clear();
    judged_.push_back(seen);
  }

 private:
  std::mutex guard_;
  std::vector<Seen> judged_;
};

JudgedJournals& Judged() {
  static JudgedJournals judged;  // thread-safe first use
  return judged;
}

// What the lock file holds, judged from its first bytes.
enum class Contents { Empty, Torn, OtherThanJournal, OtherFilesJournal, Journal };

struct Found {
  Contents contents = Contents::Torn;
  Header header{};
  std::wstring name;
  ULONGLONG dataOffset = 0;
};

Found Judge(HANDLE lockFile, ULONGLONG size, std::wstring_view path) {
  if (size == 0) return Found{Contents::Empty, {}, {}, 0};
  char first[sizeof kMark] = {};
  const DWORD markBytes = static_cast<DWORD>(std::min<ULONGLONG>(size, sizeof kMark));
  if (!ReadAt(lockFile, 0, first, markBytes) || std::memcmp(first, kMark, markBytes) != 0) {
    return Found{Contents::OtherThanJournal, {}, {}, 0};
  }
  Found found;
  if (size < sizeof(Header) || !ReadAt(lockFile, 0, &found.header, sizeof(Header))) return found;
  const Header& header = found.header;
  found.dataOffset = sizeof(Header) + ULONGLONG{header.nameUnits} * sizeof(wchar_t);
  if (header.nameUnits == 0 || header.nameUnits > 32767 || size != found.dataOffset + header.length) return found;
  found.name.resize(header.nameUnits);
  if (!ReadAt(lockFile, sizeof(Header), found.name.data(), header.nameUnits * sizeof(wchar_t))) return found;
  found.contents = SamePath(found.name, LeafOf(path)) ? Contents::Journal : Contents::OtherFilesJournal;
  return found;
}

// Whether the file at `path` plainly changed after the journal's writer stopped: it is
// gone though it was there, or was written later than the writer could have.
bool ChangedSince(const std::wstring& path, bool existed, ULONGLONG journalWritten) {
  WIN32_FILE_ATTRIBUTE_DATA file{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &file)) return existed || !Missing(GetLastError());
  constexpr ULONGLONG kTicksPerSecond = 10000000;
  return Ticks(file.ftLastWriteTime) > journalWritten + kJournalBoundSeconds * kTicksPerSecond;
}

}  // namespace

Journal::Journal(HANDLE lockFile, std::wstring path, std::optional<std::string> saved)
    : lockFile_(lockFile), path_(std::move(path)), saved_(std::move(saved)), stamped_(GetTickCount64()), open_(true) {}

Journal::Journal(Journal&& other) noexcept
    : lockFile_(other.lockFile_),
      path_(std::move(other.path_)),
      saved_(std::move(other.saved_)),
      stamped_(other.stamped_),
      open_(std::exchange(other.open_, false)) {}

Journal::~Journal() { RollBack(); }

std::optional<Journal> Journal::Begin(HANDLE lockFile, const std::wstring& path, std::optional<std::string> saved) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(lockFile, &size)) return std::nullopt;
  if (size.QuadPart != 0) {  // holds what recovery left alone (invariant 6)
    SetLastError(ERROR_ALREADY_EXISTS);
    return std::nullopt;
  }
  const std::wstring_view name = LeafOf(path);
  const std::string_view bytes = saved ? std::string_view(*saved) : std::string_view();
  Header header{};
  std::memcpy(header.mark, kMark, sizeof kMark);
  header.flags = saved ? kFileExisted : 0;
  header.nameUnits = static_cast<std::uint32_t>(name.size());
  header.length = bytes.size();
  header.checksum = ChecksumOf(header, name, bytes);
  std::string journal(reinterpret_cast<const char*>(&header), sizeof header);
  journal.append(reinterpret_cast<const char*>(name.data()), name.size() * sizeof(wchar_t));
  journal += bytes;
  // The lock file is empty: written from its start, it needs no cutting.
  if (!WriteAt(lockFile, 0, journal.data(), static_cast<DWORD>(journal.size())) || !FlushFileBuffers(lockFile)) {
    const DWORD failure = GetLastError();
    EmptyJournal(lockFile);
    SetLastError(failure);
    return std::nullopt;
  }
  return Journal(lockFile, path, std::move(saved));
}

void Journal::BeforeWrite() {
  const ULONGLONG now = GetTickCount64();
  if (!open_ || now - stamped_ < kJournalStampSeconds * 1000) return;
  WriteAt(lockFile_, 0, kMark, sizeof kMark);  // the same bytes: only the write time moves
  stamped_ = now;
}

void Journal::Commit() {
  if (!std::exchange(open_, false)) return;
  {
    const UniqueHandle file(CreateFileW(path_.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file.Valid()) FlushFileBuffers(file.Get());
  }
  EmptyJournal(lockFile_);
}

void Journal::RollBack() {
  if (!std::exchange(open_, false)) return;
  // Should the file not be put back, the journal stays for the next holder of the lock.
  if (PutBack(path_, saved_, OPEN_ALWAYS)) EmptyJournal(lockFile_);
}

bool JournalWaiting(HANDLE lockFile) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(lockFile, &size) || size.QuadPart == 0) return false;  // the cheap look first
  const std::optional<JudgedJournals::Seen> seen = JudgedJournals::Of(lockFile);
  return seen && !Judged().Holds(*seen);
}

void RecoverAbandonedJournal(HANDLE lockFile, const std::wstring& path) {
  const std::optional<JudgedJournals::Seen> seen = JudgedJournals::Of(lockFile);
  if (!seen) return;
  const ULONGLONG size = static_cast<ULONGLONG>(seen->size);
  const Found found = Judge(lockFile, size, path);
  switch (found.contents) {
    case Contents::Empty:
      return;
    case Contents::OtherThanJournal:
    case Contents::OtherFilesJournal:
      Judged().Add(*seen);
      return;
    case Contents::Torn:  // its writer stopped while writing it, before the file was touched
      EmptyJournal(lockFile);
      return;
    case Contents::Journal:
      break;
  }
  const Header& header = found.header;
  const bool existed = (header.flags & kFileExisted) != 0;
  std::string bytes(static_cast<size_t>(header.length), '\0');
  const bool whole = ReadAt(lockFile, found.dataOffset, bytes.data(), static_cast<DWORD>(bytes.size())) &&
                     header.checksum == ChecksumOf(header, found.name, bytes);
  if (!whole || ChangedSince(path, existed, static_cast<ULONGLONG>(seen->written))) {
    EmptyJournal(lockFile);
    return;
  }
  if (!PutBack(path, existed ? std::optional<std::string>(std::move(bytes)) : std::nullopt, OPEN_EXISTING)) {
    Judged().Add(*seen);
    return;
  }
  EmptyJournal(lockFile);
}

bool MappedToRegistry(const std::wstring& path) {
  wchar_t windows[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring folder = std::wstring(windows, length) + L"\\";
  const size_t leaf = path.find_last_of(L'\\');
  if (length == 0 || leaf == std::wstring::npos || leaf + 1 != folder.size() ||
      !SamePath(std::wstring_view(path).substr(0, folder.size()), folder)) {
    return false;
  }
  const std::wstring key =
      L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\" + path.substr(leaf + 1);
  com_types::UniqueRegistryKey mapping;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, mapping.Put()) ==
         ERROR_SUCCESS;
}

}  // namespace profile_service
