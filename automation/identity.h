// The component's fixed identity. These GUIDs were chosen once and never change:
// clients, registries and compiled type libraries refer to them.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace automation {

// Voskini15T, the type library (version 6.0, lcid 0).
inline constexpr GUID kLibraryId = {0x25eadce8, 0x9500, 0x478f, {0x8c, 0x47, 0x89, 0x4a, 0x04, 0x59, 0xb0, 0x3f}};
// _Tolvane, the dual interface.
inline constexpr GUID kInterfaceId = {0xb7de8621, 0x73ca, 0x4cf2, {0x86, 0x31, 0xc4, 0x42, 0xd6, 0xf9, 0xc6, 0x38}};
// Tolvane, the creatable class.
inline constexpr GUID kClassId = {0xf3a97ee9, 0xd62b, 0x4cec, {0xa0, 0x90, 0x09, 0x93, 0x2a, 0xba, 0x78, 0x38}};

inline constexpr const wchar_t* kLibraryName = L"Voskini15T";
inline constexpr const wchar_t* kInterfaceName = L"_Tolvane";
inline constexpr const wchar_t* kClassName = L"Tolvane";
inline constexpr const wchar_t* kProgId = L"Voskini15T.Tolvane";
inline constexpr WORD kLibraryMajorVersion = 6;
inline constexpr WORD kLibraryMinorVersion = 0;
// The type library describes the function table of the DLL it is built into.
#ifdef _WIN64
inline constexpr SYSKIND kTargetSystem = SYS_WIN64;
#else
inline constexpr SYSKIND kTargetSystem = SYS_WIN32;
#endif

}  // namespace automation
