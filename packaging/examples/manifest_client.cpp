// A C++ client of VoskTolvane.dll that needs no registration: manifests lead COM to the
// DLL. It writes a key to the INI file named on the command line and reads it back.
//
// Build it as client.cpp is built (the program's kind picks the DLL: x86 or x64):
//   MinGW-w64:   g++ -std=c++17 -Wall -municode -I..\include manifest_client.cpp -o manifest_client.exe
//                    -static -lole32 -loleaut32 -luuid
//   Visual C++:  cl /nologo /EHsc /W4 /I..\include manifest_client.cpp ole32.lib oleaut32.lib
// Then either
//   - copy manifest_client.exe and manifest_client.exe.manifest (its application manifest,
//     which depends on the assembly VoskTolvane.sxs) into the folder of the DLL of the
//     program's kind, x86\ or x64\, and run it there:
//       x64\manifest_client.exe C:\Temp\sample.ini
//   - or run it from anywhere, naming the DLL's assembly manifest: it then activates that
//     manifest itself, as ActivatedManifest shows; a host of scripts or of VBA can do the
//     same around the code that creates objects (see ActivationContext.bas):
//       manifest_client.exe C:\Temp\sample.ini "C:\Program Files\VoskTolvane\x64\VoskTolvane.sxs.manifest"
// It exits with 1 when a call fails.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <initializer_list>

#include <VoskTolvane.h>

namespace {

// The DLL's assembly manifest, made the active activation context of this thread for as
// long as this lives: COM looks there for a class before it looks in the registry.
class ActivatedManifest {
 public:
  explicit ActivatedManifest(const wchar_t* manifest) {
    ACTCTXW description = {};
    description.cbSize = sizeof description;
    description.lpSource = manifest;
    context_ = CreateActCtxW(&description);
    if (context_ != INVALID_HANDLE_VALUE && !ActivateActCtx(context_, &cookie_)) {
      ReleaseActCtx(context_);
      context_ = INVALID_HANDLE_VALUE;
    }
  }
  ~ActivatedManifest() {
    if (!Active()) return;
    DeactivateActCtx(0, cookie_);
    ReleaseActCtx(context_);
  }
  ActivatedManifest(const ActivatedManifest&) = delete;
  ActivatedManifest& operator=(const ActivatedManifest&) = delete;

  bool Active() const { return context_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE context_ = INVALID_HANDLE_VALUE;
  ULONG_PTR cookie_ = 0;
};

// Writes Manifest=yes into [Client] and reads it back; true when it reads "yes".
bool WriteAndRead(_Tolvane* ini, const wchar_t* path) {
  BSTR file = SysAllocString(path), section = SysAllocString(L"Client"), key = SysAllocString(L"Manifest");
  BSTR value = SysAllocString(L"yes"), read = nullptr;
  VARIANT_BOOL written = VARIANT_FALSE;
  const bool worked = SUCCEEDED(ini->put_IniFileName(&file)) &&
                      SUCCEEDED(ini->WriteValue(&section, &key, &value, &written)) && written &&
                      SUCCEEDED(ini->ReadValue(&section, &key, &read)) && read && wcscmp(read, L"yes") == 0;
  std::printf("[Client] Manifest=%ls\n", read ? read : L"(nothing)");
  for (BSTR text : {file, section, key, value, read}) SysFreeString(text);
  return worked;
}

_Tolvane* Create() {
  _Tolvane* ini = nullptr;
  const HRESULT status = CoCreateInstance(__uuidof(Tolvane), nullptr, CLSCTX_INPROC_SERVER, __uuidof(_Tolvane),
                                          reinterpret_cast<void**>(&ini));
  if (FAILED(status)) {
    std::printf("no manifest leads to Tolvane (0x%08lX): see the comment at the top\n",
                static_cast<unsigned long>(status));
  }
  return ini;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 && argc != 3) {
    std::printf("usage: manifest_client FILE.ini [VoskTolvane.sxs.manifest]\n");
    return 2;
  }
  if (FAILED(CoInitialize(nullptr))) return 1;
  _Tolvane* ini = nullptr;
  if (argc == 2) {
    ini = Create();
  } else {
    // The context is needed only while COM finds the class: the object works on after it.
    const ActivatedManifest manifest(argv[2]);
    if (manifest.Active()) {
      ini = Create();
    } else {
      std::printf("cannot activate %ls (error %lu)\n", argv[2], GetLastError());
    }
  }
  const bool worked = ini && WriteAndRead(ini, argv[1]);
  if (ini) ini->Release();
  CoUninitialize();
  return worked ? 0 : 1;
}
