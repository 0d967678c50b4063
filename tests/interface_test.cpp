// The C++ view of _Tolvane against the published one, and the calls the object makes
// on its own interface: composite members reach their parts through the function table
// and pass on an inner failure unchanged; a member call keeps its object alive.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "automation/error_info.h"
#include "com_types/identity.h"
#include "com_types/member_table.h"
#include "automation/module_state.h"
#include "com_types/owners.h"
#include "com_types/tolvane_interface.h"
#include "automation/tolvane_object.h"
#include "automation/type_information.h"
#include "profile_object/fault.h"
#include "profile_object/tolvane.h"
#include "tests/support/com_apartment.h"
#include "tests/support/dispatch_calls.h"
#include "tests/support/test_support.h"

using com_types::ComPtr;
using com_types::kMembers;
using com_types::UniqueBstr;
using test_support::Bstr;
using test_support::ComApartment;
using test_support::TextArray;

namespace {

using profile_object::kSubscriptOutOfRange;

// Shared by the test doubles: IUnknown and IDispatch that do nothing of interest.
class DoubleBase : public _Tolvane {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != com_types::kInterfaceId) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<_Tolvane*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // lives on the test's stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

 private:
  ULONG references_ = 1;
};

// ---- The header against the type library ------------------------------------------------

// Records which C++ method a slot reached and the raw argument words it was given.
class RecordingTolvane : public DoubleBase {
 public:
  static constexpr HRESULT kStatus = 0x00770077;  // a success code no real member returns

  std::wstring method;
  std::vector<DWORD_PTR> arguments;

  HRESULT STDMETHODCALLTYPE get_IniFileName(BSTR* result) override { return Record(L"get_IniFileName", {result}); }
  HRESULT STDMETHODCALLTYPE put_IniFileName(BSTR* name) override { return Record(L"put_IniFileName", {name}); }
  HRESULT STDMETHODCALLTYPE get_LastErrorA(BSTR* result) override { return Record(L"get_LastErrorA", {result}); }
  HRESULT STDMETHODCALLTYPE ReadValue(BSTR* section, BSTR* key, BSTR* result) override {
    return Record(L"ReadValue", {section, key, result});
  }
  HRESULT STDMETHODCALLTYPE ReadSection(BSTR* section, SAFEARRAY** keys, SAFEARRAY** values, VARIANT* result) override {
    return Record(L"ReadSection", {section, keys, values, result});
  }
  HRESULT STDMETHODCALLTYPE CreateKeyAndValue(BSTR section, BSTR key, BSTR value, VARIANT_BOOL* result) override {
    return Record(L"CreateKeyAndValue", {section, key, value, result});
  }
  HRESULT STDMETHODCALLTYPE WriteValue(BSTR* section, BSTR* key, BSTR* value, VARIANT_BOOL* result) override {
    return Record(L"WriteValue", {section, key, value, result});
  }
  HRESULT STDMETHODCALLTYPE get_SectionsCount(LONG* result) override { return Record(L"get_SectionsCount", {result}); }
  HRESULT STDMETHODCALLTYPE SectionAdd(BSTR section, VARIANT_BOOL* result) override {
    return Record(L"SectionAdd", {section, result});
  }
  HRESULT STDMETHODCALLTYPE SectionWriteAtOnce(BSTR* section, SAFEARRAY** keys, SAFEARRAY** values,
                                               LONG* result) override {
    return Record(L"SectionWriteAtOnce", {section, keys, values, result});
  }
  HRESULT STDMETHODCALLTYPE RenameKey(BSTR section, BSTR current, BSTR renamed) override {
    return Record(L"RenameKey", {section, current, renamed});
  }
  HRESULT STDMETHODCALLTYPE RenameSection(BSTR current, BSTR renamed) override {
    return Record(L"RenameSection", {current, renamed});
  }
  HRESULT STDMETHODCALLTYPE DeleteSection(BSTR section) override { return Record(L"DeleteSection", {section}); }
  HRESULT STDMETHODCALLTYPE DeleteKey(BSTR section, BSTR key) override { return Record(L"DeleteKey", {section, key}); }

 private:
  HRESULT Record(const wchar_t* name, std::initializer_list<const void*> received) {
    method = name;
    arguments.clear();
    for (const void* argument : received) arguments.push_back(reinterpret_cast<DWORD_PTR>(argument));
    return kStatus;
  }
};

std::wstring CppMethodName(const com_types::Member& member) {
  return std::wstring(com_types::AccessorPrefix(member)) + member.name;
}

// Each slot is called where the type library says it is (oVft), with one distinct word
// per argument; the header must put the method of that name there, taking the
// arguments in that order.
class InterfaceHeader : public ComApartment {};

