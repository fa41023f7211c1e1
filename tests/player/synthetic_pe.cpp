#include "synthetic_pe.h"

#include <openssl/sha.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

constexpr uint32_t kPeOffset = 0x80;
constexpr uint32_t kHeadersSize = 0x400;
constexpr uint32_t kFileAlignment = 0x200;

void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

}  // namespace

const std::vector<ExpectedSite>& expectedSites() {
  static const std::vector<ExpectedSite> sites = {
      {"view-copy call", 0xA395A6, {0xE8, 0xE5, 0xB4, 0x62, 0xFF}},
      {"renderer GPU-copy entry",
       0x3ACD00,
       {0x48, 0x89, 0x5C, 0x24, 0x08, 0xF3, 0x0F, 0x11, 0x54, 0x24, 0x18, 0x57, 0x48, 0x81, 0xEC, 0xC0, 0x00, 0x00,
        0x00}},
      {"skinned-pose upload entry",
       0x2D0C80,
       {0x48, 0x89, 0x74, 0x24, 0x20, 0x57, 0x48, 0x83, 0xEC, 0x40, 0x80, 0xB9, 0xB1, 0x1F, 0x00, 0x00, 0x00}},
      {"shadow caster-build entry 0",
       0x3CA3B0,
       {0x4C, 0x89, 0x44, 0x24, 0x18, 0x48, 0x89, 0x54, 0x24, 0x10, 0x48, 0x89, 0x4C, 0x24, 0x08}},
      {"shadow caster-build entry 1",
       0x3CACE0,
       {0x4C, 0x89, 0x44, 0x24, 0x18, 0x48, 0x89, 0x54, 0x24, 0x10, 0x48, 0x89, 0x4C, 0x24, 0x08}},
  };
  return sites;
}

std::vector<SyntheticSection> hostLikeSections() {
  return {
      {".text", 0x1000, 0x800, 0x800},     {".pose", 0x2D0000, 0x1800, 0x1000}, {".render", 0x3AC000, 0x1F000, 0x1F000},
      {".view", 0xA39000, 0x1000, 0x1000}, {".bss", 0xA40000, 0x3000000, 0},
  };
}

int64_t SyntheticPe::fileOffsetOf(uint64_t rva) const {
  for (const SyntheticSection& s : sections) {
    if (rva >= s.virtualAddress && rva < uint64_t(s.virtualAddress) + s.rawSize) {
      return int64_t(s.rawOffset + (rva - s.virtualAddress));
    }
  }
  return -1;
}

SyntheticPe buildSyntheticPe(const SyntheticPeOptions& options) {
  SyntheticPe pe;
  pe.sections = options.sections;
  uint32_t next = kHeadersSize;
  for (SyntheticSection& s : pe.sections) {
    s.rawOffset = s.rawSize != 0 ? next : 0;
    next += (s.rawSize + kFileAlignment - 1) / kFileAlignment * kFileAlignment;
  }
  std::vector<uint8_t>& b = pe.bytes;
  b.assign(next, 0);
  // Filler first, so the headers written below are not overwritten.
  uint32_t seed = 0x2545F491;
  for (size_t i = kHeadersSize; i < b.size(); ++i) {
    seed = seed * 1664525u + 1013904223u;
    b[i] = uint8_t(seed >> 24);
  }

  b[0] = 'M';
  b[1] = 'Z';
  put32(b, 0x3C, kPeOffset);
  std::memcpy(&b[kPeOffset], "PE\0\0", 4);
  const size_t fileHeader = kPeOffset + 4;
  const uint16_t optionalSize = options.pe32 ? 224 : 240;
  put16(b, fileHeader, options.machine);
  put16(b, fileHeader + 2, uint16_t(pe.sections.size()));
  put16(b, fileHeader + 16, optionalSize);
  put16(b, fileHeader + 18, 0x0022);  // executable, large-address aware
  const size_t optional = fileHeader + 20;
  put16(b, optional, options.pe32 ? 0x10B : 0x20B);
  put32(b, optional + 32, 0x1000);          // section alignment
  put32(b, optional + 36, kFileAlignment);  // file alignment
  uint32_t imageSize = 0x1000;
  for (const SyntheticSection& s : pe.sections) {
    imageSize = std::max<uint32_t>(imageSize, (s.virtualAddress + s.virtualSize + 0xFFF) & ~0xFFFu);
  }
  put32(b, optional + 56, imageSize);
  put32(b, optional + 60, kHeadersSize);
  put32(b, optional + (options.pe32 ? 92 : 108), 16);  // data directory count
  size_t entry = optional + optionalSize;
  for (const SyntheticSection& s : pe.sections) {
    std::memcpy(&b[entry], s.name.c_str(), std::min<size_t>(8, s.name.size()));
    put32(b, entry + 8, s.virtualSize);
    put32(b, entry + 12, s.virtualAddress);
    put32(b, entry + 16, s.rawSize);
    put32(b, entry + 20, s.rawOffset);
    put32(b, entry + 36, 0x60000020);  // code, execute, read
    entry += 40;
  }
  if (entry > kHeadersSize) throw std::logic_error("synthetic headers too long");

  if (options.writeSites) {
    for (const ExpectedSite& site : expectedSites()) {
      const int64_t at = pe.fileOffsetOf(site.rva);
      if (at < 0 || pe.fileOffsetOf(site.rva + site.bytes.size() - 1) != at + int64_t(site.bytes.size()) - 1) {
        continue;  // a layout without stored bytes for this site
      }
      std::memcpy(&b[size_t(at)], site.bytes.data(), site.bytes.size());
    }
  }
  return pe;
}

namespace {

// Removes the test directories when the test program ends.
struct TestDirectories {
  std::vector<std::string> made;
  ~TestDirectories() {
    std::error_code ignored;
    for (const std::string& dir : made) std::filesystem::remove_all(dir, ignored);
  }
};
TestDirectories testDirectories;

}  // namespace

std::string freshTestDirectory() {
  char pattern[] = "/tmp/corvane-player-XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (dir == nullptr) throw std::runtime_error("mkdtemp failed");
  testDirectories.made.push_back(dir);
  return dir;
}

std::string writeTestFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  static const std::string dir = freshTestDirectory();
  const std::string path = dir + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
  return path;
}

std::vector<uint8_t> sha256Of(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> digest(SHA256_DIGEST_LENGTH);
  SHA256(bytes.data(), bytes.size(), digest.data());
  return digest;
}

std::string hexOf(const std::vector<uint8_t>& bytes) {
  std::string text;
  char pair[3];
  for (uint8_t byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}
