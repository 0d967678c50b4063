// Late-bound calls as an automation client makes them: arguments wrapped in
// VARIANTARGs, DISPPARAMS built in reverse order, a property put's value named
// DISPID_PROPERTYPUT, and what Invoke hands back (status, result, exception) kept in
// owners so that no test leaks a BSTR or VARIANT.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <optional>
#include <string>
#include <vector>

#include "com_types/owners.h"
#include "tests/support/test_support.h"

namespace dispatch_calls {

using com_types::UniqueBstr;
using com_types::UniqueVariant;
using test_support::Text;

// A member as a late-bound client names it. The DISPIDs are stated here once more, by
// hand, so that an edit of the member table shows up as a failing test.
struct MemberName {
  const wchar_t* name;
  DISPID dispid;
};
inline constexpr MemberName kIniFileName{L"IniFileName", 0x68030002};
inline constexpr MemberName kLastErrorA{L"LastErrorA", 0x68030001};
inline constexpr MemberName kReadValue{L"ReadValue", 0x60030003};
inline constexpr MemberName kReadSection{L"ReadSection", 0x60030004};
inline constexpr MemberName kCreateKeyAndValue{L"CreateKeyAndValue", 0x60030005};
inline constexpr MemberName kWriteValue{L"WriteValue", 0x60030006};
inline constexpr MemberName kSectionsCount{L"SectionsCount", 0x68030000};
inline constexpr MemberName kSectionAdd{L"SectionAdd", 0x60030007};
inline constexpr MemberName kSectionWriteAtOnce{L"SectionWriteAtOnce", 0x60030008};
inline constexpr MemberName kRenameKey{L"RenameKey", 0x60030009};
inline constexpr MemberName kRenameSection{L"RenameSection", 0x6003000A};
inline constexpr MemberName kDeleteSection{L"DeleteSection", 0x6003000B};
inline constexpr MemberName kDeleteKey{L"DeleteKey", 0x6003000C};

// How script engines call a method: as a method or a property get, whichever it is.
inline constexpr WORD kScriptCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

// The three ways a client reaches a member: through the function table (early bound),
// through Invoke with typed arguments as compiled clients pass them, and through Invoke
// with by-reference VARIANT variables as scripts pass them.
enum class Binding { FunctionTable, TypedDispatch, ScriptDispatch };
inline constexpr Binding kBindings[] = {Binding::FunctionTable, Binding::TypedDispatch, Binding::ScriptDispatch};
const char* NameOf(Binding binding);

// Arguments borrow what they point at. By default Invoke is handed copies of them, the
// way a script engine hands over its temporaries: the platform's dispatch may write into
// a by-value argument that meets a by-reference parameter, and the copies keep the
// caller's own texts out of its reach.
VARIANTARG ByValue(BSTR text);
VARIANTARG ByReference(BSTR* text);
VARIANTARG ByReference(SAFEARRAY** textArray);
VARIANTARG ByReference(VARIANT* variable);  // VT_BYREF | VT_VARIANT, as scripts pass variables
VARIANTARG ByValue(IDispatch* object);

// Script variables: a text, and an array of VARIANTs holding texts (one dimension, from 0,
// with `extraFeatures` such as FADF_FIXEDSIZE).
UniqueVariant TextVariant(const std::wstring& text);
UniqueVariant ScriptArray(const std::vector<std::wstring>& texts, USHORT extraFeatures = 0);
// The texts of a script array; asserts VT_ARRAY | VT_VARIANT with text elements.
std::vector<Text> TextsOfScriptArray(const VARIANT* value);

// How Invoke is handed the arguments.
enum class ArgumentPassing {
  // Copies (VariantCopy), cleared after the call; the outcome keeps them as Invoke left
  // them.
  Copied,
  // The caller's VARIANTARGs themselves, in DISPPARAMS order but otherwise as given: for
  // arguments that must reach the object exactly as made (locked arrays, odd types,
  // arrays that cannot be copied). Nothing is copied or cleared, and the outcome's
  // argument list stays empty.
  Borrowed,
};

// EXCEPINFO with its texts owned.
struct Exception {
  WORD code = 0;
  SCODE scode = S_OK;
  Text source;
  Text description;
  Text helpFile;
};

struct Outcome {
  HRESULT status = E_FAIL;
  UniqueVariant result;
  Exception exception;
  UINT argumentError = 0;
  // The argument list as Invoke left it, in the member's order.
  std::vector<UniqueVariant> arguments;
};

// Invoke with the arguments in the member's own order.
Outcome Invoke(IDispatch* object, DISPID dispid, WORD flags, std::vector<VARIANTARG> arguments = {},
               ArgumentPassing passing = ArgumentPassing::Copied);
// A property put: the one argument named DISPID_PROPERTYPUT.
Outcome Put(IDispatch* object, DISPID dispid, VARIANTARG value, ArgumentPassing passing = ArgumentPassing::Copied);

// The thread's error information, taken (and so cleared) as a client takes it after a
// failed early-bound call; nullopt when there is none.
struct ErrorInformation {
  Text source;
  Text description;
  GUID interfaceId = GUID_NULL;
};
std::optional<ErrorInformation> TakeErrorInformation();

// GetIDsOfNames for one name; DISPID_UNKNOWN when it does not resolve.
DISPID IdOf(IDispatch* object, const wchar_t* name);

// The contents of a result, for comparing the two ways of calling.
Text TextOf(const VARIANT* value);  // asserts VT_BSTR
// Asserts VT_ARRAY | VT_BSTR, two rows, entries from 0; element (0, i) is a key and
// (1, i) its value.
std::vector<std::pair<Text, Text>> PairsOf(const VARIANT* value);

// The TolvaneTest fixture with the object's IDispatch beside its function table.
class DispatchTest : public test_support::TolvaneTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  com_types::ComPtr<IDispatch> dispatch_;
};

}  // namespace dispatch_calls
