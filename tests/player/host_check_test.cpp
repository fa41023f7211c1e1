// The checker on synthetic executables: verdict, exit code and the words a
// player reads.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <sstream>

#include "host_check.h"
#include "synthetic_pe.h"

namespace {

using Digest = uint8_t[32];

struct CheckRun {
  int exitCode;
  std::string text;
};

CheckRun runCheck(const std::string& path, const std::vector<uint8_t>& expected) {
  Digest digest;
  std::memcpy(digest, expected.data(), 32);
  std::ostringstream out;
  const int code = runHostCheck(path, path, digest, out);
  return {code, out.str()};
}

HostCheckResult judge(const std::string& path, const std::vector<uint8_t>& expected) {
  Digest digest;
  std::memcpy(digest, expected.data(), 32);
  HostCheckResult result;
  checkHostExecutable(path, digest, result);
  return result;
}

// The report line of one site ("  <name>  RVA ...  <state>").
std::string siteLine(const std::string& text, const std::string& siteName) {
  const size_t at = text.find("  " + siteName + " ");
  if (at == std::string::npos) return "";
  return text.substr(at, text.find('\n', at) - at);
}

SyntheticPe hostLike() {
  SyntheticPeOptions options;
  options.sections = hostLikeSections();
  return buildSyntheticPe(options);
}

std::vector<uint8_t> otherDigest(std::vector<uint8_t> digest) {
  digest[31] ^= 0x01;
  return digest;
}

TEST(HostCheck, SupportedBuildPassesWithEverySiteFoundAtItsMappedOffset) {
  const SyntheticPe pe = hostLike();
  const std::string path = writeTestFile("Dishonored2.exe", pe.bytes);
  const std::vector<uint8_t> digest = sha256Of(pe.bytes);

  const CheckRun run = runCheck(path, digest);
  EXPECT_EQ(run.exitCode, 0) << run.text;
  EXPECT_NE(run.text.find("SUPPORTED."), std::string::npos) << run.text;
  EXPECT_EQ(run.text.find("NOT SUPPORTED"), std::string::npos) << run.text;
  EXPECT_NE(run.text.find("SHA-256:  " + hexOf(digest)), std::string::npos) << run.text;

  const HostCheckResult result = judge(path, digest);
  EXPECT_EQ(result.verdict, HostVerdict::supported);
  EXPECT_EQ(result.fileSize, pe.bytes.size());
  ASSERT_TRUE(result.sitesChecked);
  for (size_t i = 0; i < kHostPatchSiteCount; ++i) {
    const ExpectedSite& site = expectedSites()[i];
    ASSERT_EQ(kHostPatchSites[i].rva, site.rva);
    EXPECT_EQ(result.sites[i].state, SiteState::present) << site.name;
    EXPECT_EQ(int64_t(result.sites[i].fileOffset), pe.fileOffsetOf(site.rva)) << site.name;
    char offset[32];
    std::snprintf(offset, sizeof offset, "file offset 0x%llX",
                  static_cast<unsigned long long>(pe.fileOffsetOf(site.rva)));
    const std::string line = siteLine(run.text, site.name);
    EXPECT_NE(line.find(offset), std::string::npos) << line;
    EXPECT_NE(line.find("present"), std::string::npos) << line;
  }
}

TEST(HostCheck, ChangedSiteIsNamedWhetherOrNotTheDigestMatches) {
  for (const ExpectedSite& changed : expectedSites()) {
    SyntheticPe pe = hostLike();
    const std::vector<uint8_t> originalDigest = sha256Of(pe.bytes);
    // Last byte of the site: a checker that compares a shorter prefix misses it.
    pe.bytes[size_t(pe.fileOffsetOf(changed.rva)) + changed.bytes.size() - 1] ^= 0x5A;
    const std::string path = writeTestFile("changed.exe", pe.bytes);

    for (const std::vector<uint8_t>& expected : {sha256Of(pe.bytes), originalDigest}) {
      const CheckRun run = runCheck(path, expected);
      EXPECT_EQ(run.exitCode, 1) << run.text;
      EXPECT_NE(run.text.find("NOT SUPPORTED"), std::string::npos) << run.text;
      for (const ExpectedSite& site : expectedSites()) {
        const std::string line = siteLine(run.text, site.name);
        const bool isChanged = site.rva == changed.rva;
        EXPECT_EQ(line.find("differs") != std::string::npos, isChanged) << line;
        EXPECT_EQ(line.find("present") != std::string::npos, !isChanged) << line;
      }
    }
  }
}

TEST(HostCheck, OtherBuildIsRefusedAndItsDigestShown) {
  const SyntheticPe pe = hostLike();
  const std::string path = writeTestFile("other.exe", pe.bytes);
  const std::vector<uint8_t> actual = sha256Of(pe.bytes);
  const std::vector<uint8_t> expected = otherDigest(actual);

  const CheckRun run = runCheck(path, expected);
  EXPECT_NE(run.exitCode, 0);
  EXPECT_EQ(judge(path, expected).verdict, HostVerdict::otherBuild);
  EXPECT_NE(run.text.find("SHA-256:  " + hexOf(actual)), std::string::npos) << run.text;
  EXPECT_NE(run.text.find("Expected: " + hexOf(expected)), std::string::npos) << run.text;
  EXPECT_NE(run.text.find("NOT SUPPORTED"), std::string::npos) << run.text;
  EXPECT_NE(run.text.find("GOG 1.77.9.0"), std::string::npos) << run.text;
}

TEST(HostCheck, SitesWithoutStoredBytesAreOutsideTheFile) {
  // The view-copy site falls in no section, the skinned-pose site in a
  // section's zero-filled tail; the others are stored.
  SyntheticPeOptions options;
  for (SyntheticSection s : hostLikeSections()) {
    if (s.name == ".view") continue;
    if (s.name == ".pose") s.rawSize = 0x800;  // stores 0x2D0000..0x2D07FF only
    options.sections.push_back(s);
  }
  const SyntheticPe pe = buildSyntheticPe(options);
  const std::string path = writeTestFile("sparse.exe", pe.bytes);
  const std::vector<uint8_t> digest = sha256Of(pe.bytes);

  const HostCheckResult result = judge(path, digest);
  EXPECT_EQ(result.verdict, HostVerdict::sitesDiffer);
  EXPECT_EQ(result.sites[0].state, SiteState::outsideFile);
  EXPECT_EQ(result.sites[0].placement, RvaPlacement::noSection);
  EXPECT_EQ(result.sites[2].state, SiteState::outsideFile);
  EXPECT_EQ(result.sites[2].placement, RvaPlacement::notStored);
  EXPECT_EQ(result.sites[1].state, SiteState::present);

  const CheckRun run = runCheck(path, digest);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(siteLine(run.text, "view-copy call").find("outside the file"), std::string::npos) << run.text;
  EXPECT_NE(siteLine(run.text, "skinned-pose upload entry").find("outside the file"), std::string::npos);
}

TEST(HostCheck, MissingFileOrFolderCannotBeRead) {
  const std::vector<uint8_t> anyDigest(32, 0);
  const std::string dir = freshTestDirectory();

  const CheckRun missing = runCheck(dir + "/Dishonored2.exe", anyDigest);
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.text.find("NOT FOUND"), std::string::npos) << missing.text;
  EXPECT_EQ(judge(dir + "/Dishonored2.exe", anyDigest).verdict, HostVerdict::fileMissing);