TEST_F(InterfaceHeader, EverySlotOfTheTypeLibraryReachesTheMethodOfTheSameName) {
  ITypeInfo* functionTable = automation::FunctionTableTypeInfo();
  ASSERT_NE(functionTable, nullptr);
  RecordingTolvane recorder;
  for (UINT i = 0; i < kMembers.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "member " << i);
    FUNCDESC* function = nullptr;
    ASSERT_EQ(functionTable->GetFuncDesc(i, &function), S_OK);
    const SHORT offset = function->oVft;
    const UINT count = static_cast<UINT>(function->cParams);
    functionTable->ReleaseFuncDesc(function);

    std::vector<VARIANTARG> words(count);
    std::vector<VARIANTARG*> pointers;
    std::vector<VARTYPE> types(count, VT_UI4);
    std::vector<DWORD_PTR> passed;
    for (UINT a = 0; a < count; ++a) {
      VariantInit(&words[a]);
      V_VT(&words[a]) = VT_UI4;
      V_UI4(&words[a]) = 0x1000 * (i + 1) + 0x10 * (a + 1);
      passed.push_back(V_UI4(&words[a]));
      pointers.push_back(&words[a]);
    }
    VARIANT status;
    VariantInit(&status);
    recorder.method.clear();
    ASSERT_EQ(DispCallFunc(static_cast<_Tolvane*>(&recorder), offset, CC_STDCALL, VT_ERROR, count, types.data(),
                           pointers.data(), &status),
              S_OK);
    EXPECT_EQ(recorder.method, CppMethodName(kMembers[i]));
    EXPECT_EQ(recorder.arguments, passed);
    EXPECT_EQ(V_ERROR(&status), RecordingTolvane::kStatus);
  }
}

// ---- Composite members call through the interface ---------------------------------------

// Forwards every member to a real object, except those told to fail, and counts calls.
class FailingTolvane : public DoubleBase {
 public:
  explicit FailingTolvane(_Tolvane* real) : real_(real) {}

  // `member` returns `status`, with error information saying `description`.
  void Fail(const std::wstring& member, HRESULT status, const wchar_t* description) {
    failures_[member] = {status, description};
  }
  int CallsOf(const std::wstring& member) const {
    const auto found = calls_.find(member);
    return found == calls_.end() ? 0 : found->second;
  }

  HRESULT STDMETHODCALLTYPE get_IniFileName(BSTR* r) override {
    return Pass(L"get_IniFileName", [&] { return real_->get_IniFileName(r); });
  }
  HRESULT STDMETHODCALLTYPE put_IniFileName(BSTR* n) override {
    return Pass(L"put_IniFileName", [&] { return real_->put_IniFileName(n); });
  }
  HRESULT STDMETHODCALLTYPE get_LastErrorA(BSTR* r) override {
    return Pass(L"get_LastErrorA", [&] { return real_->get_LastErrorA(r); });
  }
  HRESULT STDMETHODCALLTYPE ReadValue(BSTR* s, BSTR* k, BSTR* r) override {
    return Pass(L"ReadValue", [&] { return real_->ReadValue(s, k, r); });
  }
  HRESULT STDMETHODCALLTYPE ReadSection(BSTR* s, SAFEARRAY** k, SAFEARRAY** v, VARIANT* r) override {
    return Pass(L"ReadSection", [&] { return real_->ReadSection(s, k, v, r); });
  }
  HRESULT STDMETHODCALLTYPE CreateKeyAndValue(BSTR s, BSTR k, BSTR v, VARIANT_BOOL* r) override {
    return Pass(L"CreateKeyAndValue", [&] { return real_->CreateKeyAndValue(s, k, v, r); });
  }
  HRESULT STDMETHODCALLTYPE WriteValue(BSTR* s, BSTR* k, BSTR* v, VARIANT_BOOL* r) override {
    return Pass(L"WriteValue", [&] { return real_->WriteValue(s, k, v, r); });
  }
  HRESULT STDMETHODCALLTYPE get_SectionsCount(LONG* r) override {
    return Pass(L"get_SectionsCount", [&] { return real_->get_SectionsCount(r); });
  }
  HRESULT STDMETHODCALLTYPE SectionAdd(BSTR s, VARIANT_BOOL* r) override {
    return Pass(L"SectionAdd", [&] { return real_->SectionAdd(s, r); });
  }
  HRESULT STDMETHODCALLTYPE SectionWriteAtOnce(BSTR* s, SAFEARRAY** k, SAFEARRAY** v, LONG* r) override {
    return Pass(L"SectionWriteAtOnce", [&] { return real_->SectionWriteAtOnce(s, k, v, r); });
  }
  HRESULT STDMETHODCALLTYPE RenameKey(BSTR s, BSTR c, BSTR n) override {
    return Pass(L"RenameKey", [&] { return real_->RenameKey(s, c, n); });
  }
  HRESULT STDMETHODCALLTYPE RenameSection(BSTR c, BSTR n) override {
    return Pass(L"RenameSection", [&] { return real_->RenameSection(c, n); });
  }
  HRESULT STDMETHODCALLTYPE DeleteSection(BSTR s) override {
    return Pass(L"DeleteSection", [&] { return real_->DeleteSection(s); });
  }
  HRESULT STDMETHODCALLTYPE DeleteKey(BSTR s, BSTR k) override {
    return Pass(L"DeleteKey", [&] { return real_->DeleteKey(s, k); });
  }

