// A client of the registered server, run by registration.sh in a Wine prefix of its own:
//   registration_client registered <scratch folder>    after DllRegisterServer
//   registration_client unregistered <scratch folder>  after DllUnregisterServer
//   registration_client user-registered|both-registered|user-unregistered <scratch folder>
//     after register-user.cmd, then after DllRegisterServer besides, then after
//     register-user.cmd /u
//   registration_client manifest <scratch folder>      nothing registered; the class is
//     found through this program's application manifest
// It reaches the DLL only the way real clients do: through the registry and COM.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "com_types/identity.h"
#include "com_types/owners.h"
#include "com_types/owners.h"
#include "com_types/tolvane_interface.h"
#include "tests/support/com_apartment.h"
#include "tests/support/program_folder.h"

namespace {

using com_types::ComPtr;
using com_types::kClassId;
using com_types::kInterfaceId;
using com_types::kLibraryId;
using com_types::UniqueBstr;
using com_types::UniqueRegistryKey;
// The server this client was built with: VoskTolvane.dll next to it.
using test_support::ServerDllPath;

std::wstring g_scratch;  // from the command line

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring Lowercase(std::wstring text) {
  for (wchar_t& c : text) c = towlower(c);
  return text;
}

// A text value under HKEY_CLASSES_ROOT; nullptr `name` is the key's default value.
// Nullopt when the key or the value is missing.
std::optional<std::wstring> RegistryText(const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t data[1024] = {};
  DWORD size = sizeof(data);
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(data);
}

bool KeyExists(const std::wstring& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

std::wstring Text(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

void WriteFile(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string ReadFile(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const std::wstring kClassKey = L"CLSID\\" + GuidText(kClassId);
const std::wstring kLibraryKey = L"TypeLib\\" + GuidText(kLibraryId);
const std::wstring kInterfaceKey = L"Interface\\" + GuidText(kInterfaceId);
// The type library's file is registered under the kind of system it describes.
#ifdef _WIN64
const std::wstring kPlatformKey = L"win64";
#else
const std::wstring kPlatformKey = L"win32";
#endif
// oleaut32's marshaller that works from type libraries.
const std::wstring kTypeLibraryMarshaller = L"{00020424-0000-0000-C000-000000000046}";

// Every key and value of the component under a hive's Software\Classes, in this program's
// registry view: "key" for a key, "key|name=data" for a text value.
void AddEntries(HKEY key, const std::wstring& path, std::set<std::wstring>& entries) {
  entries.insert(path);
  wchar_t name[256];
  wchar_t data[1024];
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = 256, size = sizeof(data) - sizeof(wchar_t);
    if (RegEnumValueW(key, i, name, &nameLength, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size)) break;
    data[size / sizeof(wchar_t)] = L'\0';
    entries.insert(path + L"|" + name + L"=" + data);
  }
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = 256;
    UniqueRegistryKey subkey;
    if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr)) break;
    if (RegOpenKeyExW(key, name, 0, KEY_READ, subkey.Put()) == ERROR_SUCCESS) {
      AddEntries(subkey.Get(), path + L"\\" + name, entries);
    }
  }
}

std::set<std::wstring> ComponentEntries(HKEY hive) {
  std::set<std::wstring> entries;
  for (const std::wstring& key : {kClassKey, std::wstring(com_types::kProgId), kLibraryKey, kInterfaceKey}) {
    UniqueRegistryKey opened;
    if (RegOpenKeyExW(hive, (L"Software\\Classes\\" + key).c_str(), 0, KEY_READ, opened.Put()) == ERROR_SUCCESS) {
      AddEntries(opened.Get(), key, entries);
    }
  }
  return entries;
}

// One of the entries that registration writes.
const std::wstring kThreadingModelEntry = kClassKey + L"\\InprocServer32|ThreadingModel=Apartment";

// What a thread of the multithreaded apartment did with a _Tolvane handed to it in a stream.
struct OtherApartment {
  IStream* stream = nullptr;     // taken over by the thread
  _Tolvane* original = nullptr;  // the object in the creating apartment, to compare with
  HRESULT apartment = E_FAIL, unmarshal = E_FAIL, write = E_FAIL, read = E_FAIL;
  bool proxied = false;
  VARIANT_BOOL written = VARIANT_FALSE;
  std::wstring value;
};

DWORD WINAPI CallFromTheMultithreadedApartment(void* context) {
  OtherApartment& other = *static_cast<OtherApartment*>(context);
  other.apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(other.apartment)) return 1;
  {
    ComPtr<_Tolvane> proxy;
    other.unmarshal = CoGetInterfaceAndReleaseStream(other.stream, kInterfaceId, reinterpret_cast<void**>(proxy.Put()));
    if (SUCCEEDED(other.unmarshal)) {
      other.proxied = proxy.Get() != other.original;
      UniqueBstr section = UniqueBstr::Copy(L"s"), key = UniqueBstr::Copy(L"new"), value = UniqueBstr::Copy(L"2");
      other.write = proxy->WriteValue(section.InOut(), key.InOut(), value.InOut(), &other.written);
      UniqueBstr readSection = UniqueBstr::Copy(L"s"), readKey = UniqueBstr::Copy(L"old");
      BSTR read = nullptr;
      other.read = proxy->ReadValue(readSection.InOut(), readKey.InOut(), &read);
      other.value = Text(UniqueBstr(read).Get());
    }
  }
  CoUninitialize();
  return 0;
}