  const CheckRun folder = runCheck(dir, anyDigest);
  EXPECT_EQ(folder.exitCode, 2);
  EXPECT_NE(folder.text.find("CANNOT READ"), std::string::npos) << folder.text;
}

TEST(HostCheck, FilesThatAreNotSixtyFourBitWindowsProgramsAreNamedAsSuch) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    HostVerdict verdict;
    const char* words;
  };
  SyntheticPeOptions pe32;
  pe32.pe32 = true;
  pe32.machine = 0x14C;
  pe32.sections = hostLikeSections();
  SyntheticPeOptions arm64;
  arm64.machine = 0xAA64;
  arm64.sections = hostLikeSections();
  std::vector<uint8_t> dosOnly = hostLike().bytes;
  std::memcpy(&dosOnly[0x80], "NE\0\0", 4);
  const std::string text = "#!/bin/sh\necho this is not a game\n";

  const Case cases[] = {
      {"empty.exe", {}, HostVerdict::notWindowsExecutable, "NOT A WINDOWS PROGRAM"},
      {"script.exe", std::vector<uint8_t>(text.begin(), text.end()), HostVerdict::notWindowsExecutable,
       "NOT A WINDOWS PROGRAM"},
      {"dos.exe", dosOnly, HostVerdict::notWindowsExecutable, "NOT A WINDOWS PROGRAM"},
      {"pe32.exe", buildSyntheticPe(pe32).bytes, HostVerdict::not64BitX64, "32-bit"},
      {"arm64.exe", buildSyntheticPe(arm64).bytes, HostVerdict::not64BitX64, "another processor"},
  };
  for (const Case& c : cases) {
    const std::string path = writeTestFile(c.name, c.bytes);
    const std::vector<uint8_t> digest = sha256Of(c.bytes);  // even a matching digest does not help
    const CheckRun run = runCheck(path, digest);
    EXPECT_EQ(run.exitCode, 3) << c.name << "\n" << run.text;
    EXPECT_EQ(judge(path, digest).verdict, c.verdict) << c.name;
    EXPECT_NE(run.text.find(c.words), std::string::npos) << c.name << "\n" << run.text;
    EXPECT_NE(run.text.find("SHA-256:  " + hexOf(digest)), std::string::npos) << c.name;
  }
}

