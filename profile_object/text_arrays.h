// The text arrays (SAFEARRAY of BSTR, one dimension) that ReadSection fills and
// SectionWriteAtOnce reads, and the pair array; misuse raises the faults callers expect.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "com_types/owners.h"

namespace profile_object {

// Throws a type mismatch unless `array` is unallocated (null) or one-dimensional of BSTR.
void RequireTextArray(SAFEARRAY* array);

// Bounds of a one-dimensional array; an unallocated array raises subscript out of range.
LONG LowerBound(SAFEARRAY* array);
LONG UpperBound(SAFEARRAY* array);

// The element at `index`, read through the array's own bounds (borrowed, may be null).
BSTR TextAt(SAFEARRAY* array, LONG index);

// A new text array, bounds 0 to count - 1, of null BSTRs (the empty text to clients).
com_types::UniqueSafeArray NewTextArray(LONG count);

// Puts `replacement` in the caller's array variable, freeing what it held; a fixed-size or
// locked array raises the fixed-or-locked fault instead, and stays as it was.
void ReplaceTextArray(SAFEARRAY** slot, com_types::UniqueSafeArray replacement);

// A two-dimensional text array of copies of `keys` and `values` (text arrays of `count`
// elements from 0): first index 0 to 1 (key, value), varying fastest, second 0 to count - 1.
com_types::UniqueSafeArray PairArrayOf(SAFEARRAY* keys, SAFEARRAY* values);

}  // namespace profile_object
