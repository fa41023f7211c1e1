#include "bootstrap/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "bootstrap/install.h"
#include "platform/platform.h"

namespace corvane::bootstrap {

bool pathBesideLibrary(const wchar_t* fileName, wchar_t (&out)[kPathCapacity]) {
  std::wmemset(out, 0, kPathCapacity);
  uint32_t length = os::platform.moduleFileName(ownModule, out, kPathCapacity);
  // 0 is a failure; a full buffer means the path was cut and is not the library's.
  if (length == 0 || length >= kPathCapacity) {
    out[0] = 0;
    return false;
  }
  size_t cut = 0;
  for (size_t i = 0; i < length; ++i)
    if (out[i] == L'\\' || out[i] == L'/') cut = i + 1;
  const size_t nameLength = std::wcslen(fileName);
  if (cut + nameLength + 1 > kPathCapacity) {
    out[0] = 0;
    return false;
  }
  std::wmemcpy(out + cut, fileName, nameLength + 1);
  return true;
}

void LogMessage(const char* format, ...) {
  // The message and its line end, so the file gets the whole line in one append.
  char line[kLogMessageCapacity + 2];
  std::memset(line, 0, sizeof line);
  va_list arguments;
  va_start(arguments, format);
  int formatted = std::vsnprintf(line, kLogMessageCapacity, format, arguments);
  va_end(arguments);
  if (formatted < 0) line[0] = 0;
  const size_t length = std::strlen(line);

  os::platform.debugOutput(line);
  os::platform.debugOutput("\n");

  wchar_t path[kPathCapacity];
  if (!pathBesideLibrary(L"corvane.log", path)) return;
  line[length] = '\r';
  line[length + 1] = '\n';
  os::platform.appendToFile(path, line, length + 2);
}

}  // namespace corvane::bootstrap
