// The loader's entry point: as little as the loader lock allows.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "bootstrap/install.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  corvane::bootstrap::dllAttach(module, reason);
  return TRUE;
}
