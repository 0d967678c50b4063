// The one-dimensional text arrays (SAFEARRAY of BSTR) that ReadSection fills and
// SectionWriteAtOnce reads, and the two-row pair array. Misuse raises the faults a
// caller of such arrays expects: subscript out of range, fixed or locked.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "com_types/owners.h"

namespace profile_object {

// Throws a type mismatch unless `array` is unallocated (null) or a one-dimensional
// array of BSTR.
void RequireTextArray(SAFEARRAY* array);

// Bounds of a one-dimensional array; an unallocated array raises subscript out of range.
LONG LowerBound(SAFEARRAY* array);
LONG UpperBound(SAFEARRAY* array);

// The element at `index`, read through the array's own bounds (borrowed, may be null).
BSTR TextAt(SAFEARRAY* array, LONG index);

// A new text array with bounds 0 to count - 1, every element the null BSTR
// (which clients read as the empty text).
com_types::UniqueSafeArray NewTextArray(LONG count);

// Puts `replacement` in the caller's array variable, freeing what it held. A fixed-size
// or locked array cannot be replaced: that raises the fixed-or-locked fault and
// leaves the caller's array as it was.
void ReplaceTextArray(SAFEARRAY** slot, com_types::UniqueSafeArray replacement);

// A two-dimensional text array: first index 0 to 1 (key, value), varying fastest,
// second index 0 to count - 1, holding copies of the texts of `keys` and `values`, two
// text arrays of `count` elements from index 0.
com_types::UniqueSafeArray PairArrayOf(SAFEARRAY* keys, SAFEARRAY* values);

}  // namespace profile_object
