/* Checks of the release archive, compiled by check_archive.sh on the header that widl
 * made from the archive's VoskTolvane.idl, never on the component's own header:
 *
 *   archive_probe registered DIR WIDL.tlb FILE.ini
 *     DIR is the archive's folder of this program's kind (x86 or x64). The class works
 *     through widl's declaration of _Tolvane; the type library that widl compiled from
 *     the IDL describes the same library as DIR\Voskini15T.tlb; that file holds the
 *     bytes of the type library inside DIR\VoskTolvane.dll; and the registry view of this
 *     kind holds the component's keys.
 *   archive_probe unregistered
 *     Neither registry view holds a key of the component, and the class cannot be made.
 *
 * Prints "ok" or "FAIL" per check, then "N passed, N failed"; exits 1 when one failed.
 */
#define COBJMACROS
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <initguid.h>
#include "VoskTolvane_widl.h"

static int passed = 0, failed = 0;

static void Expect(int condition, const char *what) {
  if (condition) {
    ++passed;
    printf("ok    %s\n", what);
  } else {
    ++failed;
    printf("FAIL  %s\n", what);
  }
}

/* ---- The class through widl's header ---------------------------------------------- */

static void UseTheClass(const wchar_t *iniFile) {
  _Tolvane *ini = NULL;
  BSTR file = SysAllocString(iniFile), section = SysAllocString(L"probe"), key = SysAllocString(L"key");
  BSTR value = SysAllocString(L"value"), read = NULL;
  VARIANT_BOOL written = VARIANT_FALSE;
  LONG sections = -1;

  Expect(SUCCEEDED(CoCreateInstance(&CLSID_Tolvane, NULL, CLSCTX_INPROC_SERVER, &IID__Tolvane, (void **)&ini)),
         "CoCreateInstance(CLSID_Tolvane, IID__Tolvane)");
  if (ini) {
    Expect(_Tolvane_put_IniFileName(ini, &file) == S_OK, "put_IniFileName");
    Expect(_Tolvane_WriteValue(ini, &section, &key, &value, &written) == S_OK && written == VARIANT_TRUE,
           "WriteValue returns True");
    Expect(_Tolvane_ReadValue(ini, &section, &key, &read) == S_OK && read && wcscmp(read, L"value") == 0,
           "ReadValue reads the value written");
    Expect(_Tolvane_get_SectionsCount(ini, &sections) == S_OK && sections == 1, "SectionsCount is 1");
    Expect(_Tolvane_DeleteSection(ini, section) == S_OK, "DeleteSection");
    Expect(_Tolvane_get_SectionsCount(ini, &sections) == S_OK && sections == 0, "SectionsCount is 0 after it");
    _Tolvane_Release(ini);
  }
  SysFreeString(file);
  SysFreeString(section);
  SysFreeString(key);
  SysFreeString(value);
  SysFreeString(read);
}

/* ---- The type library widl compiled against the shipped one ---------------------- */

/* "PTR SAFEARRAY BSTR" and the like. */
static void Describe(const TYPEDESC *type, char *text, size_t size) {
  char inner[64] = "";
  if (type->vt == VT_PTR || type->vt == VT_SAFEARRAY) Describe(type->lptdesc, inner, sizeof inner);
  snprintf(text, size, "%u %s", (unsigned)type->vt, inner);
}

/* One line per function-table entry: everything a client compiles or calls against.
 * Parameter names are compared as far as the shipped library names them (it leaves the
 * results unnamed; widl names them). Returns the number of entries. */
