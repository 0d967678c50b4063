// The object as late-bound clients meet it: its interfaces, its one type information,
// name resolution, and every member called through IDispatch::Invoke, by DISPID and by
// name, giving what the same call through the function table gives.
#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "com_types/identity.h"
#include "com_types/member_table.h"
#include "com_types/owners.h"
#include "automation/tolvane_object.h"
#include "tests/support/dispatch_calls.h"
#include "tests/support/test_support.h"

using com_types::ComPtr;
using com_types::kMembers;
using com_types::UniqueBstr;
using com_types::UniqueSafeArray;
using com_types::UniqueVariant;
using dispatch_calls::ByReference;
using dispatch_calls::ByValue;
using dispatch_calls::MemberName;
using dispatch_calls::Outcome;
using test_support::Bstr;
using test_support::Elements;
using test_support::Text;
using test_support::TextArray;
using test_support::TextOf;

namespace {

using Texts = std::vector<Text>;
using Pairs = std::vector<std::pair<Text, Text>>;

const MemberName kAllNames[] = {
    dispatch_calls::kIniFileName,   dispatch_calls::kLastErrorA,        dispatch_calls::kReadValue,
    dispatch_calls::kReadSection,   dispatch_calls::kCreateKeyAndValue, dispatch_calls::kWriteValue,
    dispatch_calls::kSectionsCount, dispatch_calls::kSectionAdd,        dispatch_calls::kSectionWriteAtOnce,
    dispatch_calls::kRenameKey,     dispatch_calls::kRenameSection,     dispatch_calls::kDeleteSection,
    dispatch_calls::kDeleteKey,
};

std::wstring InCase(std::wstring text, bool upper) {
  for (wchar_t& c : text) c = upper ? towupper(c) : towlower(c);
  return text;
}

template <typename Interface>
ComPtr<Interface> Query(IUnknown* object, REFIID iid, HRESULT expected = S_OK) {
  ComPtr<Interface> answer;
  EXPECT_EQ(object->QueryInterface(iid, reinterpret_cast<void**>(answer.Put())), expected);
  return answer;
}

// ---- Interfaces, type information and names ----------------------------------------------

class DispatchObject : public dispatch_calls::DispatchTest {};

TEST_F(DispatchObject, AnswersForItsFourInterfacesWithOneIdentity) {
  const ComPtr<IUnknown> identity = Query<IUnknown>(object_.Get(), IID_IUnknown);
  ASSERT_TRUE(identity);
  EXPECT_TRUE(Query<_Tolvane>(object_.Get(), com_types::kInterfaceId));
  const ComPtr<ISupportErrorInfo> errorInfo = Query<ISupportErrorInfo>(object_.Get(), IID_ISupportErrorInfo);
  ASSERT_TRUE(errorInfo);
  EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(com_types::kInterfaceId), S_OK);

  for (IUnknown* from : {static_cast<IUnknown*>(object_.Get()), static_cast<IUnknown*>(dispatch_.Get()),
                         static_cast<IUnknown*>(errorInfo.Get())}) {
    EXPECT_EQ(Query<IUnknown>(from, IID_IUnknown).Get(), identity.Get());
    EXPECT_TRUE(Query<IDispatch>(from, IID_IDispatch));
  }

