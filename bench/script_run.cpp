#include "bench/script_run.h"

#include <windows.h>

#include <vector>

#include "bench/timing.h"

namespace bench {
namespace {

class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (handle_ && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

std::string ReadWholeFile(const std::wstring& path) {
  OwnedHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  std::string bytes;
  if (!file.Valid()) return bytes;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
  return bytes;
}

}  // namespace

ScriptRun RunScript(const std::wstring& script, const std::wstring& arguments, const std::wstring& outputFile) {
  ScriptRun run;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  {
    OwnedHandle output(CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    OwnedHandle input(
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!output.Valid()) return run;

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.Valid() ? input.Get() : nullptr;
    startup.hStdOutput = output.Get();
    startup.hStdError = output.Get();
    std::wstring commandLine = L"cscript.exe //nologo \"" + script + L"\" " + arguments;
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');

    PROCESS_INFORMATION process{};
    Stopwatch watch;
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
      return run;
    }
    OwnedHandle processHandle(process.hProcess), threadHandle(process.hThread);
    WaitForSingleObject(processHandle.Get(), INFINITE);
    run.seconds = watch.Seconds();
    run.started = true;
    GetExitCodeProcess(processHandle.Get(), &run.exitCode);
  }
  run.output = ReadWholeFile(outputFile);
  return run;
}

}  // namespace bench
