// The checker's verdict on one file: is it the Dishonored2.exe that corvane.dll
// patches (GOG 1.77.9.0)? The expected digest is a parameter, so a checker built
// for a stand-in host, and the tests, can use another one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>

#include "pe_layout.h"

// One place in the host's code that corvane.dll patches, with the bytes it must
// find there before patching.
struct HostPatchSite {
  const char* name;
  uint64_t rva;
  const uint8_t* expected;
  size_t length;
};

constexpr size_t kHostPatchSiteCount = 5;
constexpr size_t kLongestPatchSite = 19;
extern const HostPatchSite kHostPatchSites[kHostPatchSiteCount];

enum class SiteState {
  present,     // the expected bytes are in the file
  differs,     // the file holds other bytes there
  outsideFile  // the file stores no bytes for that RVA
};

struct SiteFinding {
  SiteState state;
  RvaPlacement placement;
  uint64_t fileOffset;
  uint8_t found[kLongestPatchSite];  // the file's bytes when state is present or differs
};

enum class HostVerdict {
  supported,             // digest and every patch site as expected
  otherBuild,            // a readable 64-bit executable with another digest
  sitesDiffer,           // the expected digest, yet a patch site differs or is missing
  fileMissing,           // nothing at that path
  fileUnreadable,        // a folder, no permission, or a read error
  notWindowsExecutable,  // empty, not "MZ", no PE signature, or impossible headers
  not64BitX64,           // a 32-bit executable, or one for another processor
  truncated              // headers or section data cut off
};

struct HostCheckResult {
  HostVerdict verdict;
  uint64_t fileSize;
  bool digestComputed;
  uint8_t digest[32];
  bool digestMatches;
  PeLayout layout;
  bool sitesChecked;
  SiteFinding sites[kHostPatchSiteCount];
};

// Reads and judges the file at `path`: one streamed pass for the digest, then
// the bytes of each patch site where the section table puts them.
void checkHostExecutable(const std::filesystem::path& path, const uint8_t (&expectedDigest)[32],
                         HostCheckResult& result);

// The plain-words report for players: what was found and what to do.
void writeHostReport(std::ostream& out, const std::string& shownPath, const HostCheckResult& result,
                     const uint8_t (&expectedDigest)[32]);

// 0 only for the supported build; see kExit* for the others.
constexpr int kExitSupported = 0;
constexpr int kExitOtherBuild = 1;
constexpr int kExitCannotRead = 2;
constexpr int kExitNotHostExecutable = 3;
constexpr int kExitUsage = 64;
int exitCodeFor(HostVerdict verdict);

// Check, report and return the exit code: the whole program minus argument handling.
int runHostCheck(const std::filesystem::path& path, const std::string& shownPath, const uint8_t (&expectedDigest)[32],
                 std::ostream& out);

// "c3150f..." for a digest.
std::string digestHex(const uint8_t (&digest)[32]);