static UINT DescribeEntries(ITypeInfo *info, UINT namesLimit[], char *text, size_t size, int useLimit) {
  TYPEATTR *attributes = NULL;
  UINT i, entries;
  size_t used = 0;
  text[0] = '\0';
  if (FAILED(ITypeInfo_GetTypeAttr(info, &attributes))) return 0;
  used += snprintf(text + used, size - used, "flags %x functions %u table %u\n", attributes->wTypeFlags,
                   attributes->cFuncs, attributes->cbSizeVft);
  for (i = 0; i < attributes->cFuncs && used < size; ++i) {
    FUNCDESC *function = NULL;
    BSTR names[8] = {0};
    UINT count = 0, n;
    SHORT p;
    if (FAILED(ITypeInfo_GetFuncDesc(info, i, &function))) continue;
    ITypeInfo_GetNames(info, function->memid, names, 8, &count);
    if (useLimit && count > namesLimit[i]) count = namesLimit[i];
    if (!useLimit) namesLimit[i] = count;
    used += snprintf(text + used, size - used, "%lx kind %d call %d slot %d flags %x:", (long)function->memid,
                     function->invkind, function->callconv, function->oVft, function->wFuncFlags);
    for (n = 0; n < count; ++n) used += snprintf(text + used, size - used, " %ls", names[n]);
    for (n = 0; n < 8; ++n) SysFreeString(names[n]);
    for (p = 0; p < function->cParams && used < size; ++p) {
      char type[128];
      Describe(&function->lprgelemdescParam[p].tdesc, type, sizeof type);
      used += snprintf(text + used, size - used, " [%x %s]", function->lprgelemdescParam[p].paramdesc.wParamFlags,
                       type);
    }
    used += snprintf(text + used, size - used, "\n");
    ITypeInfo_ReleaseFuncDesc(info, function);
  }
  entries = attributes->cFuncs;
  ITypeInfo_ReleaseTypeAttr(info, attributes);
  return entries;
}

/* The library, its class and its interface's function table, described as text.
 * Returns the number of function-table entries described. */
static UINT DescribeLibrary(const wchar_t *path, UINT namesLimit[], int useLimit, char *text, size_t size) {
  ITypeLib *library = NULL;
  ITypeInfo *dispatchView = NULL, *functionTable = NULL, *coclass = NULL;
  TLIBATTR *libraryAttributes = NULL;
  TYPEATTR *classAttributes = NULL;
  HREFTYPE reference = 0;
  UINT entries = 0;
  size_t used;
  text[0] = '\0';
  if (FAILED(LoadTypeLibEx(path, REGKIND_NONE, &library))) return 0;
  ITypeLib_GetLibAttr(library, &libraryAttributes);
  used = snprintf(text, size, "library %d.%d lcid %lu system %d flags %x types %u\n",
                  libraryAttributes->wMajorVerNum, libraryAttributes->wMinorVerNum,
                  (unsigned long)libraryAttributes->lcid, libraryAttributes->syskind, libraryAttributes->wLibFlags,
                  ITypeLib_GetTypeInfoCount(library));
  ITypeLib_ReleaseTLibAttr(library, libraryAttributes);
  if (SUCCEEDED(ITypeLib_GetTypeInfoOfGuid(library, &CLSID_Tolvane, &coclass)) &&
      SUCCEEDED(ITypeInfo_GetTypeAttr(coclass, &classAttributes))) {
    used += snprintf(text + used, size - used, "class flags %x interfaces %u\n", classAttributes->wTypeFlags,
                     classAttributes->cImplTypes);
    ITypeInfo_ReleaseTypeAttr(coclass, classAttributes);
  }
  /* A dual interface is found as its dispatch view; the function table is behind it. */
  if (SUCCEEDED(ITypeLib_GetTypeInfoOfGuid(library, &IID__Tolvane, &dispatchView)) &&
      SUCCEEDED(ITypeInfo_GetRefTypeOfImplType(dispatchView, (UINT)-1, &reference)) &&
      SUCCEEDED(ITypeInfo_GetRefTypeInfo(dispatchView, reference, &functionTable))) {
    entries = DescribeEntries(functionTable, namesLimit, text + used, size - used, useLimit);
  }
  if (functionTable) ITypeInfo_Release(functionTable);
  if (dispatchView) ITypeInfo_Release(dispatchView);
  if (coclass) ITypeInfo_Release(coclass);
  ITypeLib_Release(library);
  return entries;
}

static void CompareWithWidl(const wchar_t *shipped, const wchar_t *compiled) {
  static char shippedText[16384], compiledText[16384];
  UINT namesLimit[64] = {0};
  Expect(DescribeLibrary(shipped, namesLimit, 0, shippedText, sizeof shippedText) > 0,
         "the shipped .tlb describes _Tolvane's function table");
  Expect(DescribeLibrary(compiled, namesLimit, 1, compiledText, sizeof compiledText) > 0,
         "widl's .tlb describes _Tolvane's function table");
  Expect(strcmp(shippedText, compiledText) == 0, "widl's library from the IDL describes the shipped one");
  if (strcmp(shippedText, compiledText) != 0) printf("shipped:\n%s\nfrom the IDL:\n%s\n", shippedText, compiledText);
}

