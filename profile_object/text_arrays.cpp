#include "profile_object/text_arrays.h"

#include <climits>

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
  SAFEARRAY* old = *slot;
  constexpr USHORT kNotResizable = FADF_FIXEDSIZE | FADF_STATIC | FADF_EMBEDDED | FADF_AUTO;
  if (old && (old->cLocks != 0 || (old->fFeatures & kNotResizable) != 0)) throw Fault::ArrayFixedOrLocked();
  if (old && FAILED(SafeArrayDestroy(old))) throw Fault::ArrayFixedOrLocked();
  *slot = replacement.Release();
}

com_types::UniqueSafeArray NewPairArray(LONG count) {
  // SafeArrayCreate takes the leftmost (fastest varying) dimension first.
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {static_cast<ULONG>(count), 0}};
  com_types::UniqueSafeArray array(SafeArrayCreate(VT_BSTR, 2, bounds));
  if (!array.Get()) throw std::bad_alloc();
  return array;
}

}  // namespace profile_object