 private:
  struct Failure {
    HRESULT status;
    const wchar_t* description;
  };

  template <typename Forward>
  HRESULT Pass(const wchar_t* member, Forward forward) {
    ++calls_[member];
    const auto failure = failures_.find(member);
    if (failure == failures_.end()) return forward();
    automation::SetErrorInformation(failure->second.status, failure->second.description);
    return failure->second.status;
  }

  _Tolvane* real_;
  std::map<std::wstring, Failure> failures_;
  std::map<std::wstring, int> calls_;
};

// The composite logic built on the double, both pointed at one file.
class CompositeCalls : public test_support::TolvaneTest {
 protected:
  void SetUp() override {
    TolvaneTest::SetUp();
    double_ = std::make_unique<FailingTolvane>(object_.Get());
    logic_ = std::make_unique<profile_object::Tolvane>(*double_);
  }
  void TearDown() override {
    logic_.reset();
    double_.reset();
    TolvaneTest::TearDown();
  }
  void GivenSharedFile(const std::string& bytes) {
    GivenFile(bytes);
    logic_->SetIniFileName(Bstr(file_).Get());
  }
  // A new double, with no failures and no calls counted, on the same file.
  void StartOver() {
    logic_.reset();
    double_ = std::make_unique<FailingTolvane>(object_.Get());
    logic_ = std::make_unique<profile_object::Tolvane>(*double_);
    logic_->SetIniFileName(Bstr(file_).Get());
  }
  // The call's status as the interface boundary reports it.
  template <typename Work>
  HRESULT Status(Work work) {
    return automation::CallBoundary(work);
  }
  test_support::Text ErrorDescription() {
    const auto error = dispatch_calls::TakeErrorInformation();
    return error ? error->description : std::nullopt;
  }

  std::unique_ptr<FailingTolvane> double_;
  std::unique_ptr<profile_object::Tolvane> logic_;
};

TEST_F(CompositeCalls, ReachTheirPartsThroughTheInterface) {
  GivenSharedFile("[s]\r\na=1\r\n[old]\r\nx=1\r\ny=2\r\n");
  const UniqueBstr section = Bstr(L"s"), current = Bstr(L"a"), renamed = Bstr(L"b");
  ASSERT_EQ(Status([&] { logic_->RenameKey(section.Get(), current.Get(), renamed.Get()); }), S_OK);
  EXPECT_EQ(double_->CallsOf(L"WriteValue"), 1);
  EXPECT_EQ(double_->CallsOf(L"DeleteKey"), 1);

  const UniqueBstr oldSection = Bstr(L"old"), newSection = Bstr(L"new");
  ASSERT_EQ(Status([&] { logic_->RenameSection(oldSection.Get(), newSection.Get()); }), S_OK);
  EXPECT_EQ(double_->CallsOf(L"SectionWriteAtOnce"), 1);
  EXPECT_EQ(double_->CallsOf(L"DeleteSection"), 1);
  EXPECT_EQ(FileBytes(), "[s]\r\nb=1\r\n[new]\r\nx=1\r\ny=2\r\n");
}

TEST_F(CompositeCalls, RenameKeyPassesOnAFailingInnerCallAndStopsThere) {
  const std::string original = "[s]\r\na=1\r\n";
  GivenSharedFile(original);
  const UniqueBstr section = Bstr(L"s"), current = Bstr(L"a"), renamed = Bstr(L"b");

  double_->Fail(L"WriteValue", kSubscriptOutOfRange, L"inner write refused");
  EXPECT_EQ(Status([&] { logic_->RenameKey(section.Get(), current.Get(), renamed.Get()); }), kSubscriptOutOfRange);
  EXPECT_EQ(ErrorDescription(), L"inner write refused");  // the inner call's own information
  EXPECT_EQ(double_->CallsOf(L"DeleteKey"), 0);
  EXPECT_EQ(FileBytes(), original);

  // A failing delete comes after the write: the new key stays, and so does the old one.
  StartOver();
  double_->Fail(L"DeleteKey", E_ACCESSDENIED, L"inner delete refused");
  EXPECT_EQ(Status([&] { logic_->RenameKey(section.Get(), current.Get(), renamed.Get()); }), E_ACCESSDENIED);
  EXPECT_EQ(ErrorDescription(), L"inner delete refused");
  EXPECT_EQ(FileBytes(), "[s]\r\na=1\r\nb=1\r\n");
}

