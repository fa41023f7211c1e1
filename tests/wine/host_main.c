/* The stand-in game executable. It is kept tiny, so that its large image
 * section lands at a low RVA and covers every RVA the game's image has, and so
 * that its bytes (and SHA-256) stay the same from build to build.
 *
 *   corvane_standin_host.exe --dll PATH [--site good|bad] [--wait-lines N]
 *       [--wait-ms MS] [--lock-log] [--lock-exe] [--reader PATH] [--driver PATH]
 *       [--standin PATH [stand-in options]]
 *
 * Writes the view-copy call site into its image (or, with --standin, has the
 * stand-in DLL write the whole game image), loads the DLL, waits until the DLL's
 * log has N lines (or MS milliseconds), optionally runs a second process (the
 * telemetry block reader) with its own process id, optionally has the stand-in
 * DLL check the patches and play the game's calls through them, optionally
 * hands over to a driver DLL that plays frames through the image, and exits.
 * The stand-in DLL reads its own options from the same command line; --site bad
 * applies without it (with it, the stand-in's --corrupt-site view does that).
 * --lock-exe holds the executable file open without read sharing while the DLL
 * installs. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

__asm__(".section .hostimg,\"bwx\"\n.balign 4096\n.globl hostImage\nhostImage:\n.space 0x3C00000\n.text\n");
extern unsigned char hostImage[];
/* The game's executable is tens of MiB: the stand-in carries an initialised
 * section of several MiB after the image, so that hashing it takes several
 * reads. */
__asm__(".section .hostdat,\"dr\"\n.balign 4096\n.globl hostData\nhostData:\n.fill 0x600000,1,0xA5\n.text\n");

static const unsigned char kCallSite[5] = {0xE8, 0xE5, 0xB4, 0x62, 0xFF};
#define CALL_SITE_RVA 0xA395A6

static int countLogLines(const wchar_t* dir) {
  wchar_t path[1024];
  swprintf(path, 1024, L"%ls\\corvane.log", dir);
  HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (f == INVALID_HANDLE_VALUE) return 0;
  char buf[65536];
  DWORD got = 0;
  int lines = 0;
  while (ReadFile(f, buf, sizeof buf, &got, NULL) && got > 0)
    for (DWORD i = 0; i < got; ++i) lines += buf[i] == '\n';
  CloseHandle(f);
  return lines;
}

int wmain(int argc, wchar_t** argv) {
  const wchar_t* dll = NULL;
  const wchar_t* reader = NULL;
  const wchar_t* driver = NULL;
  const wchar_t* standin = NULL;
  int siteGood = 1, waitLines = 1, waitMs = 15000, lockLog = 0, lockExe = 0;
  for (int i = 1; i < argc; ++i) {
    if (!wcscmp(argv[i], L"--dll") && i + 1 < argc) dll = argv[++i];
    else if (!wcscmp(argv[i], L"--site") && i + 1 < argc) siteGood = !wcscmp(argv[++i], L"good");
    else if (!wcscmp(argv[i], L"--wait-lines") && i + 1 < argc) waitLines = _wtoi(argv[++i]);
    else if (!wcscmp(argv[i], L"--wait-ms") && i + 1 < argc) waitMs = _wtoi(argv[++i]);
    else if (!wcscmp(argv[i], L"--lock-log")) lockLog = 1;
    else if (!wcscmp(argv[i], L"--lock-exe")) lockExe = 1;
    else if (!wcscmp(argv[i], L"--reader") && i + 1 < argc) reader = argv[++i];
    else if (!wcscmp(argv[i], L"--driver") && i + 1 < argc) driver = argv[++i];
    else if (!wcscmp(argv[i], L"--standin") && i + 1 < argc) standin = argv[++i];
  }
  if (dll == NULL) {
    fprintf(stderr, "usage: corvane_standin_host.exe --dll PATH [options]\n");
    return 2;
  }
  unsigned char* base = (unsigned char*)GetModuleHandleW(NULL);
  if ((size_t)(hostImage - base) > 0x64A90) {
    fprintf(stderr, "image section starts at RVA 0x%zX, above 0x64A90\n", (size_t)(hostImage - base));
    return 3;
  }
  typedef int (*StandInFn)(unsigned char*, int, wchar_t**);
  StandInFn standinDrive = NULL;
  if (standin != NULL) {
    HMODULE s = LoadLibraryW(standin);
    StandInFn build = s ? (StandInFn)(void*)GetProcAddress(s, "corvaneStandInBuild") : NULL;
    standinDrive = s ? (StandInFn)(void*)GetProcAddress(s, "corvaneStandInDrive") : NULL;
    if (build == NULL || standinDrive == NULL) {
      fprintf(stderr, "cannot load the stand-in (%lu)\n", GetLastError());
      return 7;
    }
    int built = build(base, argc, argv);
    if (built != 0) return built;
  } else {
    memcpy(base + CALL_SITE_RVA, kCallSite, 5);
    if (!siteGood) base[CALL_SITE_RVA + 4] = 0xFE;
  }

  wchar_t dir[1024];
  wcsncpy(dir, dll, 1023);
  dir[1023] = 0;
  wchar_t* slash = wcsrchr(dir, L'\\');
  if (slash == NULL) slash = wcsrchr(dir, L'/');
  if (slash != NULL) *slash = 0;

  HANDLE lock = INVALID_HANDLE_VALUE;
  if (lockLog) {
    wchar_t path[1024];
    swprintf(path, 1024, L"%ls\\corvane.log", dir);
    lock = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  }

  HANDLE exeLock = INVALID_HANDLE_VALUE;
  if (lockExe) {
    wchar_t self[1024];
    GetModuleFileNameW(NULL, self, 1024);
    exeLock = CreateFileW(self, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (exeLock == INVALID_HANDLE_VALUE) {
      fprintf(stderr, "cannot lock the executable (%lu)\n", GetLastError());
      return 8;
    }
  }

  HMODULE module = LoadLibraryW(dll);
  if (module == NULL) {
    fprintf(stderr, "LoadLibraryW failed (%lu)\n", GetLastError());
    return 4;
  }
  for (int waited = 0; waited < waitMs && countLogLines(dir) < waitLines; waited += 20) Sleep(20);
  Sleep(200); /* let the worker finish anything after its last awaited line */
  if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
  if (exeLock != INVALID_HANDLE_VALUE) CloseHandle(exeLock);

  int result = 0;
  if (reader != NULL) {
    wchar_t command[2048];
    swprintf(command, 2048, L"\"%ls\" %lu", reader, GetCurrentProcessId());
    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessW(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
      fprintf(stderr, "cannot start the reader (%lu)\n", GetLastError());
      return 5;
    }
    WaitForSingleObject(pi.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    result = (int)code;
  }
  if (standinDrive != NULL && result == 0) result = standinDrive(base, argc, argv);
  if (driver != NULL) {
    HMODULE d = LoadLibraryW(driver);
    typedef int (*DriveFn)(unsigned char*, int, wchar_t**);
    DriveFn drive = d ? (DriveFn)(void*)GetProcAddress(d, "corvaneDrive") : NULL;
    if (drive == NULL) {
      fprintf(stderr, "cannot load the driver\n");
      return 6;
    }
    result = drive(base, argc, argv);
  }
  printf("stand-in host finished\n");
  fflush(stdout);
  return result;
}
