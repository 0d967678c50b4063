// Load: several apartments working at once on files of their own and on one shared file,
// and objects created, called and released by the hundred thousand. Nothing may be lost
// between threads, no object may outlive its last reference, and the process's memory
// must stay flat. The figures are printed; the only bound asserted on memory is a
// generous one, and nothing is timed.
#include <cstdio>
#include <thread>

#include "automation/class_factory.h"
#include "com_types/identity.h"
#include "automation/module_state.h"
#include "tests/robustness/robustness_support.h"
#include "tests/support/program_folder.h"

namespace robustness {
namespace {

using automation::Count;

std::wstring Numbered(const wchar_t* prefix, int number) { return prefix + std::to_wstring(number); }

bool WriteValue(_Tolvane* object, const std::wstring& section, const std::wstring& key, const std::wstring& value) {
  UniqueBstr s = Bstr(section), k = Bstr(key), v = Bstr(value);
  VARIANT_BOOL written = VARIANT_FALSE;
  return SUCCEEDED(object->WriteValue(s.InOut(), k.InOut(), v.InOut(), &written)) && written == VARIANT_TRUE;
}

Text ReadValue(_Tolvane* object, const std::wstring& section, const std::wstring& key) {
  UniqueBstr s = Bstr(section), k = Bstr(key);
  UniqueBstr value;
  if (FAILED(object->ReadValue(s.InOut(), k.InOut(), value.InOut()))) return L"(failed)";
  return TextOf(value.Get());
}

// The keys of a section, as ReadSection gives them.
std::vector<std::wstring> KeysOf(_Tolvane* object, const std::wstring& section) {
  UniqueBstr s = Bstr(section);
  SAFEARRAY* keys = nullptr;
  SAFEARRAY* values = nullptr;
  UniqueVariant result;
  if (FAILED(object->ReadSection(s.InOut(), &keys, &values, result.Get()))) return {L"(failed)"};
  UniqueSafeArray ownedKeys(keys), ownedValues(values);
  return keys ? AbsentAsEmpty(Elements(keys)) : std::vector<std::wstring>();
}

// ---- Several apartments at once ----------------------------------------------------------------

// What one worker found wrong; checked by the test's thread after the join.
struct WorkerReport {
  int mismatches = 0;
  std::string first;
  void Mismatch(const std::string& what) {
    if (mismatches++ == 0) first = what;
  }
};

void Work(int worker, const std::wstring& ownFile, const std::wstring& sharedFile, int iterations,
          WorkerReport& report) {
  if (FAILED(CoInitialize(nullptr))) return report.Mismatch("CoInitialize failed");
  {
    ComPtr<_Tolvane> own = NewObject(), shared = NewObject();
    if (!own || !shared) {
      report.Mismatch("no object");
    } else {
      UniqueBstr ownName = Bstr(ownFile), sharedName = Bstr(sharedFile);
      own->put_IniFileName(ownName.InOut());
      shared->put_IniFileName(sharedName.InOut());
      const std::wstring mine = Numbered(L"worker", worker);
      for (int i = 0; i < iterations; ++i) {
        const std::wstring key = Numbered(L"k", i), value = Numbered(L"v", worker * 100000 + i);
        // Its own file: write, read back, and now and then move a key and a section.
        if (!WriteValue(own.Get(), L"s", key, value)) report.Mismatch("own write failed");
        if (ReadValue(own.Get(), L"s", key) != value) report.Mismatch("own read differs");
        if (i % 10 == 9) {
          UniqueBstr s = Bstr(L"s"), from = Bstr(key), to = Bstr(Numbered(L"moved", i));
          own->RenameKey(s.Get(), from.Get(), to.Get());
          if (ReadValue(own.Get(), L"s", Numbered(L"moved", i)) != value) report.Mismatch("own rename lost a key");
        }
        // The shared file: a section of its own, next to every other worker's.
        if (!WriteValue(shared.Get(), mine, key, value)) report.Mismatch("shared write failed");
        if (ReadValue(shared.Get(), mine, key) != value) report.Mismatch("shared read differs");
        if (i % 25 == 24) {
          UniqueBstr from = Bstr(mine), to = Bstr(mine + L"-moved");
          shared->RenameSection(from.Get(), to.Get());
          if (KeysOf(shared.Get(), mine + L"-moved").size() != static_cast<size_t>(i + 1)) {
            report.Mismatch("shared section rename lost keys");
          }
          shared->RenameSection(to.Get(), from.Get());
        }
      }
      if (KeysOf(own.Get(), L"s").size() != static_cast<size_t>(iterations)) report.Mismatch("own keys lost");
      if (KeysOf(shared.Get(), mine).size() != static_cast<size_t>(iterations)) report.Mismatch("shared keys lost");
    }
  }
  CoUninitialize();
}

TEST(Load, ApartmentsWorkingAtOnceOnTheirOwnAndOnASharedFileLoseNothing) {
  IniFolder folder;
  const std::wstring shared = folder.PathOf(L"shared.ini");
  constexpr int kWorkers = 4, kIterations = 100;
  std::vector<WorkerReport> reports(kWorkers);
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back(Work, w, folder.PathOf(Numbered(L"own", w) + L".ini"), shared, kIterations,
                         std::ref(reports[w]));
  }
  for (std::thread& worker : workers) worker.join();
  for (int w = 0; w < kWorkers; ++w) {
    EXPECT_EQ(reports[w].mismatches, 0) << "worker " << w << ": " << reports[w].first;
  }

