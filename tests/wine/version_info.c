/* Reads the version resource of programs through the Windows API and compares
 * it with the project's version:
 *   version_info.exe VERSION FILE...
 * Each FILE must carry VERSION as file and product version (numbers and text),
 * "Corvane" as product name, its own name as original file name and a one-line
 * description. Paths starting with '/' are taken on Wine's drive Z:. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

static const wchar_t* text(void* info, const wchar_t* name) {
  wchar_t key[96];
  wchar_t* value = NULL;
  UINT length = 0;
  swprintf(key, 96, L"\\StringFileInfo\\040904B0\\%ls", name);
  if (!VerQueryValueW(info, key, (void**)&value, &length) || value == NULL) return L"";
  return value;
}

static int check(const wchar_t* version, const char* argument, WORD major, WORD minor, WORD patch) {
  wchar_t path[MAX_PATH];
  MultiByteToWideChar(CP_UTF8, 0, argument, -1, path, MAX_PATH);
  if (path[0] == L'/') {
    memmove(path + 2, path, (wcslen(path) + 1) * sizeof(wchar_t));
    path[0] = L'Z';
    path[1] = L':';
  }
  for (wchar_t* c = path; *c; ++c)
    if (*c == L'/') *c = L'\\';
  const wchar_t* name = wcsrchr(path, L'\\') ? wcsrchr(path, L'\\') + 1 : path;

  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &handle);
  static char info[65536];
  if (size == 0 || size > sizeof info || !GetFileVersionInfoW(path, 0, size, info)) {
    printf("%ls: no version resource (error %lu)\n", name, GetLastError());
    return 1;
  }
  VS_FIXEDFILEINFO* fixed = NULL;
  UINT length = 0;
  if (!VerQueryValueW(info, L"\\", (void**)&fixed, &length) || length < sizeof *fixed) {
    printf("%ls: no fixed version record\n", name);
    return 1;
  }
  const DWORD high = MAKELONG(minor, major), low = MAKELONG(0, patch);
  const wchar_t* description = text(info, L"FileDescription");
  printf("%ls: %u.%u.%u.%u \"%ls\" %ls %ls %ls \"%ls\"\n", name, HIWORD(fixed->dwFileVersionMS),
         LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
         text(info, L"ProductName"), text(info, L"FileVersion"), text(info, L"ProductVersion"),
         text(info, L"OriginalFilename"), description);
  int bad = fixed->dwSignature != 0xFEEF04BD || fixed->dwFileVersionMS != high || fixed->dwFileVersionLS != low ||
            fixed->dwProductVersionMS != high || fixed->dwProductVersionLS != low;
  bad |= wcscmp(text(info, L"FileVersion"), version) != 0 || wcscmp(text(info, L"ProductVersion"), version) != 0;
  bad |= wcscmp(text(info, L"ProductName"), L"Corvane") != 0;
  bad |= _wcsicmp(text(info, L"OriginalFilename"), name) != 0;
  bad |= description[0] == 0 || wcschr(description, L'\n') != NULL;
  if (bad) printf("%ls: does not carry version %ls as expected\n", name, version);
  return bad;
}

int main(int argc, char** argv) {
  unsigned major = 0, minor = 0, patch = 0;
  if (argc < 3 || sscanf(argv[1], "%u.%u.%u", &major, &minor, &patch) != 3) return 2;
  wchar_t version[32];
  MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, version, 32);
  int failures = 0;
  for (int i = 2; i < argc; ++i) failures += check(version, argv[i], (WORD)major, (WORD)minor, (WORD)patch);
  printf(failures == 0 ? "version resources: PASS\n" : "version resources: FAIL\n");
  return failures == 0 ? 0 : 1;
}
