// How a call's status reaches the caller: faults fail the call with their HRESULT and
// error information (through Invoke as DISP_E_EXCEPTION with the code in EXCEPINFO) and
// leave the result empty; failures that a member reports through its result do not.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com_types/identity.h"
#include "com_types/owners.h"
#include "profile_object/fault.h"
#include "tests/support/dispatch_calls.h"
#include "tests/support/test_support.h"

using com_types::ComPtr;
using com_types::UniqueBstr;
using com_types::UniqueSafeArray;
using com_types::UniqueVariant;
using dispatch_calls::ByReference;
using dispatch_calls::ByValue;
using dispatch_calls::Outcome;
using test_support::Bstr;
using test_support::Elements;
using test_support::Text;
using test_support::TextArray;
using test_support::TextOf;

namespace {

using Texts = std::vector<Text>;

using profile_object::kArrayFixedOrLocked;
using profile_object::kInvalidArgument;
using profile_object::kTypeMismatch;

bool IsNonEmpty(const Text& text) { return text && !text->empty(); }

class CallStatus : public dispatch_calls::DispatchTest {
 protected:
  // ReadSection through the function table, with the caller's arrays in their slots.
  HRESULT ReadSectionInto(SAFEARRAY** keys, SAFEARRAY** values, UniqueVariant& result) {
    UniqueBstr section = Bstr(L"s");
    return object_->ReadSection(section.InOut(), keys, values, result.Get());
  }
  Outcome InvokeReadSection(SAFEARRAY** keys, SAFEARRAY** values) {
    UniqueBstr section = Bstr(L"s");
    return dispatch_calls::Invoke(dispatch_.Get(), dispatch_calls::kReadSection.dispid, DISPATCH_METHOD,
                                  {ByReference(section.InOut()), ByReference(keys), ByReference(values)});
  }
};

// A result VARIANT that a member must reset before anything else.
void Prefill(UniqueVariant& result) {
  V_VT(result.Get()) = VT_I4;
  V_I4(result.Get()) = 12345;
}

// ---- Faults -----------------------------------------------------------------------------

// A section line without "=" ends a whole-section read with the invalid-argument fault,
// after the lines before it are stored.
TEST_F(CallStatus, AFaultReachesBothKindsOfCallerWithItsCodeAndDescription) {
  GivenFile("[s]\r\na=1\r\nbare\r\nb=2\r\n");

  SAFEARRAY* keys = nullptr;
  SAFEARRAY* values = nullptr;
  UniqueVariant result;
  Prefill(result);
  EXPECT_EQ(ReadSectionInto(&keys, &values, result), kInvalidArgument);
  const UniqueSafeArray ownedKeys(keys), ownedValues(values);
  EXPECT_EQ(V_VT(result.Get()), VT_EMPTY);
  const std::optional<dispatch_calls::ErrorInformation> error = dispatch_calls::TakeErrorInformation();
  ASSERT_TRUE(error);
  EXPECT_TRUE(IsNonEmpty(error->description));
  EXPECT_TRUE(IsNonEmpty(error->source));
  EXPECT_EQ(error->interfaceId, com_types::kInterfaceId);
  // Work done before the fault stays done.
  EXPECT_EQ(Elements(keys), (Texts{L"a", std::nullopt}));
  EXPECT_EQ(Elements(values), (Texts{L"1", std::nullopt}));

  SAFEARRAY* lateKeys = nullptr;
  SAFEARRAY* lateValues = nullptr;
  const Outcome late = InvokeReadSection(&lateKeys, &lateValues);
  const UniqueSafeArray ownedLateKeys(lateKeys), ownedLateValues(lateValues);
  EXPECT_EQ(late.status, DISP_E_EXCEPTION);
  EXPECT_EQ(late.exception.scode, kInvalidArgument);
  EXPECT_EQ(late.exception.code, 0);
  EXPECT_EQ(late.exception.description, error->description);
  EXPECT_TRUE(IsNonEmpty(late.exception.source));
  EXPECT_EQ(V_VT(late.result.Get()), VT_EMPTY);
  EXPECT_EQ(Elements(lateKeys), Elements(keys));
}

TEST_F(CallStatus, NullPointersFailTheCallWithEPointer) {
  const std::string original = "[s]\r\nk=v\r\n";
  GivenFile(original);
  UniqueBstr section = Bstr(L"s"), key = Bstr(L"k"), value = Bstr(L"v");
  UniqueSafeArray keys = TextArray({L"k"}), values = TextArray({L"v"});
  SAFEARRAY* keySlot = keys.Get();
  SAFEARRAY* valueSlot = values.Get();

  // No place for the result.
  EXPECT_EQ(object_->get_IniFileName(nullptr), E_POINTER);
  EXPECT_EQ(object_->get_LastErrorA(nullptr), E_POINTER);
  EXPECT_EQ(object_->get_SectionsCount(nullptr), E_POINTER);
  EXPECT_EQ(object_->ReadValue(section.InOut(), key.InOut(), nullptr), E_POINTER);
  EXPECT_EQ(object_->ReadSection(section.InOut(), &keySlot, &valueSlot, nullptr), E_POINTER);
  EXPECT_EQ(object_->CreateKeyAndValue(section.Get(), key.Get(), value.Get(), nullptr), E_POINTER);
  EXPECT_EQ(object_->WriteValue(section.InOut(), key.InOut(), value.InOut(), nullptr), E_POINTER);
  EXPECT_EQ(object_->SectionAdd(section.Get(), nullptr), E_POINTER);
  EXPECT_EQ(object_->SectionWriteAtOnce(section.InOut(), &keySlot, &valueSlot, nullptr), E_POINTER);

  // No variable behind a by-reference parameter; the result still comes back empty.
  EXPECT_EQ(object_->put_IniFileName(nullptr), E_POINTER);
  BSTR text = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(object_->ReadValue(nullptr, key.InOut(), &text), E_POINTER);
  EXPECT_EQ(text, nullptr);
  VARIANT_BOOL written = VARIANT_TRUE;
  EXPECT_EQ(object_->WriteValue(section.InOut(), nullptr, value.InOut(), &written), E_POINTER);
  EXPECT_EQ(written, VARIANT_FALSE);
  UniqueVariant result;
  Prefill(result);
  EXPECT_EQ(object_->ReadSection(section.InOut(), nullptr, &valueSlot, result.Get()), E_POINTER);
  EXPECT_EQ(V_VT(result.Get()), VT_EMPTY);
  LONG lastIndex = 99;
  EXPECT_EQ(object_->SectionWriteAtOnce(section.InOut(), &keySlot, nullptr, &lastIndex), E_POINTER);
  EXPECT_EQ(lastIndex, 0);

  EXPECT_EQ(keySlot, keys.Get());
  EXPECT_EQ(valueSlot, values.Get());
  EXPECT_EQ(FileBytes(), original);
  BSTR name = nullptr;
  ASSERT_EQ(object_->get_IniFileName(&name), S_OK);
  EXPECT_EQ(TextOf(UniqueBstr(name).Get()), file_);
}

TEST_F(CallStatus, AnArrayArgumentMustBeAOneDimensionalTextArray) {
  const std::string original = "[s]\r\nk=v\r\n";
  GivenFile(original);
  SAFEARRAYBOUND twoRows[2] = {{2, 0}, {1, 0}};
  UniqueSafeArray twoDimensional(SafeArrayCreate(VT_BSTR, 2, twoRows));
  SAFEARRAYBOUND one{1, 0};
  UniqueSafeArray ofVariants(SafeArrayCreate(VT_VARIANT, 1, &one));
  ASSERT_TRUE(twoDimensional.Get() && ofVariants.Get());
  UniqueSafeArray text = TextArray({L"k"});

  for (SAFEARRAY* wrong : {twoDimensional.Get(), ofVariants.Get()}) {
    SCOPED_TRACE(SafeArrayGetDim(wrong) == 2 ? "two dimensions" : "VARIANT elements");
    SAFEARRAY* wrongSlot = wrong;
    SAFEARRAY* emptySlot = nullptr;
    UniqueVariant result;
    EXPECT_EQ(ReadSectionInto(&wrongSlot, &emptySlot, result), kTypeMismatch);
    EXPECT_EQ(V_VT(result.Get()), VT_EMPTY);
    EXPECT_EQ(ReadSectionInto(&emptySlot, &wrongSlot, result), kTypeMismatch);
    EXPECT_EQ(V_VT(result.Get()), VT_EMPTY);
    EXPECT_EQ(wrongSlot, wrong);
    EXPECT_EQ(emptySlot, nullptr);

    UniqueBstr section = Bstr(L"s");
    SAFEARRAY* textSlot = text.Get();
    LONG lastIndex = 99;
    EXPECT_EQ(object_->SectionWriteAtOnce(section.InOut(), &wrongSlot, &textSlot, &lastIndex), kTypeMismatch);
    EXPECT_EQ(lastIndex, 0);
    EXPECT_EQ(object_->SectionWriteAtOnce(section.InOut(), &textSlot, &wrongSlot, &lastIndex), kTypeMismatch);
    EXPECT_EQ(lastIndex, 0);
  }

  // One array cannot be both the keys and the values it is replaced by.
  SAFEARRAY* shared = nullptr;
  UniqueVariant result;
  EXPECT_EQ(ReadSectionInto(&shared, &shared, result), kInvalidArgument);
  EXPECT_EQ(V_VT(result.Get()), VT_EMPTY);

  // Through Invoke the array arrives as typed, and the member refuses it the same way.
  SAFEARRAY* wrongSlot = twoDimensional.Get();
  SAFEARRAY* emptySlot = nullptr;
  const Outcome late = InvokeReadSection(&wrongSlot, &emptySlot);
  EXPECT_EQ(late.status, DISP_E_EXCEPTION);
  EXPECT_EQ(late.exception.scode, kTypeMismatch);
  EXPECT_TRUE(IsNonEmpty(late.exception.description));
  EXPECT_EQ(V_VT(late.result.Get()), VT_EMPTY);
  EXPECT_EQ(wrongSlot, twoDimensional.Get());

  EXPECT_EQ(FileBytes(), original);
}

TEST_F(CallStatus, ReadSectionCannotReplaceAFixedOrLockedArray) {
  GivenFile("[s]\r\na=1\r\n");

  UniqueSafeArray fixed = TextArray({L"old"});
  fixed.Get()->fFeatures |= FADF_FIXEDSIZE;
  SAFEARRAY* fixedSlot = fixed.Get();
  SAFEARRAY* otherSlot = nullptr;
  UniqueVariant result;
  Prefill(result);
  EXPECT_EQ(ReadSectionInto(&fixedSlot, &otherSlot, result), kArrayFixedOrLocked);
  EXPECT_EQ(V_VT(result.Get()), VT_EMPTY);
  EXPECT_EQ(fixedSlot, fixed.Get());
  EXPECT_EQ(Elements(fixedSlot), (Texts{L"old"}));

  const Outcome late = InvokeReadSection(&fixedSlot, &otherSlot);
  UniqueSafeArray replacedOther(otherSlot);
  EXPECT_EQ(late.status, DISP_E_EXCEPTION);
  EXPECT_EQ(late.exception.scode, kArrayFixedOrLocked);
  EXPECT_TRUE(IsNonEmpty(late.exception.description));
  EXPECT_EQ(V_VT(late.result.Get()), VT_EMPTY);
  EXPECT_EQ(fixedSlot, fixed.Get());
  fixed.Get()->fFeatures &= ~FADF_FIXEDSIZE;

  UniqueSafeArray locked = TextArray({L"old"});
  ASSERT_EQ(SafeArrayLock(locked.Get()), S_OK);
  SAFEARRAY* lockedSlot = locked.Get();
  SAFEARRAY* keySlot = nullptr;
  Prefill(result);
  EXPECT_EQ(ReadSectionInto(&keySlot, &lockedSlot, result), kArrayFixedOrLocked);
  UniqueSafeArray replacedKeys(keySlot);
  EXPECT_EQ(V_VT(result.Get()), VT_EMPTY);
  EXPECT_EQ(lockedSlot, locked.Get());
  ASSERT_EQ(SafeArrayUnlock(locked.Get()), S_OK);
  EXPECT_EQ(Elements(lockedSlot), (Texts{L"old"}));
}

// ---- Outcomes are results, not failing calls --------------------------------------------

// Without a file name the guarded members fail this way too, in every calling form
// (file_name_guard_test.cpp).
TEST_F(CallStatus, AFailureReportedThroughTheResultIsStillASuccessfulCall) {
  // A key that is not there reads as the absent text, still successfully. (Wine's
  // dispatch copies the absent text into the result as an empty one; clients treat both
  // alike.)
  GivenFile("[s]\r\nother=1\r\n");
  UniqueBstr section = Bstr(L"s"), key = Bstr(L"k");
  const Outcome outcome = dispatch_calls::Invoke(dispatch_.Get(), dispatch_calls::kReadValue.dispid, DISPATCH_METHOD,
                                                 {ByReference(section.InOut()), ByReference(key.InOut())});
  EXPECT_EQ(outcome.status, S_OK);
  EXPECT_EQ(outcome.exception.scode, S_OK);
  EXPECT_EQ(dispatch_calls::TextOf(outcome.result.Get()).value_or(L""), L"");
  EXPECT_EQ(LastError(), L"Unknown Error");
}

}  // namespace