  // Every worker's keys are in the shared file, each section whole.
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    ComPtr<_Tolvane> reader = NewObject();
    SetFileName(reader.Get(), shared);
    LONG sections = 0;
    ASSERT_EQ(reader->get_SectionsCount(&sections), S_OK);
    EXPECT_EQ(sections, kWorkers);
    for (int w = 0; w < kWorkers; ++w) {
      EXPECT_EQ(KeysOf(reader.Get(), Numbered(L"worker", w)).size(), static_cast<size_t>(kIterations));
      EXPECT_EQ(ReadValue(reader.Get(), Numbered(L"worker", w), Numbered(L"k", kIterations - 1)),
                Numbered(L"v", w * 100000 + kIterations - 1));
    }
  }
  CoUninitialize();
  EXPECT_EQ(automation::Current(Count::Objects), 0);
}

// ---- Objects by the hundred thousand ------------------------------------------------------------

// One create / call / release round: a file name set and read back, a read of the file
// every tenth time, a late-bound call and a failing call (with its error information)
// every hundredth.
void OneRound(IClassFactory* factory, const std::wstring& file, int round, int& wrong) {
  ComPtr<_Tolvane> object;
  if (FAILED(factory->CreateInstance(nullptr, com_types::kInterfaceId, reinterpret_cast<void**>(object.Put())))) {
    ++wrong;
    return;
  }
  UniqueBstr name = Bstr(file);
  object->put_IniFileName(name.InOut());
  UniqueBstr back;
  object->get_IniFileName(back.InOut());
  if (TextOf(back.Get()) != file) ++wrong;
  if (round % 10 == 0 && ReadValue(object.Get(), L"s", L"k") != L"v") ++wrong;
  if (round % 100 == 0) {
    UniqueBstr s = Bstr(L"s"), k = Bstr(L"k");
    Outcome read = Invoke(object.Get(), dispatch_calls::kReadValue.dispid, DISPATCH_METHOD,
                          {ByReference(s.InOut()), ByReference(k.InOut())}, ArgumentPassing::Borrowed);
    if (read.status != S_OK) ++wrong;
    SAFEARRAY* none = nullptr;
    Outcome fault = Invoke(object.Get(), dispatch_calls::kSectionWriteAtOnce.dispid, DISPATCH_METHOD,
                           {ByReference(s.InOut()), ByReference(&none), ByReference(&none)}, ArgumentPassing::Borrowed);
    if (fault.status != DISP_E_EXCEPTION || fault.exception.description.value_or(L"").empty()) ++wrong;
  }
}