  const GUID kSomeOtherInterface = {0x0badf00d, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
  for (const IID& other : {IID_IClassFactory, IID_IMarshal, IID_IPersist, IID_IProvideClassInfo,
                           IID_IConnectionPointContainer, IID_IErrorInfo, kSomeOtherInterface}) {
    void* answer = reinterpret_cast<void*>(1);
    EXPECT_EQ(object_->QueryInterface(other, &answer), E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
  }
  EXPECT_EQ(object_->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(DispatchObject, ServesTheInterfacesTypeInformationAsItsOnlyOne) {
  UINT count = 0;
  ASSERT_EQ(dispatch_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);

  ComPtr<ITypeInfo> info;
  ASSERT_EQ(dispatch_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Put()), S_OK);
  ASSERT_TRUE(info);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->guid, com_types::kInterfaceId);
  EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
  info->ReleaseTypeAttr(attributes);
  BSTR name = nullptr;
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(TextOf(UniqueBstr(name).Get()), L"_Tolvane");

  ITypeInfo* beyond = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(dispatch_->GetTypeInfo(1, LOCALE_USER_DEFAULT, &beyond), DISP_E_BADINDEX);
  EXPECT_EQ(beyond, nullptr);
}

TEST_F(DispatchObject, ResolvesEveryMemberNameInAnyCase) {
  for (const MemberName& member : kAllNames) {
    SCOPED_TRACE(testing::Message() << member.name);
    EXPECT_EQ(dispatch_calls::IdOf(dispatch_.Get(), member.name), member.dispid);
    EXPECT_EQ(dispatch_calls::IdOf(dispatch_.Get(), InCase(member.name, false).c_str()), member.dispid);
    EXPECT_EQ(dispatch_calls::IdOf(dispatch_.Get(), InCase(member.name, true).c_str()), member.dispid);
  }
}

TEST_F(DispatchObject, ResolvesParameterNamesToTheirPositions) {
  for (const com_types::Member& member : kMembers) {
    std::vector<LPOLESTR> names{const_cast<LPOLESTR>(member.name)};
    for (size_t i = 0; i < com_types::NamedParameterCount(member); ++i) {
      names.push_back(const_cast<LPOLESTR>(member.parameters[i].name));
    }
    if (names.size() == 1) continue;
    SCOPED_TRACE(testing::Message() << member.name);
    std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
    ASSERT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), LOCALE_USER_DEFAULT,
                                       ids.data()),
              S_OK);
    EXPECT_EQ(ids[0], member.dispid);
    for (size_t i = 1; i < ids.size(); ++i) EXPECT_EQ(ids[i], static_cast<DISPID>(i - 1));
  }

  // Stated by hand for one member, so that a renamed parameter shows.
  LPOLESTR renameKey[] = {const_cast<LPOLESTR>(L"renamekey"), const_cast<LPOLESTR>(L"NEWKEYNAME"),
                          const_cast<LPOLESTR>(L"Section")};
  DISPID ids[3] = {};
  ASSERT_EQ(dispatch_->GetIDsOfNames(IID_NULL, renameKey, 3, LOCALE_USER_DEFAULT, ids), S_OK);
  EXPECT_EQ(ids[0], dispatch_calls::kRenameKey.dispid);
  EXPECT_EQ(ids[1], 2);
  EXPECT_EQ(ids[2], 0);
}

TEST_F(DispatchObject, LeavesUnknownNamesAndMembersUnresolved) {
  EXPECT_EQ(dispatch_calls::IdOf(dispatch_.Get(), L"NoSuchMember"), DISPID_UNKNOWN);
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
  DISPID id = 0;
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);

  LPOLESTR unknownParameter[] = {const_cast<LPOLESTR>(L"ReadValue"), const_cast<LPOLESTR>(L"Value")};
  DISPID ids[2] = {};
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, unknownParameter, 2, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], dispatch_calls::kReadValue.dispid);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);

  LPOLESTR known[] = {const_cast<LPOLESTR>(L"ReadValue")};
  EXPECT_EQ(dispatch_->GetIDsOfNames(com_types::kInterfaceId, known, 1, LOCALE_USER_DEFAULT, &id),
            DISP_E_UNKNOWNINTERFACE);

  // No member by an unknown DISPID, no put of a read-only property, no call as a method
  // of a property put.
  EXPECT_EQ(dispatch_calls::Invoke(dispatch_.Get(), 0x60030042, DISPATCH_METHOD).status, DISP_E_MEMBERNOTFOUND);
  UniqueBstr text = Bstr(L"x");
  EXPECT_EQ(dispatch_calls::Put(dispatch_.Get(), dispatch_calls::kLastErrorA.dispid, ByValue(text.Get())).status,
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(dispatch_calls::Put(dispatch_.Get(), dispatch_calls::kSectionsCount.dispid, ByValue(text.Get())).status,
            DISP_E_MEMBERNOTFOUND);
}

// ---- Every member through Invoke -------------------------------------------------------

enum class Resolve { ByDispid, ByName };

std::ostream& operator<<(std::ostream& out, Resolve resolve) {
  return out << (resolve == Resolve::ByDispid ? "by DISPID" : "by name");
}

// Two objects on two copies of one file: object_ called through its function table,
// late_ through Invoke. Both must give the same results and leave the same bytes.
class LateBinding : public test_support::TolvaneTest, public testing::WithParamInterface<Resolve> {
 protected:
  void SetUp() override {
    TolvaneTest::SetUp();
    ComPtr<_Tolvane> created(automation::CreateTolvaneObject());
    ASSERT_TRUE(created);
    late_ = Query<IDispatch>(created.Get(), IID_IDispatch);
    lateFile_ = folder_.PathOf(L"late.ini");
  }
  void TearDown() override {
    late_ = {};
    TolvaneTest::TearDown();
  }

