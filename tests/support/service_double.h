// A stand-in for the profile service's kernel32 functions, in place while it lives: it
// logs every call, and can make a chosen call fail as the platform fails or answer
// reads from memory. The fault-injection tests and the benchmark both use it. One at a
// time, on the thread that made it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace service_double {

enum class ServiceFunction { GetString, GetSection, GetSectionNames, WriteString, WriteSection };

// The platform's name of the function ("GetPrivateProfileStringA", ...).
const char* NameOf(ServiceFunction function);
bool IsWrite(ServiceFunction function);

// What the double answers from memory instead of asking the platform: every string read
// copies `value`, every whole-section read `sectionList` ("k=v\0...\0\0", both closing
// NULs included), each cut to fit as the platform cuts; whole-section writes succeed
// without touching a file. The other functions still reach the platform. Both are ASCII:
// the wide-character calls answer them widened.
struct MemoryAnswers {
  std::string value;
  std::string sectionList;
};

struct Behaviour {
  // The call, counted from 1, that fails as the platform fails: a zero result and
  // ERROR_ACCESS_DENIED, without reaching the platform. 0: none.
  int failAt = 0;
  // When set, kept by reference for the double's life.
  const MemoryAnswers* fromMemory = nullptr;
  // When set, every platform write that reports success leaves the file cut to that many
  // bytes (counted from its end when negative), as on a full disk.
  std::optional<LONGLONG> cutWrittenFileAt = std::nullopt;
};

class ServiceDouble {
 public:
  explicit ServiceDouble(Behaviour behaviour = {});
  ~ServiceDouble();
  ServiceDouble(const ServiceDouble&) = delete;
  ServiceDouble& operator=(const ServiceDouble&) = delete;

  // The calls received, in order.
  const std::vector<ServiceFunction>& Calls() const { return calls_; }
  int CallsTo(ServiceFunction function) const;
  // Whether the call chosen to fail was reached (and failed).
  bool Failed() const { return failed_; }
  // "GetPrivateProfileStringA 3, GetPrivateProfileSectionA 1, ...", every function named.
  std::string Breakdown() const;

 private:
  friend struct StandInFunctions;
  // Logs the call; true when it is the one chosen to fail (the last error is then set).
  bool FailThisCall(ServiceFunction function);

  Behaviour behaviour_;
  std::pair<std::wstring, std::wstring> wideAnswers_;  // the memory answers, widened
  std::vector<ServiceFunction> calls_;
  bool failed_ = false;
};

}  // namespace service_double
