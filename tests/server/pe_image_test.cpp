// The DLL file as the loader and registration tools see it, read from its bytes: the
// export directory (module name, names and ordinals) and the import table (system DLLs
// only, and no profile function bound at load time).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/server/server_dll.h"

namespace {

std::string Lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(tolower(c)); });
  return text;
}

// A PE image (PE32 or PE32+) read from a file, with RVAs resolved through its section
// table.
class PeImage {
 public:
  explicit PeImage(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Empty when the headers are those of a PE image of this program's own kind.
  std::string Problem() const {
    const auto* dos = At<IMAGE_DOS_HEADER>(0);
    if (!dos) return "file missing or too short";
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return "no MZ header";
    const auto* signature = At<DWORD>(dos->e_lfanew);
    if (!signature || *signature != IMAGE_NT_SIGNATURE || !FileHeader()) return "no PE header";
    const auto* magic = At<WORD>(OptionalHeaderOffset());
    if (!magic || *magic != kOptionalHeaderMagic) return "not the optional header of this program's kind";
    if (!At<OptionalHeader>(OptionalHeaderOffset())) return "optional header cut short";
    return {};
  }

  const IMAGE_FILE_HEADER& File() const { return *FileHeader(); }
  const IMAGE_DATA_DIRECTORY& Directory(int index) const {
    return At<OptionalHeader>(OptionalHeaderOffset())->DataDirectory[index];
  }

  // The file offset of an RVA, or nullopt when no section holds it.
  std::optional<size_t> Offset(DWORD rva) const {
    const size_t sections = OptionalHeaderOffset() + File().SizeOfOptionalHeader;
    for (WORD i = 0; i < File().NumberOfSections; ++i) {
      const auto* section = At<IMAGE_SECTION_HEADER>(sections + i * sizeof(IMAGE_SECTION_HEADER));
      if (!section) return std::nullopt;
      const DWORD size = std::max(section->Misc.VirtualSize, section->SizeOfRawData);
      if (rva >= section->VirtualAddress && rva < section->VirtualAddress + size) {
        return section->PointerToRawData + (rva - section->VirtualAddress);
      }
    }
    return std::nullopt;
  }

  template <typename T>
  const T* AtRva(DWORD rva) const {
    const std::optional<size_t> offset = Offset(rva);
    return offset ? At<T>(*offset) : nullptr;
  }

  // A NUL-terminated text at an RVA; nullopt when it runs off the file.
  std::optional<std::string> TextAt(DWORD rva) const {
    const std::optional<size_t> offset = Offset(rva);
    if (!offset || *offset >= bytes_.size()) return std::nullopt;
    const char* start = bytes_.data() + *offset;
    const void* end = memchr(start, '\0', bytes_.size() - *offset);
    if (!end) return std::nullopt;
    return std::string(start, static_cast<const char*>(end));
  }

  // The DLL is built for the same target as this program.
#ifdef _WIN64
  using OptionalHeader = IMAGE_OPTIONAL_HEADER64;
  using Thunk = IMAGE_THUNK_DATA64;
  static constexpr WORD kOptionalHeaderMagic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
  static constexpr WORD kMachine = IMAGE_FILE_MACHINE_AMD64;
  static constexpr ULONGLONG kByOrdinal = IMAGE_ORDINAL_FLAG64;
#else
  using OptionalHeader = IMAGE_OPTIONAL_HEADER32;
  using Thunk = IMAGE_THUNK_DATA32;
  static constexpr WORD kOptionalHeaderMagic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
  static constexpr WORD kMachine = IMAGE_FILE_MACHINE_I386;
  static constexpr ULONGLONG kByOrdinal = IMAGE_ORDINAL_FLAG32;
#endif

 private:
  template <typename T>
  const T* At(size_t offset) const {
    if (offset + sizeof(T) > bytes_.size()) return nullptr;
    return reinterpret_cast<const T*>(bytes_.data() + offset);
  }
  size_t FileHeaderOffset() const { return At<IMAGE_DOS_HEADER>(0)->e_lfanew + sizeof(DWORD); }
  const IMAGE_FILE_HEADER* FileHeader() const { return At<IMAGE_FILE_HEADER>(FileHeaderOffset()); }
  size_t OptionalHeaderOffset() const { return FileHeaderOffset() + sizeof(IMAGE_FILE_HEADER); }

  std::vector<char> bytes_;
};

struct Imported {
  std::string module;
  std::vector<std::string> functions;  // by name; "#n" for an ordinal
};

// Walks an import name table (regular or delay-load): names, or ordinals.
std::vector<std::string> ImportedFunctions(const PeImage& image, DWORD tableRva) {
  std::vector<std::string> functions;
  for (DWORD rva = tableRva;; rva += sizeof(PeImage::Thunk)) {
    const auto* thunk = image.AtRva<PeImage::Thunk>(rva);
    if (!thunk || thunk->u1.AddressOfData == 0) break;
    if (thunk->u1.Ordinal & PeImage::kByOrdinal) {
      functions.push_back(std::string("#").append(std::to_string(thunk->u1.Ordinal & 0xFFFF)));
    } else {
      const auto entry = static_cast<DWORD>(thunk->u1.AddressOfData);  // hint, then the name
      const std::optional<std::string> name = image.TextAt(entry + offsetof(IMAGE_IMPORT_BY_NAME, Name));
      functions.push_back(name.value_or("<unreadable>"));
    }
  }
  return functions;
}

std::vector<Imported> ImportsOf(const PeImage& image) {
  std::vector<Imported> imports;
  const IMAGE_DATA_DIRECTORY& directory = image.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
  for (DWORD rva = directory.VirtualAddress; directory.VirtualAddress; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    const auto* descriptor = image.AtRva<IMAGE_IMPORT_DESCRIPTOR>(rva);
    if (!descriptor || descriptor->Name == 0) break;
    const DWORD table = descriptor->OriginalFirstThunk ? descriptor->OriginalFirstThunk : descriptor->FirstThunk;
    imports.push_back({image.TextAt(descriptor->Name).value_or("<unreadable>"), ImportedFunctions(image, table)});
  }
  return imports;
}

class ServerImage : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(image_.Problem(), "") << "reading " << testing::PrintToString(path_); }

  const std::wstring path_ = server_tests::ServerDllPath();
  const PeImage image_{path_};
};

