#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>

#include "tools/telemetry-reader/telemetry_source.h"

using corvane::camera::kTelemetrySize;

const char kGameExecutable[] = "Dishonored2.exe";

OpenResult openTelemetrySource(uint32_t processId, TelemetrySource* source, char* detail, size_t capacity) {
  wchar_t name[64];
  std::swprintf(name, 64, L"Local\\CorvaneTelemetry-%lu", static_cast<unsigned long>(processId));
  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
  if (mapping == nullptr) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return OpenResult::kNoSuchBlock;
    std::snprintf(detail, capacity, "OpenFileMappingW failed (Win32 %lu)", static_cast<unsigned long>(error));
    return OpenResult::kFailed;
  }
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kTelemetrySize);
  if (view == nullptr) {
    const DWORD error = GetLastError();
    CloseHandle(mapping);
    std::snprintf(detail, capacity, "MapViewOfFile failed (Win32 %lu)", static_cast<unsigned long>(error));
    return OpenResult::kFailed;
  }
  source->block = static_cast<const TelemetryBlock*>(view);
  source->handle = mapping;
  // The mapping outlives the game while the reader holds it; the process
  // handle tells when the game has closed. Without it the reader just follows.
  source->process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  source->processId = processId;
  return OpenResult::kOpened;
}

void closeTelemetrySource(TelemetrySource* source) {
  if (source->block != nullptr) UnmapViewOfFile(source->block);
  if (source->handle != nullptr) CloseHandle(static_cast<HANDLE>(source->handle));
  if (source->process != nullptr) CloseHandle(static_cast<HANDLE>(source->process));
  source->block = nullptr;
  source->handle = nullptr;
  source->process = nullptr;
}

bool telemetryGameRunning(const TelemetrySource& source) {
  return source.process == nullptr || WaitForSingleObject(static_cast<HANDLE>(source.process), 0) == WAIT_TIMEOUT;
}

bool findGameProcess(uint32_t* processId, bool* several) {
  *several = false;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, L"Dishonored2.exe") != 0) continue;
    if (found) {
      *several = true;
      break;
    }
    *processId = entry.th32ProcessID;
    found = true;
  }
  CloseHandle(snapshot);
  return found;
}
