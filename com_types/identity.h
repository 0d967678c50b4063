// The component's fixed identity. These GUIDs were chosen once and never change:
// clients, registries and compiled type libraries refer to them.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <array>
#include <cstddef>

namespace com_types {

// Voskini15T, the type library (version 6.0, lcid 0).
inline constexpr GUID kLibraryId = {0x25eadce8, 0x9500, 0x478f, {0x8c, 0x47, 0x89, 0x4a, 0x04, 0x59, 0xb0, 0x3f}};
// _Tolvane, the dual interface.
inline constexpr GUID kInterfaceId = {0xb7de8621, 0x73ca, 0x4cf2, {0x86, 0x31, 0xc4, 0x42, 0xd6, 0xf9, 0xc6, 0x38}};
// Tolvane, the creatable class.
inline constexpr GUID kClassId = {0xf3a97ee9, 0xd62b, 0x4cec, {0xa0, 0x90, 0x09, 0x93, 0x2a, 0xba, 0x78, 0x38}};

inline constexpr wchar_t kLibraryName[] = L"Voskini15T";
inline constexpr wchar_t kInterfaceName[] = L"_Tolvane";
inline constexpr wchar_t kClassName[] = L"Tolvane";

namespace identity_detail {
// The ProgID is the library name, a full stop and the class name.
template <size_t LibraryLength, size_t ClassLength>
constexpr std::array<wchar_t, LibraryLength + ClassLength> JoinProgId(const wchar_t (&library)[LibraryLength],
                                                                      const wchar_t (&className)[ClassLength]) {
  std::array<wchar_t, LibraryLength + ClassLength> joined{};
  size_t at = 0;
  for (size_t i = 0; i + 1 < LibraryLength; ++i) joined[at++] = library[i];
  joined[at++] = L'.';
  for (size_t i = 0; i + 1 < ClassLength; ++i) joined[at++] = className[i];
  return joined;  // the last element stays the closing NUL
}
inline constexpr auto kProgIdText = JoinProgId(kLibraryName, kClassName);
}  // namespace identity_detail
inline constexpr const wchar_t* kProgId = identity_detail::kProgIdText.data();

// A name as the single-byte text of the registration record (the names are ASCII).
template <size_t Size, size_t Length>
constexpr std::array<char, Size> NarrowName(const wchar_t (&name)[Length]) {
  static_assert(Length <= Size, "the name does not fit its field");
  std::array<char, Size> narrow{};
  for (size_t i = 0; i < Length; ++i) narrow[i] = static_cast<char>(name[i]);
  return narrow;
}

// The version of the assembly VoskTolvane.sxs that registration-free clients' manifests
// name: the file version of the first release that shipped them, changed only with the
// interface (the type library's version), so a new DLL serves clients built against an old one.
inline constexpr char kAssemblyVersion[] = "1.5.0.0";
inline constexpr WORD kLibraryMajorVersion = 6;
inline constexpr WORD kLibraryMinorVersion = 0;
// The library is none of restricted, a control library or hidden (LIBFLAGS).
inline constexpr WORD kLibraryFlags = 0;
// The library names no help files.
inline constexpr wchar_t kHelpDirectory[] = L"";
// Objects of the class live in the single-threaded apartment that created them.
inline constexpr wchar_t kThreadingModel[] = L"Apartment";
// _Tolvane is dual and oleautomation: oleaut32's marshaller works from the type library,
// and the component has no proxy DLL of its own.
inline constexpr GUID kTypeLibraryMarshallerId = {
    0x00020424, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// The interface and the class are both version 1.0.
inline constexpr WORD kTypeMajorVersion = 1;
inline constexpr WORD kTypeMinorVersion = 0;
// Object browsers show the class, not its interface; late-bound clients cannot add
// members to it.
inline constexpr WORD kInterfaceTypeFlags =
    TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
inline constexpr WORD kClassTypeFlags = TYPEFLAG_FCANCREATE;
// The type library describes the function table of the DLL it is built into.
#ifdef _WIN64
inline constexpr SYSKIND kTargetSystem = SYS_WIN64;
#else
inline constexpr SYSKIND kTargetSystem = SYS_WIN32;
#endif

}  // namespace com_types