TEST_F(CompositeCalls, RenameSectionPassesOnAFailingInnerCallAndKeepsTheSection) {
  const std::string original = "[old]\r\nx=1\r\n[target]\r\nt=0\r\n[empty]\r\n";
  GivenSharedFile(original);
  const UniqueBstr oldSection = Bstr(L"old"), newSection = Bstr(L"new"), target = Bstr(L"target");
  const UniqueBstr empty = Bstr(L"empty");

  // Into a new section: one whole-section write.
  double_->Fail(L"SectionWriteAtOnce", kSubscriptOutOfRange, L"inner section write refused");
  EXPECT_EQ(Status([&] { logic_->RenameSection(oldSection.Get(), newSection.Get()); }), kSubscriptOutOfRange);
  EXPECT_EQ(ErrorDescription(), L"inner section write refused");
  // Into an existing section: key by key.
  double_->Fail(L"WriteValue", kSubscriptOutOfRange, L"inner write refused");
  EXPECT_EQ(Status([&] { logic_->RenameSection(oldSection.Get(), target.Get()); }), kSubscriptOutOfRange);
  // An empty section is added under the new name.
  double_->Fail(L"SectionAdd", kSubscriptOutOfRange, L"inner add refused");
  EXPECT_EQ(Status([&] { logic_->RenameSection(empty.Get(), newSection.Get()); }), kSubscriptOutOfRange);

  EXPECT_EQ(double_->CallsOf(L"DeleteSection"), 0);
  EXPECT_EQ(FileBytes(), original);

  // A failing delete at the end leaves both copies.
  StartOver();
  double_->Fail(L"DeleteSection", kSubscriptOutOfRange, L"inner delete refused");
  EXPECT_EQ(Status([&] { logic_->RenameSection(oldSection.Get(), newSection.Get()); }), kSubscriptOutOfRange);
  EXPECT_EQ(FileBytes(), original + "[new]\r\nx=1\r\n");
}

// ---- A member call keeps its object alive -----------------------------------------------

// An argument whose value, fetched while Invoke coerces it to text, costs the caller its
// last reference to the object being called.
class ReleasingArgument : public IDispatch {
 public:
  explicit ReleasingArgument(ComPtr<IDispatch> held) : held_(std::move(held)) {}
  long objectsAfterRelease = -1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid != IID_IUnknown && iid != IID_IDispatch) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IDispatch*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (dispid != DISPID_VALUE || !result) return DISP_E_MEMBERNOTFOUND;
    held_ = {};
    objectsAfterRelease = automation::Current(automation::Count::Objects);
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocString(L"released");
    return S_OK;
  }

 private:
  ComPtr<IDispatch> held_;
};

class ObjectLifetime : public ComApartment {};

TEST_F(ObjectLifetime, AnObjectReleasedByItsCallerDuringACallFinishesTheCallFirst) {
  test_support::IniFolder folder;
  const std::wstring file = folder.PathOf(L"lifetime.ini");
  IDispatch* object = automation::CreateTolvaneObject();
  ASSERT_NE(object, nullptr);
  const long objectsAlive = automation::Current(automation::Count::Objects);
  UniqueBstr name = Bstr(file);
  ASSERT_EQ(dispatch_calls::Put(object, dispatch_calls::kIniFileName.dispid, dispatch_calls::ByReference(name.InOut()))
                .status,
            S_OK);

  ReleasingArgument section{ComPtr<IDispatch>(object)};  // the only reference now
  UniqueBstr key = Bstr(L"k"), value = Bstr(L"v");
  const dispatch_calls::Outcome outcome = dispatch_calls::Invoke(
      object, dispatch_calls::kCreateKeyAndValue.dispid, DISPATCH_METHOD,
      {dispatch_calls::ByValue(&section), dispatch_calls::ByValue(key.Get()), dispatch_calls::ByValue(value.Get())});

  EXPECT_EQ(section.objectsAfterRelease, objectsAlive);  // still alive inside the call
  EXPECT_EQ(outcome.status, S_OK);
  EXPECT_EQ(V_VT(outcome.result.Get()), VT_BOOL);
  EXPECT_EQ(V_BOOL(outcome.result.Get()), VARIANT_TRUE);
  EXPECT_EQ(test_support::ReadBytes(file), "[released]\r\nk=v\r\n");
  EXPECT_EQ(automation::Current(automation::Count::Objects), objectsAlive - 1);  // and gone after it
}

}  // namespace