TEST_F(ServerImage, IsADllForTheTargetProcessor) {
  const IMAGE_FILE_HEADER& file = image_.File();
  EXPECT_EQ(file.Machine, PeImage::kMachine);  // i386 for the 32-bit build
  EXPECT_TRUE(file.Characteristics & IMAGE_FILE_DLL);
}

TEST_F(ServerImage, ExportsExactlyTheFourEntryPointsByNameWithTheirOrdinals) {
  const IMAGE_DATA_DIRECTORY& directory = image_.Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
  ASSERT_NE(directory.VirtualAddress, 0u);
  const auto* exports = image_.AtRva<IMAGE_EXPORT_DIRECTORY>(directory.VirtualAddress);
  ASSERT_NE(exports, nullptr);
  EXPECT_EQ(image_.TextAt(exports->Name), "VoskTolvane.dll");
  EXPECT_EQ(exports->Base, 1u);
  EXPECT_EQ(exports->NumberOfFunctions, 4u);
  ASSERT_EQ(exports->NumberOfNames, 4u);

  const auto* functions = image_.AtRva<DWORD>(exports->AddressOfFunctions);
  ASSERT_NE(functions, nullptr);
  std::map<DWORD, std::string> byOrdinal;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    const auto* nameRva = image_.AtRva<DWORD>(exports->AddressOfNames + i * sizeof(DWORD));
    const auto* index = image_.AtRva<WORD>(exports->AddressOfNameOrdinals + i * sizeof(WORD));
    ASSERT_TRUE(nameRva && index);
    ASSERT_LT(*index, exports->NumberOfFunctions);
    const std::optional<std::string> name = image_.TextAt(*nameRva);
    ASSERT_TRUE(name);
    byOrdinal[exports->Base + *index] = *name;
    // Code, not a forwarder: a forwarder's address lies inside the export directory.
    const DWORD address = functions[*index];
    EXPECT_TRUE(address < directory.VirtualAddress || address >= directory.VirtualAddress + directory.Size) << *name;
    EXPECT_NE(address, 0u) << *name;
  }
  const std::map<DWORD, std::string> expected = {
      {1, "DllCanUnloadNow"}, {2, "DllGetClassObject"}, {3, "DllRegisterServer"}, {4, "DllUnregisterServer"}};
  EXPECT_EQ(byOrdinal, expected);
}

TEST_F(ServerImage, ImportsOnlySystemDlls) {
  // What the platform itself provides; MinGW's runtime DLLs are linked in instead.
  const std::vector<std::string> system = {"kernel32.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll",
                                           "msvcrt.dll",   "user32.dll",   "ntdll.dll"};
  const std::vector<Imported> imports = ImportsOf(image_);
  ASSERT_FALSE(imports.empty());
  bool importsOleAutomation = false;
  for (const Imported& imported : imports) {
    const std::string module = Lowercase(imported.module);
    EXPECT_NE(std::find(system.begin(), system.end(), module), system.end()) << imported.module;
    for (const char* runtime : {"libstdc++", "libgcc", "winpthread"}) {
      EXPECT_EQ(module.find(runtime), std::string::npos) << imported.module;
    }
    importsOleAutomation = importsOleAutomation || module == "oleaut32.dll";
  }
  EXPECT_TRUE(importsOleAutomation);  // the walk did reach the real table
}

TEST_F(ServerImage, BindsNoProfileFunctionAtLoadTime) {
  // The profile functions are looked up by name when first used, so the table must not
  // name them, neither as regular nor as delay-loaded imports.
  std::vector<Imported> imports = ImportsOf(image_);
  const IMAGE_DATA_DIRECTORY& delayed = image_.Directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT);
  for (DWORD rva = delayed.VirtualAddress; delayed.VirtualAddress; rva += sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)) {
    const auto* descriptor = image_.AtRva<IMAGE_DELAYLOAD_DESCRIPTOR>(rva);
    if (!descriptor || descriptor->DllNameRVA == 0) break;
    imports.push_back({image_.TextAt(descriptor->DllNameRVA).value_or("<unreadable>"),
                       ImportedFunctions(image_, descriptor->ImportNameTableRVA)});
  }
  size_t functionCount = 0;
  bool sawGetProcAddress = false;
  for (const Imported& imported : imports) {
    for (const std::string& function : imported.functions) {
      ++functionCount;
      EXPECT_EQ(Lowercase(function).find("privateprofile"), std::string::npos) << imported.module << "!" << function;
      sawGetProcAddress = sawGetProcAddress || function == "GetProcAddress";
    }
  }
  EXPECT_GT(functionCount, 10u);
  EXPECT_TRUE(sawGetProcAddress);  // how the profile functions are bound instead
}

}  // namespace