TEST(HostCheck, TruncatedFilesAreDamagedAndSitesPastTheCutAreOutsideTheFile) {
  const SyntheticPe pe = hostLike();
  for (size_t length : {size_t(0x30), size_t(0x90), size_t(0x150)}) {  // inside the DOS, file, section headers
    const std::vector<uint8_t> cut(pe.bytes.begin(), pe.bytes.begin() + length);
    const std::string path = writeTestFile("cut-headers.exe", cut);
    const CheckRun run = runCheck(path, sha256Of(cut));
    EXPECT_EQ(run.exitCode, 3) << length << "\n" << run.text;
    EXPECT_EQ(judge(path, sha256Of(cut)).verdict, HostVerdict::truncated) << length;
    EXPECT_NE(run.text.find("DAMAGED"), std::string::npos) << run.text;
  }

  // Cut in the middle of the render section: the shadow sites lie beyond the cut.
  const size_t cutAt = size_t(pe.fileOffsetOf(0x3B0000));
  const std::vector<uint8_t> cut(pe.bytes.begin(), pe.bytes.begin() + cutAt);
  const std::string path = writeTestFile("cut-sections.exe", cut);
  const HostCheckResult result = judge(path, sha256Of(cut));
  EXPECT_EQ(result.verdict, HostVerdict::truncated);
  ASSERT_TRUE(result.sitesChecked);
  EXPECT_EQ(result.sites[1].state, SiteState::present);  // GPU copy lies before the cut
  EXPECT_EQ(result.sites[2].state, SiteState::present);
  EXPECT_EQ(result.sites[3].placement, RvaPlacement::pastEndOfFile);
  EXPECT_EQ(result.sites[0].placement, RvaPlacement::pastEndOfFile);
  const CheckRun run = runCheck(path, sha256Of(cut));
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_NE(siteLine(run.text, "shadow caster-build entry 1").find("the file ends before it"), std::string::npos)
      << run.text;
}

}  // namespace
