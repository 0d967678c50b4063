// Writes the manifests through which clients use the DLL without registering it, from the
// identity that registration writes too. Run at build time (under Wine), in the folder
// that receives them, built for the DLL's processor:
//   write_manifests <path of VoskTolvane.dll>
// It writes
//   VoskTolvane.sxs.manifest       the DLL's assembly manifest, to lie beside the DLL
//                                  (side-by-side loading finds an assembly by its name);
//   manifest_client.exe.manifest   the application manifest of the example client, which
//                                  depends on that assembly in the client's own folder.
// The text depends on nothing but the identity: no time, no path. The assembly's version
// is the interface's (com_types::kAssemblyVersion), not the DLL's file version, so that
// client manifests keep working across releases.
#include <windows.h>

#include <string>

#include "com_types/identity.h"
#include "tools/client_files/declaration_parts.h"
#include "tools/client_files/output_file.h"
#include "tools/one_argument.h"

namespace {

using client_files::Narrow;

constexpr char kAssemblyName[] = "VoskTolvane.sxs";

std::string Braced(const GUID& guid) {
  std::string braced = "{";
  braced += client_files::GuidText(guid);
  return braced + "}";
}

std::string AssemblyIdentity(const std::string& version, const char* processor) {
  return "<assemblyIdentity type=\"win32\" name=\"" + std::string(kAssemblyName) + "\" version=\"" + version +
         "\" processorArchitecture=\"" + processor + "\"/>";
}

std::string AssemblyManifest(const std::string& dllName, const std::string& version) {
  using namespace com_types;
  const std::string library = Braced(kLibraryId);
  const std::string libraryVersion = std::to_string(kLibraryMajorVersion) + "." + std::to_string(kLibraryMinorVersion);
  // clang-format off
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
         "  " + AssemblyIdentity(version, kTargetSystem == SYS_WIN64 ? "amd64" : "x86") + "\n"
         "  <file name=\"" + dllName + "\">\n"
         "    <comClass clsid=\"" + Braced(kClassId) + "\" progid=\"" + Narrow(kProgId) +
         "\" threadingModel=\"" + Narrow(kThreadingModel) + "\" tlbid=\"" + library + "\"/>\n"
         "    <typelib tlbid=\"" + library + "\" version=\"" + libraryVersion + "\" helpdir=\"" +
         Narrow(kHelpDirectory) + "\"/>\n"
         "  </file>\n"
         "  <comInterfaceExternalProxyStub name=\"" + Narrow(kInterfaceName) + "\" iid=\"" + Braced(kInterfaceId) +
         "\" proxyStubClsid32=\"" + Braced(kTypeLibraryMarshallerId) + "\" tlbid=\"" + library + "\"/>\n"
         "</assembly>\n";
  // clang-format on
}

// "*": the assembly of the client's own processor, so one manifest serves both builds.
std::string ClientManifest(const std::string& version) {
  // clang-format off
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
         "  <dependency>\n"
         "    <dependentAssembly>\n"
         "      " + AssemblyIdentity(version, "*") + "\n"
         "    </dependentAssembly>\n"
         "  </dependency>\n"
         "</assembly>\n";
  // clang-format on
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring path = tools::OneArgument(argc, argv, "write_manifests <path of the DLL>");
  const std::string version = com_types::kAssemblyVersion;
  const std::string dllName = Narrow(path.substr(path.find_last_of(L"\\/") + 1).c_str());
  using client_files::WriteOutputFile;
  return WriteOutputFile(std::string(kAssemblyName) + ".manifest", AssemblyManifest(dllName, version)) &&
                 WriteOutputFile("manifest_client.exe.manifest", ClientManifest(version))
             ? 0
             : 1;
}
