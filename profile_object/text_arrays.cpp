#include "profile_object/text_arrays.h"

#include <climits>
#include <utility>

#include "profile_object/fault.h"

namespace profile_object {

void RequireTextArray(SAFEARRAY* array) {
  if (!array) return;
  VARTYPE type = VT_EMPTY;
  if (SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetVartype(array, &type)) || type != VT_BSTR) {
    throw Fault::TypeMismatch();
  }
}

LONG LowerBound(SAFEARRAY* array) {
  if (!array) throw Fault::SubscriptOutOfRange();
  return array->rgsabound[0].lLbound;
}

LONG UpperBound(SAFEARRAY* array) {
  if (!array) throw Fault::SubscriptOutOfRange();
  const SAFEARRAYBOUND& bound = array->rgsabound[0];
  const LONGLONG upper = static_cast<LONGLONG>(bound.lLbound) + bound.cElements - 1;
  // Bounds a 32-bit index cannot reach; below, an empty array at the lowest lower bound.
  if (upper > LONG_MAX || upper < LONG_MIN) throw Fault::Overflow();
  return static_cast<LONG>(upper);
}

BSTR TextAt(SAFEARRAY* array, LONG index) {
  if (index < LowerBound(array) || index > UpperBound(array)) throw Fault::SubscriptOutOfRange();
  return static_cast<BSTR*>(array->pvData)[index - array->rgsabound[0].lLbound];
}

com_types::UniqueSafeArray NewTextArray(LONG count) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(count), 0};
  com_types::UniqueSafeArray array(SafeArrayCreate(VT_BSTR, 1, &bound));
  if (!array.Get()) throw std::bad_alloc();
  return array;
}

void ReplaceTextArray(SAFEARRAY** slot, com_types::UniqueSafeArray replacement) {
  if (*slot && com_types::FixedOrLocked(*slot)) throw Fault::ArrayFixedOrLocked();
  const com_types::UniqueSafeArray replaced(std::exchange(*slot, replacement.Release()));
}

com_types::UniqueSafeArray PairArrayOf(SAFEARRAY* keys, SAFEARRAY* values) {
  const ULONG count = keys->rgsabound[0].cElements;
  // SafeArrayCreate takes the leftmost (fastest varying) dimension first.
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {count, 0}};
  com_types::UniqueSafeArray pairs(SafeArrayCreate(VT_BSTR, 2, bounds));
  if (!pairs.Get()) throw std::bad_alloc();
  com_types::SafeArrayData<BSTR> elements(pairs.Get());
  for (ULONG i = 0; i < count; ++i) {
    elements[2 * i] = com_types::UniqueBstr::Copy(TextAt(keys, static_cast<LONG>(i))).Release();
    elements[2 * i + 1] = com_types::UniqueBstr::Copy(TextAt(values, static_cast<LONG>(i))).Release();
  }
  return pairs;
}

}  // namespace profile_object