  void GivenFiles(const std::string& bytes) {
    GivenFile(bytes);
    test_support::WriteBytes(lateFile_, bytes);
    UniqueBstr name = Bstr(lateFile_);
    ASSERT_EQ(PutProperty(dispatch_calls::kIniFileName, ByReference(name.InOut())).status, S_OK);
  }
  std::optional<std::string> LateFileBytes() const { return test_support::ReadBytes(lateFile_); }

  DISPID IdOf(const MemberName& member) {
    if (GetParam() == Resolve::ByDispid) return member.dispid;
    const DISPID id = dispatch_calls::IdOf(late_.Get(), member.name);
    EXPECT_NE(id, DISPID_UNKNOWN) << member.name;
    return id;
  }
  Outcome Call(const MemberName& member, WORD flags, std::vector<VARIANTARG> arguments = {}) {
    Outcome outcome = dispatch_calls::Invoke(late_.Get(), IdOf(member), flags, std::move(arguments));
    EXPECT_EQ(outcome.exception.scode, S_OK) << member.name;
    return outcome;
  }
  Outcome Method(const MemberName& member, std::vector<VARIANTARG> arguments) {
    return Call(member, DISPATCH_METHOD, std::move(arguments));
  }
  Outcome Get(const MemberName& member) { return Call(member, DISPATCH_PROPERTYGET); }
  Outcome PutProperty(const MemberName& member, VARIANTARG value) {
    return dispatch_calls::Put(late_.Get(), IdOf(member), value);
  }

  ComPtr<IDispatch> late_;
  std::wstring lateFile_;
};

void ExpectBoolean(const Outcome& outcome, bool expected) {
  EXPECT_EQ(outcome.status, S_OK);
  EXPECT_EQ(V_VT(outcome.result.Get()), VT_BOOL);
  EXPECT_EQ(V_BOOL(outcome.result.Get()), expected ? VARIANT_TRUE : VARIANT_FALSE);
}

void ExpectLong(const Outcome& outcome, LONG expected) {
  EXPECT_EQ(outcome.status, S_OK);
  EXPECT_EQ(V_VT(outcome.result.Get()), VT_I4);
  EXPECT_EQ(V_I4(outcome.result.Get()), expected);
}

void ExpectNoResult(const Outcome& outcome) {
  EXPECT_EQ(outcome.status, S_OK);
  EXPECT_EQ(V_VT(outcome.result.Get()), VT_EMPTY);
}

