#include <gtest/gtest.h>

#include <fstream>

#include "platform/platform.h"
#include "platform/posix/posix_paths.h"
#include "tests/support/library_dir.h"

using namespace corvane::os;

namespace {

std::wstring wide(const std::string& s) {
  wchar_t buffer[1024];
  narrowToWide(s.c_str(), buffer, 1024);
  return buffer;
}

std::string hex(const uint8_t digest[32]) {
  char text[65];
  for (int i = 0; i < 32; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
  return text;
}

void write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

TEST(FileHash, KnownDigestsAndContentOnly) {
  std::string dir = useFreshLibraryDirectory();
  uint8_t digest[32] = {};
  write(dir + "/empty.exe", "");
  ASSERT_TRUE(defaultPlatform().hashFileSha256(wide(dir + "/empty.exe").c_str(), digest));
  EXPECT_EQ(hex(digest), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

  // Larger than one read, to cross the 1 MiB read boundary.
  std::string big(3 * 1048576 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + (i >> 9));
  write(dir + "/Dishonored2.exe", big);
  write(dir + "/renamed copy.exe", big);
  uint8_t a[32], b[32], c[32];
  ASSERT_TRUE(defaultPlatform().hashFileSha256(wide(dir + "/Dishonored2.exe").c_str(), a));
  ASSERT_TRUE(defaultPlatform().hashFileSha256(wide(dir + "/renamed copy.exe").c_str(), b));
  EXPECT_EQ(hex(a), hex(b));
  big[2 * 1048576 + 5] ^= 0x40;
  write(dir + "/changed.exe", big);
  ASSERT_TRUE(defaultPlatform().hashFileSha256(wide(dir + "/changed.exe").c_str(), c));
  EXPECT_NE(hex(a), hex(c));

  EXPECT_FALSE(defaultPlatform().hashFileSha256(wide(dir + "/missing.exe").c_str(), digest));
}

}  // namespace
