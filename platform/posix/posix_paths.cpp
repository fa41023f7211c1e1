#include "platform/posix/posix_paths.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace corvane::os {

uint32_t narrowToWide(const char* text, wchar_t* out, uint32_t capacity) {
  uint32_t n = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    uint32_t c = *p++;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (extra) c &= 0x3Fu >> extra;
    for (int i = 0; i < extra && (*p & 0xC0) == 0x80; ++i) c = (c << 6) | (*p++ & 0x3F);
    if (n + 1 >= capacity) return 0;
    out[n++] = static_cast<wchar_t>(c);
  }
  if (capacity == 0) return 0;
  out[n] = 0;
  return n;
}

bool wideToNarrow(const wchar_t* text, char* out, size_t capacity) {
  size_t n = 0;
  for (; *text; ++text) {
    uint32_t c = static_cast<uint32_t>(*text);
    unsigned char bytes[4];
    size_t count;
    if (c < 0x80) {
      bytes[0] = static_cast<unsigned char>(c);
      count = 1;
    } else if (c < 0x800) {
      bytes[0] = 0xC0 | (c >> 6);
      bytes[1] = 0x80 | (c & 0x3F);
      count = 2;
    } else if (c < 0x10000) {
      bytes[0] = 0xE0 | (c >> 12);
      bytes[1] = 0x80 | ((c >> 6) & 0x3F);
      bytes[2] = 0x80 | (c & 0x3F);
      count = 3;
    } else {
      bytes[0] = 0xF0 | (c >> 18);
      bytes[1] = 0x80 | ((c >> 12) & 0x3F);
      bytes[2] = 0x80 | ((c >> 6) & 0x3F);
      bytes[3] = 0x80 | (c & 0x3F);
      count = 4;
    }
    if (n + count + 1 > capacity) return false;
    std::memcpy(out + n, bytes, count);
    n += count;
  }
  if (capacity == 0) return false;
  out[n] = 0;
  return true;
}

namespace {

bool equalsIgnoringCase(const char* a, size_t aLength, const wchar_t* b) {
  size_t bLength = std::wcslen(b);
  if (aLength != bLength) return false;
  for (size_t i = 0; i < aLength; ++i)
    if (std::towlower(static_cast<unsigned char>(a[i])) != std::towlower(b[i])) return false;
  return true;
}

void trim(const char*& begin, const char*& end) {
  while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
  while (end > begin && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r')) --end;
}

// The value as GetPrivateProfileIntW reads it: one pair of matching quotes
// around it is dropped, at most 29 characters are kept (the size of its
// buffer), and empty means absent. Then, as RtlUnicodeStringToInteger with base
// 0 reads: blanks, one sign, a prefix 0x, 0o or 0b (small letters only), the
// digits of that base (else decimal) up to the first other character, the sum
// taken modulo 2^32.
constexpr size_t kProfileValueCharacters = 29;

bool profileInteger(const char* begin, const char* end, int* value) {
  if (end - begin >= 2 && (*begin == '"' || *begin == '\'') && end[-1] == *begin) {
    ++begin;
    --end;
  }
  if (static_cast<size_t>(end - begin) > kProfileValueCharacters) end = begin + kProfileValueCharacters;
  if (begin == end) return false;
  while (begin < end && static_cast<unsigned char>(*begin) <= ' ') ++begin;
  bool negative = false;
  if (begin < end && (*begin == '+' || *begin == '-')) negative = *begin++ == '-';
  uint32_t base = 10;
  if (end - begin >= 2 && begin[0] == '0') {
    const char prefix = begin[1];
    base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
    if (base != 10) begin += 2;
  }
  uint32_t total = 0;
  for (; begin < end; ++begin) {
    const char c = *begin;
    uint32_t digit = c >= '0' && c <= '9'   ? static_cast<uint32_t>(c - '0')
                     : c >= 'a' && c <= 'z' ? static_cast<uint32_t>(c - 'a' + 10)
                     : c >= 'A' && c <= 'Z' ? static_cast<uint32_t>(c - 'A' + 10)
                                            : 99;
    if (digit >= base) break;
    total = total * base + digit;
  }
  *value = static_cast<int>(negative ? 0u - total : total);
  return true;
}

}  // namespace

int readIniIntPosix(const wchar_t* section, const wchar_t* key, int fallback, const wchar_t* path) {
  char narrow[4096];
  if (!wideToNarrow(path, narrow, sizeof narrow)) return fallback;
  FILE* file = std::fopen(narrow, "rb");
  if (file == nullptr) return fallback;
  char line[1024];
  bool inSection = false;
  int result = fallback;
  bool found = false;
  while (!found && std::fgets(line, sizeof line, file) != nullptr) {
    const char* begin = line;
    const char* end = line + std::strlen(line);
    if (end > begin && end[-1] == '\n') --end;
    trim(begin, end);
    if (begin == end || *begin == ';') continue;
    if (*begin == '[') {
      const char* close = static_cast<const char*>(std::memchr(begin, ']', static_cast<size_t>(end - begin)));
      if (close == nullptr) continue;
      const char* nameBegin = begin + 1;
      const char* nameEnd = close;
      trim(nameBegin, nameEnd);
      inSection = equalsIgnoringCase(nameBegin, static_cast<size_t>(nameEnd - nameBegin), section);
      continue;
    }
    if (!inSection) continue;
    const char* equals = static_cast<const char*>(std::memchr(begin, '=', static_cast<size_t>(end - begin)));
    if (equals == nullptr) continue;
    const char* keyBegin = begin;
    const char* keyEnd = equals;
    trim(keyBegin, keyEnd);
    if (!equalsIgnoringCase(keyBegin, static_cast<size_t>(keyEnd - keyBegin), key)) continue;
    const char* valueBegin = equals + 1;
    const char* valueEnd = end;
    trim(valueBegin, valueEnd);
    found = true;
    int value = 0;
    if (profileInteger(valueBegin, valueEnd, &value)) result = value;
  }
  std::fclose(file);
  return result;
}

}  // namespace corvane::os