TEST_P(LateBinding, PropertiesGetAndPutAsThroughTheFunctionTable) {
  // The put's value by reference, as the function table takes it...
  UniqueBstr name = Bstr(lateFile_);
  ExpectNoResult(PutProperty(dispatch_calls::kIniFileName, ByReference(name.InOut())));
  Outcome got = Get(dispatch_calls::kIniFileName);
  EXPECT_EQ(got.status, S_OK);
  EXPECT_EQ(dispatch_calls::TextOf(got.result.Get()), lateFile_);
  const ComPtr<_Tolvane> early = Query<_Tolvane>(late_.Get(), com_types::kInterfaceId);
  BSTR earlyName = nullptr;
  ASSERT_EQ(early->get_IniFileName(&earlyName), S_OK);
  EXPECT_EQ(TextOf(UniqueBstr(earlyName).Get()), lateFile_);

  // ...and by value, as a script passes an expression; the caller's text stays its own.
  const std::wstring otherFile = folder_.PathOf(L"other.ini");
  UniqueBstr other = Bstr(otherFile);
  const BSTR passed = other.Get();
  ExpectNoResult(PutProperty(dispatch_calls::kIniFileName, ByValue(other.Get())));
  EXPECT_EQ(other.Get(), passed);
  EXPECT_EQ(TextOf(other.Get()), otherFile);
  // Scripting clients ask for a property with both flags.
  got = Call(dispatch_calls::kIniFileName, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
  EXPECT_EQ(got.status, S_OK);
  EXPECT_EQ(dispatch_calls::TextOf(got.result.Get()), otherFile);

  GivenFiles("[a]\r\n[b]\r\nk=v\r\n");
  ExpectLong(Get(dispatch_calls::kSectionsCount), SectionsCount());
  ExpectLong(Get(dispatch_calls::kSectionsCount), 2);

  // A failed read leaves its message in LastErrorA, read the same both ways.
  EXPECT_EQ(ReadValue(L"b", L"missing"), std::nullopt);
  UniqueBstr section = Bstr(L"b"), key = Bstr(L"missing");
  Method(dispatch_calls::kReadValue, {ByReference(section.InOut()), ByReference(key.InOut())});
  got = Get(dispatch_calls::kLastErrorA);
  EXPECT_EQ(got.status, S_OK);
  EXPECT_EQ(dispatch_calls::TextOf(got.result.Get()), LastError());
  EXPECT_EQ(LastError(), L"Unknown Error");
}

TEST_P(LateBinding, KeyMembersGiveWhatTheFunctionTableGives) {
  GivenFiles("[s1]\r\na=1\r\nb=two\r\n");

  UniqueBstr section = Bstr(L"s1"), key = Bstr(L"b");
  Outcome read = Method(dispatch_calls::kReadValue, {ByReference(section.InOut()), ByReference(key.InOut())});
  EXPECT_EQ(read.status, S_OK);
  EXPECT_EQ(dispatch_calls::TextOf(read.result.Get()), ReadValue(L"s1", L"b"));
  EXPECT_EQ(ReadValue(L"s1", L"b"), L"two");

  UniqueBstr value = Bstr(L"3");
  key = Bstr(L"c");
  ExpectBoolean(Method(dispatch_calls::kWriteValue,
                       {ByReference(section.InOut()), ByReference(key.InOut()), ByReference(value.InOut())}),
                WriteValue(L"s1", L"c", L"3"));

  UniqueBstr newSection = Bstr(L"s2"), newKey = Bstr(L"k"), newValue = Bstr(L"v");
  ExpectBoolean(Method(dispatch_calls::kCreateKeyAndValue,
                       {ByValue(newSection.Get()), ByValue(newKey.Get()), ByValue(newValue.Get())}),
                CreateKeyAndValue(L"s2", L"k", L"v"));

  UniqueBstr current = Bstr(L"a"), renamed = Bstr(L"z");
  ExpectNoResult(
      Method(dispatch_calls::kRenameKey, {ByValue(section.Get()), ByValue(current.Get()), ByValue(renamed.Get())}));
  RenameKey(L"s1", L"a", L"z");

  UniqueBstr deleted = Bstr(L"b");
  ExpectNoResult(Method(dispatch_calls::kDeleteKey, {ByValue(section.Get()), ByValue(deleted.Get())}));
  DeleteKey(L"s1", L"b");

  EXPECT_EQ(LateFileBytes(), FileBytes());
  EXPECT_EQ(LateFileBytes(), "[s1]\r\nc=3\r\nz=1\r\n[s2]\r\nk=v\r\n");
}

TEST_P(LateBinding, SectionMembersGiveWhatTheFunctionTableGives) {
  GivenFiles("[a]\r\nk1=v1\r\nk2=v2\r\n[b]\r\nx=1\r\n");

  ExpectLong(Get(dispatch_calls::kSectionsCount), SectionsCount());

  UniqueBstr section = Bstr(L"a");
  SAFEARRAY* lateKeys = nullptr;
  SAFEARRAY* lateValues = nullptr;
  Outcome read = Method(dispatch_calls::kReadSection,
                        {ByReference(section.InOut()), ByReference(&lateKeys), ByReference(&lateValues)});
  const UniqueSafeArray ownedLateKeys(lateKeys), ownedLateValues(lateValues);
  EXPECT_EQ(read.status, S_OK);
  {
    UniqueBstr earlySection = Bstr(L"a");
    SAFEARRAY* keys = nullptr;
    SAFEARRAY* values = nullptr;
    UniqueVariant result;
    ASSERT_EQ(object_->ReadSection(earlySection.InOut(), &keys, &values, result.Get()), S_OK);
    const UniqueSafeArray ownedKeys(keys), ownedValues(values);
    EXPECT_EQ(dispatch_calls::PairsOf(read.result.Get()), dispatch_calls::PairsOf(result.Get()));
    EXPECT_EQ(Elements(lateKeys), Elements(keys));
    EXPECT_EQ(Elements(lateValues), Elements(values));
  }
  EXPECT_EQ(dispatch_calls::PairsOf(read.result.Get()), (Pairs{{L"k1", L"v1"}, {L"k2", L"v2"}}));
  EXPECT_EQ(Elements(lateKeys), (Texts{L"k1", L"k2"}));
  EXPECT_EQ(Elements(lateValues), (Texts{L"v1", L"v2"}));

  UniqueBstr added = Bstr(L"c");
  ExpectBoolean(Method(dispatch_calls::kSectionAdd, {ByValue(added.Get())}), SectionAdd(L"c"));

  UniqueBstr written = Bstr(L"d");
  UniqueSafeArray keys = TextArray({L"p", L"q"}), values = TextArray({L"1", L"2"});
  SAFEARRAY* keySlot = keys.Get();
  SAFEARRAY* valueSlot = values.Get();
  Outcome write = Method(dispatch_calls::kSectionWriteAtOnce,
                         {ByReference(written.InOut()), ByReference(&keySlot), ByReference(&valueSlot)});
  {
    UniqueBstr earlySection = Bstr(L"d");
    UniqueSafeArray earlyKeys = TextArray({L"p", L"q"}), earlyValues = TextArray({L"1", L"2"});
    SAFEARRAY* k = earlyKeys.Get();
    SAFEARRAY* v = earlyValues.Get();
    LONG lastIndex = -7;
    ASSERT_EQ(object_->SectionWriteAtOnce(earlySection.InOut(), &k, &v, &lastIndex), S_OK);
    ExpectLong(write, lastIndex);
  }
  ExpectLong(write, 1);
  EXPECT_EQ(keySlot, keys.Get());  // only read
  EXPECT_EQ(valueSlot, values.Get());

  UniqueBstr current = Bstr(L"b"), renamed = Bstr(L"e");
  ExpectNoResult(Method(dispatch_calls::kRenameSection, {ByValue(current.Get()), ByValue(renamed.Get())}));
  RenameSection(L"b", L"e");

  ExpectNoResult(Method(dispatch_calls::kDeleteSection, {ByValue(section.Get())}));
  DeleteSection(L"a");

  EXPECT_EQ(LateFileBytes(), FileBytes());
  EXPECT_EQ(LateFileBytes(), "[c]\r\n[d]\r\np=1\r\nq=2\r\n[e]\r\nx=1\r\n");
}

// A character outside code page 1252 (U+4E00) cannot reach the file: the caller's
// by-reference variable comes back as the file saw it, by-value text as it was passed.
TEST_P(LateBinding, ByReferenceTextComesBackConvertedAndByValueTextAsPassed) {
  GivenFiles("[s?]\r\nk=found\r\n");

  UniqueBstr section = Bstr(L"s\u4E00"), key = Bstr(L"k");
  Outcome read = Method(dispatch_calls::kReadValue, {ByReference(section.InOut()), ByReference(key.InOut())});
  EXPECT_EQ(read.status, S_OK);
  EXPECT_EQ(dispatch_calls::TextOf(read.result.Get()), L"found");
  EXPECT_EQ(TextOf(section.Get()), L"s?");
  EXPECT_EQ(TextOf(key.Get()), L"k");
  {
    UniqueBstr earlySection = Bstr(L"s\u4E00"), earlyKey = Bstr(L"k");
    BSTR result = nullptr;
    ASSERT_EQ(object_->ReadValue(earlySection.InOut(), earlyKey.InOut(), &result), S_OK);
    EXPECT_EQ(TextOf(UniqueBstr(result).Get()), dispatch_calls::TextOf(read.result.Get()));
    EXPECT_EQ(TextOf(earlySection.Get()), TextOf(section.Get()));
  }

  UniqueBstr value = Bstr(L"v\u4E00");
  section = Bstr(L"s\u4E00");
  key = Bstr(L"k2");
  ExpectBoolean(Method(dispatch_calls::kWriteValue,
                       {ByReference(section.InOut()), ByReference(key.InOut()), ByReference(value.InOut())}),
                true);
  EXPECT_EQ(TextOf(section.Get()), L"s?");
  EXPECT_EQ(TextOf(value.Get()), L"v?");
  EXPECT_EQ(LateFileBytes(), "[s?]\r\nk=found\r\nk2=v?\r\n");

  // By value: the same text, given to a member that takes it so, is used converted and
  // left as it was passed, in the caller's variable and in the argument list.
  UniqueBstr byValueSection = Bstr(L"s\u4E00"), byValueKey = Bstr(L"k2");
  const BSTR passedSection = byValueSection.Get();
  const Outcome deleted =
      Method(dispatch_calls::kDeleteKey, {ByValue(byValueSection.Get()), ByValue(byValueKey.Get())});
  ExpectNoResult(deleted);
  EXPECT_EQ(byValueSection.Get(), passedSection);
  EXPECT_EQ(TextOf(byValueSection.Get()), L"s\u4E00");
  ASSERT_EQ(deleted.arguments.size(), 2u);
  EXPECT_EQ(dispatch_calls::TextOf(deleted.arguments[0].Get()), L"s\u4E00");
  EXPECT_EQ(LateFileBytes(), "[s?]\r\nk=found\r\n");
}

INSTANTIATE_TEST_SUITE_P(Resolved, LateBinding, testing::Values(Resolve::ByDispid, Resolve::ByName),
                         [](const testing::TestParamInfo<Resolve>& info) {
                           return info.param == Resolve::ByDispid ? "ByDispid" : "ByName";
                         });

}  // namespace
