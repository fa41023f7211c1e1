// Small PE32+ files made in the tests: sections at the host's real RVAs, the
// expected bytes at each patch site, pseudo-random filler everywhere else, and
// raw offsets unlike the RVAs so a wrong RVA-to-offset mapping cannot pass.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct SyntheticSection {
  std::string name;
  uint32_t virtualAddress;
  uint32_t virtualSize;
  uint32_t rawSize;        // 0: a section without file data
  uint32_t rawOffset = 0;  // assigned by buildSyntheticPe
};

struct ExpectedSite {
  const char* name;
  uint64_t rva;
  std::vector<uint8_t> bytes;
};

// The five patch sites and their bytes, written down here independently of
// the checker's own table.
const std::vector<ExpectedSite>& expectedSites();

struct SyntheticPeOptions {
  uint16_t machine = 0x8664;
  bool pe32 = false;  // a 32-bit optional header instead of PE32+
  std::vector<SyntheticSection> sections;
  bool writeSites = true;
};

struct SyntheticPe {
  std::vector<uint8_t> bytes;
  std::vector<SyntheticSection> sections;  // with raw offsets
  // File offset of an RVA by the test's own arithmetic; -1 when no stored byte holds it.
  int64_t fileOffsetOf(uint64_t rva) const;
};

// Sections covering every patch site (the host's layout in miniature).
std::vector<SyntheticSection> hostLikeSections();
SyntheticPe buildSyntheticPe(const SyntheticPeOptions& options);

// Test files in a fresh temporary directory.
std::string writeTestFile(const std::string& name, const std::vector<uint8_t>& bytes);
std::string freshTestDirectory();
std::vector<uint8_t> sha256Of(const std::vector<uint8_t>& bytes);
std::string hexOf(const std::vector<uint8_t>& bytes);
