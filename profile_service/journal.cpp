#include "profile_service/journal.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>

#include "profile_service/unique_handle.h"

namespace profile_service {
namespace {

constexpr wchar_t kJournalSuffix[] = L"-journal";
constexpr char kMagic[8] = {'T', 'o', 'l', 'v', 'J', 'r', 'n', '1'};
constexpr std::uint32_t kFileExisted = 1;

// What leads a journal, in the order it is stored. Every field lies at a multiple of its
// size, so the layout is the same in 32-bit and 64-bit processes.
struct Header {
  char magic[8];
  std::uint32_t flags;
  std::uint32_t processId;
  std::uint64_t processStart;  // FILETIME of the writer process's creation
  wchar_t machine[16];         // the writer's computer name (at most 15 characters)
  std::uint64_t length;        // bytes of the file that follow
  std::uint64_t checksum;      // FNV-1a over the header (this field 0) and the bytes
};
static_assert(sizeof(Header) == 72);

std::uint64_t Checksum(Header header, const std::string& bytes) {
  header.checksum = 0;
  std::uint64_t hash = 14695981039346656037ull;
  auto add = [&](const void* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      hash ^= static_cast<const unsigned char*>(data)[i];
      hash *= 1099511628211ull;
    }
  };
  add(&header, sizeof header);
  add(bytes.data(), bytes.size());
  return hash;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The whole file; nullopt when it cannot be read, with the last error set
// (ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when there is none).
std::optional<std::string> ReadAll(const std::wstring& path) {
  const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size{};
  if (!file.Valid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x40000000) return std::nullopt;
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() && (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                         read != bytes.size())) {
    return std::nullopt;
  }
  return bytes;
}

// Writes `bytes` over the file from its start and cuts it there, then flushes it.
bool WriteAllFlushed(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  return (bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                            written == bytes.size())) &&
         SetEndOfFile(file) && FlushFileBuffers(file);
}

bool Missing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