// ---- After DllRegisterServer ------------------------------------------------------------

class Registered : public test_support::ComApartment {
 protected:
  // Creates the object the way clients name it, by its ProgID.
  ComPtr<_Tolvane> CreateByProgId() {
    CLSID classId{};
    EXPECT_EQ(CLSIDFromProgID(com_types::kProgId, &classId), S_OK);
    ComPtr<_Tolvane> object;
    EXPECT_EQ(
        CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, kInterfaceId, reinterpret_cast<void**>(object.Put())),
        S_OK);
    return object;
  }
};

TEST_F(Registered, ProgIdLeadsToTheClassAndBack) {
  CLSID classId{};
  ASSERT_EQ(CLSIDFromProgID(L"Voskini15T.Tolvane", &classId), S_OK);
  EXPECT_EQ(classId, kClassId);
  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(kClassId, &progId), S_OK);
  EXPECT_STREQ(progId, L"Voskini15T.Tolvane");
  CoTaskMemFree(progId);
  EXPECT_EQ(RegistryText(L"Voskini15T.Tolvane\\CLSID"), GuidText(kClassId));
  EXPECT_EQ(RegistryText(kClassKey + L"\\ProgID"), L"Voskini15T.Tolvane");
}

TEST_F(Registered, ClassIsAnApartmentModelServerInThisDll) {
  const std::optional<std::wstring> server = RegistryText(kClassKey + L"\\InprocServer32");
  ASSERT_TRUE(server);
  EXPECT_EQ(Lowercase(*server), Lowercase(ServerDllPath()));  // the full path, as registered
  EXPECT_EQ(RegistryText(kClassKey + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(RegistryText(kClassKey + L"\\TypeLib"), GuidText(kLibraryId));
}

TEST_F(Registered, TypeLibraryIsVersion60InThisDllWithAnEmptyHelpDirectory) {
  const std::optional<std::wstring> file = RegistryText(kLibraryKey + L"\\6.0\\0\\" + kPlatformKey);
  ASSERT_TRUE(file);
  EXPECT_EQ(Lowercase(*file), Lowercase(ServerDllPath()));
  EXPECT_EQ(RegistryText(kLibraryKey + L"\\6.0\\HELPDIR"), L"");

  ComPtr<ITypeLib> library;
  ASSERT_EQ(LoadRegTypeLib(kLibraryId, 6, 0, 0, library.Put()), S_OK);
  BSTR name = nullptr;
  ASSERT_EQ(library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(UniqueBstr(name).Get()), L"Voskini15T");
}

TEST_F(Registered, InterfaceIsMarshalledFromTheTypeLibrary) {
  EXPECT_EQ(RegistryText(kInterfaceKey), L"_Tolvane");
  EXPECT_EQ(RegistryText(kInterfaceKey + L"\\ProxyStubClsid32"), kTypeLibraryMarshaller);
  EXPECT_EQ(RegistryText(kInterfaceKey + L"\\TypeLib"), GuidText(kLibraryId));
}

TEST_F(Registered, ObjectCreatedByProgIdWorksOnARealFile) {
  ComPtr<_Tolvane> object = CreateByProgId();
  ASSERT_TRUE(object);
  // COM loaded the registered file, not some other copy.
  EXPECT_NE(GetModuleHandleW(ServerDllPath().c_str()), nullptr);

  BSTR name = nullptr;
  ASSERT_EQ(object->get_IniFileName(&name), S_OK);
  EXPECT_NE(name, nullptr);  // the empty text, which a C++ caller may take as a string
  EXPECT_EQ(Text(UniqueBstr(name).Get()), L"");

  const std::wstring file = g_scratch + L"\\client.ini";
  WriteFile(file, "[first]\r\nkey=one\r\n");
  UniqueBstr fileName = UniqueBstr::Copy(file.c_str());
  ASSERT_EQ(object->put_IniFileName(fileName.InOut()), S_OK);

  UniqueBstr section = UniqueBstr::Copy(L"first"), key = UniqueBstr::Copy(L"key");
  BSTR read = nullptr;
  ASSERT_EQ(object->ReadValue(section.InOut(), key.InOut(), &read), S_OK);
  EXPECT_EQ(Text(UniqueBstr(read).Get()), L"one");

  VARIANT_BOOL created = VARIANT_FALSE;
  ASSERT_EQ(object->CreateKeyAndValue(UniqueBstr::Copy(L"second").Get(), UniqueBstr::Copy(L"k").Get(),
                                      UniqueBstr::Copy(L"v").Get(), &created),
            S_OK);
  EXPECT_EQ(created, VARIANT_TRUE);
  LONG sections = 0;
  ASSERT_EQ(object->get_SectionsCount(&sections), S_OK);
  EXPECT_EQ(sections, 2);
  ASSERT_EQ(object->DeleteKey(UniqueBstr::Copy(L"first").Get(), UniqueBstr::Copy(L"key").Get()), S_OK);
  EXPECT_EQ(ReadFile(file), "[first]\r\n[second]\r\nk=v\r\n");
}

TEST_F(Registered, CallsFromAnotherApartmentAreMarshalledThroughTheTypeLibrary) {
  ComPtr<_Tolvane> object = CreateByProgId();
  ASSERT_TRUE(object);
  const std::wstring file = g_scratch + L"\\apartments.ini";
  WriteFile(file, "[s]\r\nold=1\r\n");
  UniqueBstr fileName = UniqueBstr::Copy(file.c_str());
  ASSERT_EQ(object->put_IniFileName(fileName.InOut()), S_OK);

  IStream* stream = nullptr;  // CoGetInterfaceAndReleaseStream takes it over
  ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(kInterfaceId, object.Get(), &stream), S_OK);

  OtherApartment outcome;
  outcome.stream = stream;
  outcome.original = object.Get();
  HANDLE thread = CreateThread(nullptr, 0, CallFromTheMultithreadedApartment, &outcome, 0, nullptr);
  if (!thread) stream->Release();
  ASSERT_NE(thread, nullptr);
  // The calls are served on this thread, so it must keep its messages flowing meanwhile.
  DWORD index = 0;
  const HRESULT waited = CoWaitForMultipleHandles(0, 30000, 1, &thread, &index);
  if (waited != S_OK) {
    TerminateThread(thread, 1);  // stuck in a call this thread will never serve
    WaitForSingleObject(thread, INFINITE);
  }
  CloseHandle(thread);
  ASSERT_EQ(waited, S_OK) << "the other apartment did not finish";

  EXPECT_EQ(outcome.apartment, S_OK);
  ASSERT_EQ(outcome.unmarshal, S_OK);
  EXPECT_TRUE(outcome.proxied);
  EXPECT_EQ(outcome.write, S_OK);
  EXPECT_EQ(outcome.written, VARIANT_TRUE);
  EXPECT_EQ(outcome.read, S_OK);
  EXPECT_EQ(outcome.value, L"1");
  EXPECT_EQ(ReadFile(file), "[s]\r\nold=1\r\nnew=2\r\n");
}

// ---- After DllUnregisterServer ----------------------------------------------------------

class Unregistered : public test_support::ComApartment {};

TEST_F(Unregistered, ProgIdNoLongerResolves) {
  CLSID classId{};
  EXPECT_HRESULT_FAILED(CLSIDFromProgID(L"Voskini15T.Tolvane", &classId));
  EXPECT_FALSE(KeyExists(L"Voskini15T.Tolvane"));
}

TEST_F(Unregistered, ClassIsNoLongerRegistered) {
  ComPtr<IUnknown> object;
  EXPECT_EQ(
      CoCreateInstance(kClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(object.Put())),
      REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(KeyExists(kClassKey));
}

TEST_F(Unregistered, TypeLibraryAndInterfaceAreNoLongerRegistered) {
  ComPtr<ITypeLib> library;
  EXPECT_HRESULT_FAILED(LoadRegTypeLib(kLibraryId, 6, 0, 0, library.Put()));
  EXPECT_FALSE(KeyExists(kLibraryKey + L"\\6.0"));
  EXPECT_FALSE(KeyExists(kInterfaceKey));
}

// ---- Registered for the user alone, beside the machine, and undone ------------------------

TEST(ForTheUser, EntriesAreTheUsersAlone) {
  EXPECT_TRUE(ComponentEntries(HKEY_CURRENT_USER).count(kThreadingModelEntry));
  EXPECT_TRUE(ComponentEntries(HKEY_LOCAL_MACHINE).empty());
}

TEST(ForTheUser, EntriesAreTheMachines) {
  EXPECT_FALSE(ComponentEntries(HKEY_LOCAL_MACHINE).empty());
  EXPECT_EQ(ComponentEntries(HKEY_CURRENT_USER), ComponentEntries(HKEY_LOCAL_MACHINE));
}

TEST(ForTheUser, UndoneLeavesNoEntryOfTheUsersAndTheMachinesInPlace) {
  EXPECT_TRUE(ComponentEntries(HKEY_CURRENT_USER).empty());
  EXPECT_TRUE(ComponentEntries(HKEY_LOCAL_MACHINE).count(kThreadingModelEntry));
}

// ---- Nothing registered: the class found through the application manifest ---------------

// Wine's marshaller registers the type library that it loads for a call between
// apartments: only the class and its ProgID tell that nothing was registered.
TEST(ThroughTheManifest, NeitherTheClassNorItsProgIdIsRegistered) {
  for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    for (const std::wstring& entry : ComponentEntries(hive)) {
      EXPECT_TRUE(entry.starts_with(L"TypeLib\\") || entry.starts_with(L"Interface\\"))
          << testing::PrintToString(entry);
    }
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Found through the manifest, the object is used as the registered one is.
  const std::map<std::wstring, const char*> phases = {
      {L"registered", "Registered.*"},
      {L"unregistered", "Unregistered.*"},
      {L"user-registered", "ForTheUser.EntriesAreTheUsersAlone"},
      {L"both-registered", "ForTheUser.EntriesAreTheMachines"},
      {L"user-unregistered", "ForTheUser.Undone*"},
      {L"manifest", "ThroughTheManifest.*:Registered.ObjectCreatedByProgId*:Registered.CallsFromAnotherApartment*"},
  };
  const auto phase = phases.find(argc == 3 ? argv[1] : L"");
  if (phase == phases.end()) {
    fprintf(stderr, "usage: registration_client <phase, see the top of the source> <scratch folder> [gtest flags]\n");
    return 2;
  }
  g_scratch = argv[2];
  GTEST_FLAG_SET(filter, phase->second);
  return RUN_ALL_TESTS();
}
