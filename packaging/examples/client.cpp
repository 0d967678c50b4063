// A C++ client of VoskTolvane.dll: writes a whole section to the INI file named on the
// command line, renames it, reads it back and shows what LastErrorA says after a refused
// write.
//
// Build it against ..\include alone, as a program of the kind of the DLL it is to use
// (a 64-bit program uses x64\VoskTolvane.dll, a 32-bit one x86\VoskTolvane.dll):
//   MinGW-w64:   g++ -std=c++17 -Wall -I..\include client.cpp -o client.exe -static -lole32 -loleaut32 -luuid
//                (from Linux: x86_64-w64-mingw32-g++ or i686-w64-mingw32-g++)
//   Visual C++:  cl /nologo /EHsc /W4 /I..\include client.cpp ole32.lib oleaut32.lib
// Run it once the DLL is registered (register.cmd):
//   client.exe C:\Temp\sample.ini
// It exits with 1 when a call fails.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include <VoskTolvane.h>

namespace {

int failures = 0;

void Check(HRESULT status, const char* call) {
  if (FAILED(status)) {
    std::printf("%s failed: 0x%08lX\n", call, static_cast<unsigned long>(status));
    ++failures;
  }
}

// Owns one BSTR. By-reference parameters take InOut(): the call may replace the text.
class Text {
 public:
  explicit Text(const wchar_t* text = nullptr) : value_(text ? SysAllocString(text) : nullptr) {}
  ~Text() { SysFreeString(value_); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;

  BSTR Get() const { return value_; }
  BSTR* InOut() { return &value_; }
  const wchar_t* Shown() const { return value_ ? value_ : L""; }

 private:
  BSTR value_;
};

// Owns one array of BSTR, one-dimensional.
class TextArray {
 public:
  TextArray() = default;
  explicit TextArray(const std::vector<std::wstring>& texts)
      : array_(SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(texts.size()))) {
    for (LONG i = 0; i < static_cast<LONG>(texts.size()); ++i) {
      Text element(texts[i].c_str());
      Check(SafeArrayPutElement(array_, &i, element.Get()), "SafeArrayPutElement");  // copies it
    }
  }
  ~TextArray() { SafeArrayDestroy(array_); }
  TextArray(const TextArray&) = delete;
  TextArray& operator=(const TextArray&) = delete;

  SAFEARRAY** InOut() { return &array_; }
  std::vector<std::wstring> Texts() const {
    std::vector<std::wstring> texts;
    LONG first = 0, last = -1;
    if (!array_ || FAILED(SafeArrayGetLBound(array_, 1, &first)) || FAILED(SafeArrayGetUBound(array_, 1, &last))) {
      return texts;
    }
    for (LONG i = first; i <= last; ++i) {
      Text element;
      Check(SafeArrayGetElement(array_, &i, element.InOut()), "SafeArrayGetElement");
      texts.push_back(element.Shown());
    }
    return texts;
  }

 private:
  SAFEARRAY* array_ = nullptr;
};

void Use(_Tolvane* ini, const wchar_t* path) {
  Text file(path);
  Check(ini->put_IniFileName(file.InOut()), "put_IniFileName");

  Text section(L"Plugins");
  TextArray keys({L"Viewer", L"Printer"}), values({L"on", L"off"});
  LONG lastIndex = -1;
  Check(ini->SectionWriteAtOnce(section.InOut(), keys.InOut(), values.InOut(), &lastIndex), "SectionWriteAtOnce");
  std::printf("SectionWriteAtOnce wrote up to index %ld\n", static_cast<long>(lastIndex));
  if (lastIndex != 1) ++failures;

  Text renamed(L"Extensions");
  Check(ini->RenameSection(section.Get(), renamed.Get()), "RenameSection");

  TextArray readKeys, readValues;
  VARIANT pairs;
  VariantInit(&pairs);
  Check(ini->ReadSection(renamed.InOut(), readKeys.InOut(), readValues.InOut(), &pairs), "ReadSection");
  const std::vector<std::wstring> names = readKeys.Texts(), texts = readValues.Texts();
  std::printf("[%ls] holds %zu keys:\n", renamed.Shown(), names.size());
  for (size_t i = 0; i < names.size() && i < texts.size(); ++i) {
    std::printf("  %ls=%ls\n", names[i].c_str(), texts[i].c_str());
  }
  if (names != std::vector<std::wstring>{L"Viewer", L"Printer"}) ++failures;
  VariantClear(&pairs);

  // Outcomes are results: a refused write returns False and says why in LastErrorA.
  Text badKey(L"a=b"), value(L"1");
  VARIANT_BOOL created = VARIANT_TRUE;
  Check(ini->CreateKeyAndValue(renamed.Get(), badKey.Get(), value.Get(), &created), "CreateKeyAndValue");
  Text message;
  Check(ini->get_LastErrorA(message.InOut()), "get_LastErrorA");
  std::printf("CreateKeyAndValue(\"a=b\") returned %s: %ls\n", created ? "True" : "False", message.Shown());
  if (created != VARIANT_FALSE) ++failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: client FILE.ini\n");
    return 2;
  }
  wchar_t path[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH);

  Check(CoInitialize(nullptr), "CoInitialize");
  _Tolvane* ini = nullptr;
  const HRESULT status = CoCreateInstance(__uuidof(Tolvane), nullptr, CLSCTX_INPROC_SERVER, __uuidof(_Tolvane),
                                          reinterpret_cast<void**>(&ini));
  if (FAILED(status)) {
    std::printf("Tolvane is not registered for programs of this kind (0x%08lX): run register.cmd\n",
                static_cast<unsigned long>(status));
    ++failures;
  } else {
    Use(ini, path);
    ini->Release();
  }
  CoUninitialize();
  return failures ? 1 : 0;
}
