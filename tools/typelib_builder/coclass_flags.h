// The platform's type-library writer marks a coclass whose default interface is dual as
// dispatchable (TYPEFLAG_FDISPATCHABLE), whatever flags it was given. This puts the
// flags the library must carry into the written file's coclass entries.
#pragma once

namespace typelib_builder {

// Sets the type flags of every coclass in the compiled type library at `path`
// (the platform's "MSFT" format). Returns false if the file is not such a library.
bool SetCoclassFlags(const wchar_t* path, unsigned flags);

}  // namespace typelib_builder
