// Wide-character paths and INI reading for the native backend.
#pragma once
#include <cstddef>
#include <cstdint>

namespace corvane::os {

// UTF-8 <-> wchar_t (UTF-32 natively). Return the characters written, 0 when
// the text does not fit.
uint32_t narrowToWide(const char* text, wchar_t* out, uint32_t capacity);
bool wideToNarrow(const wchar_t* text, char* out, size_t capacity);

// An INI reader that does what GetPrivateProfileIntW does (as Wine implements
// it): `fallback` when the file, section or key is missing or the value is
// empty; otherwise the value's leading integer after blanks and an optional
// sign, in decimal or after a prefix 0x, 0o or 0b, 0 when it has none. Section
// and key names compare without regard to case.
int readIniIntPosix(const wchar_t* section, const wchar_t* key, int fallback, const wchar_t* path);

}  // namespace corvane::os
