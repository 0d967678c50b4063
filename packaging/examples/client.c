/* A C client of VoskTolvane.dll: writes a key to the INI file named on the command line,
 * reads it back, counts the sections and lists one section.
 *
 * Build it against ..\include alone, as a program of the kind of the DLL it is to use
 * (a 64-bit program uses x64\VoskTolvane.dll, a 32-bit one x86\VoskTolvane.dll):
 *   MinGW-w64:   gcc -Wall -I..\include client.c -o client.exe -lole32 -loleaut32 -luuid
 *                (from Linux: x86_64-w64-mingw32-gcc or i686-w64-mingw32-gcc)
 *   Visual C++:  cl /nologo /W4 /I..\include client.c ole32.lib oleaut32.lib
 * Run it once the DLL is registered (register.cmd):
 *   client.exe C:\Temp\sample.ini
 * It exits with 1 when a call fails.
 */
#define COBJMACROS
#include <windows.h>
#include <stdio.h>
#include <string.h>

/* Defines CLSID_Tolvane, IID__Tolvane and LIBID_Voskini15T in this file, and only here. */
#include <initguid.h>
#include <VoskTolvane.h>

static int failures = 0;

/* Reports a call that did not succeed. */
static void Check(HRESULT status, const char *call) {
  if (FAILED(status)) {
    printf("%s failed: 0x%08lX\n", call, (unsigned long)status);
    ++failures;
  }
}

static BSTR Text(const char *text) {
  WCHAR wide[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide, MAX_PATH);
  return SysAllocString(wide);
}

/* Prints each Keys(i)=Values(i) of the two arrays ReadSection filled. */
static void PrintPairs(SAFEARRAY *keys, SAFEARRAY *values) {
  LONG first = 0, last = -1, i;
  if (!keys || !values) return;
  SafeArrayGetLBound(keys, 1, &first);
  SafeArrayGetUBound(keys, 1, &last);
  for (i = first; i <= last; ++i) {
    BSTR key = NULL, value = NULL;
    Check(SafeArrayGetElement(keys, &i, &key), "SafeArrayGetElement(Keys)");
    Check(SafeArrayGetElement(values, &i, &value), "SafeArrayGetElement(Values)");
    printf("  %ls=%ls\n", key ? key : L"", value ? value : L"");
    SysFreeString(key);
    SysFreeString(value);
  }
}

int main(int argc, char **argv) {
  _Tolvane *ini = NULL;
  HRESULT status;
  if (argc != 2) {
    printf("usage: client FILE.ini\n");
    return 2;
  }
  Check(CoInitialize(NULL), "CoInitialize");
  status = CoCreateInstance(&CLSID_Tolvane, NULL, CLSCTX_INPROC_SERVER, &IID__Tolvane, (void **)&ini);
  if (FAILED(status)) {
    printf("Tolvane is not registered for programs of this kind (0x%08lX): run register.cmd\n",
           (unsigned long)status);
    CoUninitialize();
    return 1;
  }
  {
    BSTR file = Text(argv[1]);
    BSTR section = SysAllocString(L"Window"), key = SysAllocString(L"Width");
    BSTR value = SysAllocString(L"1280"), read = NULL, message = NULL;
    VARIANT_BOOL written = VARIANT_FALSE;
    LONG sections = 0;
    SAFEARRAY *keys = NULL, *values = NULL;
    VARIANT pairs;
    VariantInit(&pairs);

    Check(_Tolvane_put_IniFileName(ini, &file), "put_IniFileName");
    Check(_Tolvane_WriteValue(ini, &section, &key, &value, &written), "WriteValue");
    if (written != VARIANT_TRUE) {
      Check(_Tolvane_get_LastErrorA(ini, &message), "get_LastErrorA");
      printf("WriteValue returned False: %ls\n", message ? message : L"");
      ++failures;
    }
    Check(_Tolvane_ReadValue(ini, &section, &key, &read), "ReadValue");
    printf("[%ls] %ls=%ls\n", section, key, read ? read : L"");
    if (!read || wcscmp(read, value) != 0) ++failures;

    Check(_Tolvane_get_SectionsCount(ini, &sections), "get_SectionsCount");
    printf("%ld sections\n", (long)sections);

    Check(_Tolvane_ReadSection(ini, &section, &keys, &values, &pairs), "ReadSection");
    printf("[%ls]:\n", section);
    PrintPairs(keys, values);

    VariantClear(&pairs);
    SafeArrayDestroy(keys);
    SafeArrayDestroy(values);
    SysFreeString(file);
    SysFreeString(section);
    SysFreeString(key);
    SysFreeString(value);
    SysFreeString(read);
    SysFreeString(message);
  }
  _Tolvane_Release(ini);
  CoUninitialize();
  return failures ? 1 : 0;
}
