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
#include <stdarg.h>
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

/* The most function-table entries described; a library with more differs in its count. */
#define MOST_ENTRIES 64

/* A description written into a fixed buffer; what does not fit is cut. */
typedef struct {
  char text[16384];
  size_t used;
} Description;

static void Append(Description *description, const char *format, ...) {
  const size_t left = sizeof description->text - description->used;
  va_list arguments;
  int written;
  va_start(arguments, format);
  written = vsnprintf(description->text + description->used, left, format, arguments);
  va_end(arguments);
  if (written > 0) description->used += (size_t)written < left ? (size_t)written : left - 1;
}

/* "26 27 8" for a pointer to an array of BSTR, and the like. */
static void AppendType(Description *description, const TYPEDESC *type) {
  Append(description, " %u", (unsigned)type->vt);
  if (type->vt == VT_PTR || type->vt == VT_SAFEARRAY) AppendType(description, type->lptdesc);
}

/* One line per function-table entry: everything a client compiles or calls against.
 * Parameter names are compared as far as the shipped library names them (it leaves the
 * results unnamed; widl names them). Returns the number of entries. */
static UINT DescribeEntries(ITypeInfo *info, UINT namesLimit[], int useLimit, Description *description) {
  TYPEATTR *attributes = NULL;
  UINT i, entries;
  if (FAILED(ITypeInfo_GetTypeAttr(info, &attributes))) return 0;
  Append(description, "flags %x functions %u table %u\n", attributes->wTypeFlags, attributes->cFuncs,
         attributes->cbSizeVft);
  for (i = 0; i < attributes->cFuncs && i < MOST_ENTRIES; ++i) {
    FUNCDESC *function = NULL;
    BSTR names[8] = {0};
    UINT count = 0, n;
    SHORT p;
    if (FAILED(ITypeInfo_GetFuncDesc(info, i, &function))) continue;
    ITypeInfo_GetNames(info, function->memid, names, 8, &count);
    if (useLimit && count > namesLimit[i]) count = namesLimit[i];
    if (!useLimit) namesLimit[i] = count;
    Append(description, "%lx kind %d call %d slot %d flags %x:", (long)function->memid, function->invkind,
           function->callconv, function->oVft, function->wFuncFlags);
    for (n = 0; n < count; ++n) Append(description, " %ls", names[n]);
    for (n = 0; n < 8; ++n) SysFreeString(names[n]);
    for (p = 0; p < function->cParams; ++p) {
      Append(description, " [%x", function->lprgelemdescParam[p].paramdesc.wParamFlags);
      AppendType(description, &function->lprgelemdescParam[p].tdesc);
      Append(description, "]");
    }
    Append(description, "\n");
    ITypeInfo_ReleaseFuncDesc(info, function);
  }
  entries = attributes->cFuncs;
  ITypeInfo_ReleaseTypeAttr(info, attributes);
  return entries;
}

/* The library, its class and its interface's function table, described as text.
 * Returns the number of function-table entries described. */
static UINT DescribeLibrary(const wchar_t *path, UINT namesLimit[], int useLimit, Description *description) {
  ITypeLib *library = NULL;
  ITypeInfo *dispatchView = NULL, *functionTable = NULL, *coclass = NULL;
  TLIBATTR *libraryAttributes = NULL;
  TYPEATTR *classAttributes = NULL;
  HREFTYPE reference = 0;
  UINT entries = 0;
  description->used = 0;
  description->text[0] = '\0';
  if (FAILED(LoadTypeLibEx(path, REGKIND_NONE, &library))) return 0;
  ITypeLib_GetLibAttr(library, &libraryAttributes);
  Append(description, "library %d.%d lcid %lu system %d flags %x types %u\n", libraryAttributes->wMajorVerNum,
         libraryAttributes->wMinorVerNum, (unsigned long)libraryAttributes->lcid, libraryAttributes->syskind,
         libraryAttributes->wLibFlags, ITypeLib_GetTypeInfoCount(library));
  ITypeLib_ReleaseTLibAttr(library, libraryAttributes);
  if (SUCCEEDED(ITypeLib_GetTypeInfoOfGuid(library, &CLSID_Tolvane, &coclass)) &&
      SUCCEEDED(ITypeInfo_GetTypeAttr(coclass, &classAttributes))) {
    Append(description, "class flags %x interfaces %u\n", classAttributes->wTypeFlags, classAttributes->cImplTypes);
    ITypeInfo_ReleaseTypeAttr(coclass, classAttributes);
  }
  /* A dual interface is found as its dispatch view; the function table is behind it. */
  if (SUCCEEDED(ITypeLib_GetTypeInfoOfGuid(library, &IID__Tolvane, &dispatchView)) &&
      SUCCEEDED(ITypeInfo_GetRefTypeOfImplType(dispatchView, (UINT)-1, &reference)) &&
      SUCCEEDED(ITypeInfo_GetRefTypeInfo(dispatchView, reference, &functionTable))) {
    entries = DescribeEntries(functionTable, namesLimit, useLimit, description);
  }
  if (functionTable) ITypeInfo_Release(functionTable);
  if (dispatchView) ITypeInfo_Release(dispatchView);
  if (coclass) ITypeInfo_Release(coclass);
  ITypeLib_Release(library);
  return entries;
}

static void CompareWithWidl(const wchar_t *shipped, const wchar_t *compiled) {
  static Description shippedLibrary, compiledLibrary;
  UINT namesLimit[MOST_ENTRIES] = {0};
  Expect(DescribeLibrary(shipped, namesLimit, 0, &shippedLibrary) > 0,
         "the shipped .tlb describes _Tolvane's function table");
  Expect(DescribeLibrary(compiled, namesLimit, 1, &compiledLibrary) > 0,
         "widl's .tlb describes _Tolvane's function table");
  Expect(strcmp(shippedLibrary.text, compiledLibrary.text) == 0,
         "widl's library from the IDL describes the shipped one");
  if (strcmp(shippedLibrary.text, compiledLibrary.text) != 0) {
    printf("shipped:\n%s\nfrom the IDL:\n%s\n", shippedLibrary.text, compiledLibrary.text);
  }
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
