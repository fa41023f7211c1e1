#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "tools/telemetry-reader/telemetry_source.h"

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
  return OpenResult::kOpened;
}

void closeTelemetrySource(TelemetrySource* source) {
  if (source->block != nullptr) UnmapViewOfFile(source->block);
  if (source->handle != nullptr) CloseHandle(static_cast<HANDLE>(source->handle));
  source->block = nullptr;
  source->handle = nullptr;
}