// This process as a journal names its writer.
struct Writer {
  DWORD processId = GetCurrentProcessId();
  std::uint64_t processStart = 0;
  wchar_t machine[16] = {};
  Writer() {
    FILETIME created{}, exited{}, kernel{}, user{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    processStart = (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    DWORD size = 16;
    GetComputerNameW(machine, &size);
  }
};
const Writer& ThisProcess() {
  static const Writer writer;  // thread-safe first use
  return writer;
}

// Whether the process a journal names still runs. One that cannot be looked at for want
// of access counts as running: the journal is then left alone.
bool StillRunning(DWORD processId, std::uint64_t processStart) {
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId));
  if (!process.Valid()) return GetLastError() != ERROR_INVALID_PARAMETER;
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process.Get(), &created, &exited, &kernel, &user)) return true;
  const std::uint64_t start = (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  return start == processStart && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

// The journals this process is writing under: a journal of this process that is not
// among them was left by one of its threads that stopped in the middle of a change.
class JournalsInProgress {
 public:
  void Add(const std::wstring& journal) {
    std::lock_guard<std::mutex> guard(guard_);
    paths_.insert(journal);
  }
  void Remove(const std::wstring& journal) {
    std::lock_guard<std::mutex> guard(guard_);
    paths_.erase(journal);
  }
  bool Holds(const std::wstring& journal) {
    std::lock_guard<std::mutex> guard(guard_);
    return paths_.count(journal) != 0;
  }

 private:
  std::mutex guard_;
  std::set<std::wstring> paths_;
};
JournalsInProgress& InProgress() {
  static JournalsInProgress journals;  // thread-safe first use
  return journals;
}

// Puts the file back as it was: its saved bytes, or no file when there was none.
bool PutBack(const std::wstring& path, const std::string& saved, bool existed) {
  if (!existed) return DeleteFileW(path.c_str()) || Missing(GetLastError());
  const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
  return file.Valid() && WriteAllFlushed(file.Get(), saved);
}

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() &&
         CompareStringOrdinal(text.data(), static_cast<int>(prefix.size()), prefix.data(),
                              static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

// The platform's wide-character functions read every character of a file that begins with
// any of these marks, and its writes keep the mark and the encoding; the ANSI functions
// pass the same text through the code page.
Encoding EncodingOfBytes(const std::string& firstBytes) {
  for (const std::string_view mark : {"\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF"}) {
    if (firstBytes.starts_with(mark)) return Encoding::Unicode;
  }
  return Encoding::Ansi;
}

Journal::Journal(std::wstring path, std::string saved, bool existed)
    : path_(std::move(path)), saved_(std::move(saved)), existed_(existed), open_(true) {}

Journal::Journal(Journal&& other) noexcept
    : path_(std::move(other.path_)), saved_(std::move(other.saved_)), existed_(other.existed_), open_(other.open_) {
  other.open_ = false;
}

Journal::~Journal() {
  if (open_) RollBack();
}

std::optional<Journal> Journal::Begin(const std::wstring& path, Encoding& encoding) {
  std::optional<std::string> saved = ReadAll(path);
  const bool existed = saved.has_value();
  encoding = EncodingOfBytes(saved.value_or(""));
  if ((!existed && !Missing(GetLastError())) || MappedToRegistry(path)) return std::nullopt;

  Header header{};
  std::memcpy(header.magic, kMagic, sizeof kMagic);
  header.flags = existed ? kFileExisted : 0;
  header.processId = ThisProcess().processId;
  header.processStart = ThisProcess().processStart;
  std::memcpy(header.machine, ThisProcess().machine, sizeof header.machine);
  header.length = existed ? saved->size() : 0;
  header.checksum = Checksum(header, saved.value_or(""));
  std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
  bytes += saved.value_or("");

  const std::wstring journal = path + kJournalSuffix;
  InProgress().Add(journal);
  bool written = false;
  {
    const UniqueHandle file(CreateFileW(journal.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    written = file.Valid() && WriteAllFlushed(file.Get(), bytes);
  }
  if (!written) {
    DeleteFileW(journal.c_str());
    InProgress().Remove(journal);
    return std::nullopt;
  }
  return Journal(path, existed ? std::move(*saved) : std::string(), existed);
}

void Journal::Commit() {
  if (!open_) return;
  open_ = false;
  {
    const UniqueHandle file(CreateFileW(path_.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file.Valid()) FlushFileBuffers(file.Get());
  }
  const std::wstring journal = path_ + kJournalSuffix;
  DeleteFileW(journal.c_str());
  InProgress().Remove(journal);
}

void Journal::RollBack() {
  if (!open_) return;
  open_ = false;
  const std::wstring journal = path_ + kJournalSuffix;
  if (PutBack(path_, saved_, existed_)) DeleteFileW(journal.c_str());
  InProgress().Remove(journal);
}

bool RecoverAbandonedJournal(const std::wstring& path) {
  const std::wstring journal = path + kJournalSuffix;
  const std::optional<std::string> bytes = ReadAll(journal);
  if (!bytes) return Missing(GetLastError());
  if (bytes->size() >= sizeof kMagic && std::memcmp(bytes->data(), kMagic, sizeof kMagic) != 0) return true;  // not one of ours
  if (bytes->size() < sizeof(Header)) {
    // Cut short before its writer was named: it may be being written right now, or its
    // writer stopped before touching the file. Only an old one goes.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& time) {
      return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    if (GetFileAttributesExW(journal.c_str(), GetFileExInfoStandard, &data) &&
        ticks(now) - ticks(data.ftLastWriteTime) < 10 * 10000000ull) {
      return false;
    }
  } else {
    Header header{};
    std::memcpy(&header, bytes->data(), sizeof header);
    const Writer& self = ThisProcess();
    if (std::wmemcmp(header.machine, self.machine, 16) != 0) return false;
    const bool ours = header.processId == self.processId && header.processStart == self.processStart;
    if (ours ? InProgress().Holds(journal) : StillRunning(header.processId, header.processStart)) return false;
    const std::string saved = bytes->substr(sizeof header);
    const bool whole = header.length == saved.size() && header.checksum == Checksum(header, saved);
    // One that is not whole was cut short while it was written, before the file was
    // touched: the file is as it was.
    if (whole && !PutBack(path, saved, (header.flags & kFileExisted) != 0)) return false;
  }
  return DeleteFileW(journal.c_str()) || Missing(GetLastError());
}

bool MappedToRegistry(const std::wstring& path) {
  wchar_t windows[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring folder = std::wstring(windows, length) + L"\\";
  const size_t leaf = path.find_last_of(L'\\');
  if (length == 0 || leaf == std::wstring::npos || leaf + 1 != folder.size() || !StartsWithIgnoringCase(path, folder)) {
    return false;
  }
  const std::wstring key =
      L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\" + path.substr(leaf + 1);
  HKEY mapping = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &mapping) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(mapping);
  return true;
}

}  // namespace profile_service