class ManyObjects : public test_support::ComApartment {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ComApartment::SetUp());
    file_ = folder_.PathOf(L"many.ini");
    WriteBytes(file_, "[s]\r\nk=v\r\n");
  }

  // Runs `rounds` rounds through `factory`, after a warm-up that lets the heap, the type
  // information and the profile cache settle; prints and returns the growth in private
  // bytes across the rounds.
  SSIZE_T Measure(const char* through, IClassFactory* factory, int rounds) {
    int wrong = 0;
    for (int round = 0; round < 2000; ++round) OneRound(factory, file_, round, wrong);
    const SIZE_T start = PrivateBytes();
    for (int round = 0; round < rounds; ++round) OneRound(factory, file_, round, wrong);
    const SIZE_T end = PrivateBytes();
    EXPECT_EQ(wrong, 0);
    const SSIZE_T growth = static_cast<SSIZE_T>(end) - static_cast<SSIZE_T>(start);
    printf("%s: %d create/call/release rounds; private bytes %lu KiB before, %lu KiB after, growth %+ld KiB\n", through,
           rounds, static_cast<unsigned long>(start / 1024), static_cast<unsigned long>(end / 1024),
           static_cast<long>(growth / 1024));
    fflush(stdout);
    return growth;
  }

  IniFolder folder_;
  std::wstring file_;
};

constexpr SSIZE_T kGenerousGrowth = 8 << 20;

// The measure can see a leak of that size: memory kept by the process shows in it.
TEST(PrivateBytes, SeeMemoryTheProcessKeeps) {
  const SIZE_T before = PrivateBytes();
  std::vector<char> kept(kGenerousGrowth * 2, 'x');
  const SIZE_T after = PrivateBytes();
  printf("private bytes %lu KiB, %lu KiB with %ld KiB more kept\n", static_cast<unsigned long>(before / 1024),
         static_cast<unsigned long>(after / 1024), static_cast<long>(kept.size() / 1024));
  EXPECT_GE(static_cast<SSIZE_T>(after) - static_cast<SSIZE_T>(before), kGenerousGrowth);
}

TEST_F(ManyObjects, AHundredThousandObjectsComeAndGoWithoutLeaking) {
  {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(
        automation::GetClassObject(com_types::kClassId, IID_IClassFactory, reinterpret_cast<void**>(factory.Put())),
        S_OK);
    EXPECT_LT(Measure("linked-in class factory", factory.Get(), 100000), kGenerousGrowth);
    EXPECT_EQ(automation::Current(Count::Objects), 0);
    EXPECT_FALSE(automation::CanUnload());  // the factory is still held
  }
  EXPECT_EQ(automation::Current(Count::Objects), 0);
  EXPECT_EQ(automation::Current(Count::Factories), 0);
  EXPECT_TRUE(automation::CanUnload());
}

TEST_F(ManyObjects, TheServerDllCanUnloadAfterObjectsComeAndGo) {
  const std::wstring path = test_support::ServerDllPath();
  HMODULE server = LoadLibraryW(path.c_str());
  ASSERT_TRUE(server) << "cannot load " << testing::PrintToString(path);
  using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();
  auto getClassObject =
      reinterpret_cast<GetClassObjectFunction>(reinterpret_cast<void*>(GetProcAddress(server, "DllGetClassObject")));
  auto canUnloadNow =
      reinterpret_cast<CanUnloadNowFunction>(reinterpret_cast<void*>(GetProcAddress(server, "DllCanUnloadNow")));
  ASSERT_TRUE(getClassObject && canUnloadNow);
  {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(com_types::kClassId, IID_IClassFactory, reinterpret_cast<void**>(factory.Put())), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_LT(Measure("VoskTolvane.dll's class factory", factory.Get(), 100000), kGenerousGrowth);
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // the factory is still held
  }
  EXPECT_EQ(canUnloadNow(), S_OK);
  FreeLibrary(server);
}

}  // namespace
}  // namespace robustness