/* ---- The shipped .tlb against the one inside the DLL ------------------------------- */

static void CompareWithEmbedded(const wchar_t *dll, const wchar_t *tlb) {
  HMODULE module = LoadLibraryExW(dll, NULL, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC resource = module ? FindResourceW(module, MAKEINTRESOURCEW(1), L"TYPELIB") : NULL;
  HGLOBAL loaded = resource ? LoadResource(module, resource) : NULL;
  const void *embedded = loaded ? LockResource(loaded) : NULL;
  DWORD embeddedSize = resource ? SizeofResource(module, resource) : 0;
  HANDLE file = CreateFileW(tlb, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  static char bytes[1 << 16];
  DWORD size = 0;
  if (file != INVALID_HANDLE_VALUE) {
    ReadFile(file, bytes, sizeof bytes, &size, NULL);
    CloseHandle(file);
  }
  Expect(embedded && size > 0, "both type libraries are there");
  Expect(embedded && size == embeddedSize && memcmp(bytes, embedded, size) == 0,
         "the shipped .tlb holds the bytes of the DLL's TYPELIB resource");
  if (module) FreeLibrary(module);
}

/* ---- The registry ------------------------------------------------------------------- */

static int KeyExists(const wchar_t *path, REGSAM view) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return 0;
  RegCloseKey(key);
  return 1;
}

/* Checks that each key of the component is there, or that none is, in one view. */
static void ExpectKeys(int present, REGSAM view, const char *viewName) {
  wchar_t classId[40], interfaceId[40], libraryId[40], path[64];
  const wchar_t *formats[] = {L"CLSID\\%ls", L"Interface\\%ls", L"TypeLib\\%ls", L"%ls"};
  const wchar_t *names[4];
  char what[160];
  int i;
  StringFromGUID2(&CLSID_Tolvane, classId, 40);
  StringFromGUID2(&IID__Tolvane, interfaceId, 40);
  StringFromGUID2(&LIBID_Voskini15T, libraryId, 40);
  names[0] = classId;
  names[1] = interfaceId;
  names[2] = libraryId;
  names[3] = L"Voskini15T.Tolvane";
  for (i = 0; i < 4; ++i) {
    swprintf(path, 64, formats[i], names[i]);
    snprintf(what, sizeof what, "HKCR\\%ls %s in the %s view", path, present ? "is there" : "is gone", viewName);
    Expect(KeyExists(path, view) == present, what);
  }
}

int wmain(int argc, wchar_t **argv) {
  const REGSAM ownView = sizeof(void *) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  const char *ownViewName = sizeof(void *) == 8 ? "64-bit" : "32-bit";
  if (FAILED(CoInitialize(NULL))) return 2;
  if (argc == 5 && wcscmp(argv[1], L"registered") == 0) {
    wchar_t dll[MAX_PATH], tlb[MAX_PATH];
    swprintf(dll, MAX_PATH, L"%ls\\VoskTolvane.dll", argv[2]);
    swprintf(tlb, MAX_PATH, L"%ls\\Voskini15T.tlb", argv[2]);
    UseTheClass(argv[4]);
    CompareWithWidl(tlb, argv[3]);
    CompareWithEmbedded(dll, tlb);
    ExpectKeys(1, ownView, ownViewName);
  } else if (argc == 2 && wcscmp(argv[1], L"unregistered") == 0) {
    IUnknown *object = NULL;
    CLSID fromProgId;
    ITypeLib *library = NULL;
    ExpectKeys(0, KEY_WOW64_32KEY, "32-bit");
    ExpectKeys(0, KEY_WOW64_64KEY, "64-bit");
    Expect(FAILED(CLSIDFromProgID(L"Voskini15T.Tolvane", &fromProgId)), "the ProgID does not resolve");
    Expect(CoCreateInstance(&CLSID_Tolvane, NULL, CLSCTX_INPROC_SERVER, &IID_IUnknown, (void **)&object) ==
               REGDB_E_CLASSNOTREG,
           "the class is not registered");
    Expect(FAILED(LoadRegTypeLib(&LIBID_Voskini15T, 6, 0, 0, &library)), "the type library is not registered");
    if (object) IUnknown_Release(object);
    if (library) ITypeLib_Release(library);
  } else {
    printf("usage: archive_probe registered DIR WIDL.tlb FILE.ini | unregistered\n");
    return 2;
  }
  CoUninitialize();
  printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}
