#include "host_check.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <system_error>
#include <vector>

#include "bootstrap/host_interface.h"
#include "platform/system_sha256.h"

using namespace corvane::bootstrap;
using namespace corvane::os;

namespace {

constexpr size_t kReadChunk = size_t(1) << 20;
constexpr size_t kHeadLength = size_t(1) << 20;  // headers are read from the first MiB

const char* siteStateText(const SiteFinding& site) {
  switch (site.state) {
    case SiteState::present: return "present";
    case SiteState::differs: return "differs";
    case SiteState::outsideFile: break;
  }
  switch (site.placement) {
    case RvaPlacement::noSection: return "outside the file (no section covers it)";
    case RvaPlacement::notStored: return "outside the file (its section stores no bytes there)";
    case RvaPlacement::pastEndOfFile: return "outside the file (the file ends before it)";
    case RvaPlacement::inFile: break;
  }
  return "outside the file";
}

std::string hexBytes(const uint8_t* bytes, size_t length) {
  std::string text;
  char pair[4];
  for (size_t i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += pair;
  }
  return text;
}

std::string hex64(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

const char* peProblemText(PeProblem problem) {
  switch (problem) {
    case PeProblem::none: return "";
    case PeProblem::empty: return "the file is empty";
    case PeProblem::noDosHeader: return "it does not begin with the \"MZ\" mark of Windows programs";
    case PeProblem::noPeSignature: return "it has no Windows (PE) header";
    case PeProblem::notPe32Plus: return "it is a 32-bit Windows program";
    case PeProblem::notAmd64: return "it is a 64-bit Windows program for another processor";
    case PeProblem::malformed: return "its headers hold impossible values";
    case PeProblem::truncatedHeaders: return "the file ends inside its headers";
    case PeProblem::truncatedSections: return "the file ends before the end of its code and data";
  }
  return "";
}

bool readExactly(std::ifstream& file, uint64_t offset, uint8_t* out, size_t length) {
  file.clear();
  file.seekg(static_cast<std::streamoff>(offset));
  file.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(length));
  return file && static_cast<size_t>(file.gcount()) == length;
}

void checkSites(std::ifstream& file, HostCheckResult& result) {
  result.sitesChecked = true;
  for (size_t i = 0; i < kHostPatchSiteCount; ++i) {
    const HostPatchSite& site = kHostPatchSites[i];
    SiteFinding& finding = result.sites[i];
    const RvaMapping where = mapRvaRange(result.layout, site.rva, site.length, result.fileSize);
    finding.placement = where.placement;
    finding.fileOffset = where.fileOffset;
    if (where.placement != RvaPlacement::inFile || !readExactly(file, where.fileOffset, finding.found, site.length)) {
      finding.state = SiteState::outsideFile;
      continue;
    }
    finding.state =
        std::memcmp(finding.found, site.expected, site.length) == 0 ? SiteState::present : SiteState::differs;
  }
}

bool allSitesPresent(const HostCheckResult& result) {
  for (const SiteFinding& site : result.sites) {
    if (site.state != SiteState::present) return false;
  }
  return true;
}

HostVerdict layoutVerdict(PeProblem problem) {
  switch (problem) {
    case PeProblem::empty:
    case PeProblem::noDosHeader:
    case PeProblem::noPeSignature:
    case PeProblem::malformed: return HostVerdict::notWindowsExecutable;
    case PeProblem::notPe32Plus:
    case PeProblem::notAmd64: return HostVerdict::not64BitX64;
    case PeProblem::truncatedHeaders:
    case PeProblem::truncatedSections: return HostVerdict::truncated;
    case PeProblem::none: break;
  }
  return HostVerdict::supported;
}

}  // namespace

const HostPatchSite kHostPatchSites[kHostPatchSiteCount] = {
    {"view-copy call", kViewCopyCallSiteRva, kViewCopyCallSiteBytes, sizeof kViewCopyCallSiteBytes},
    {"renderer GPU-copy entry", kGpuCopyRva, kGpuCopyEntryBytes, sizeof kGpuCopyEntryBytes},
    {"skinned-pose upload entry", kPoseUploadRva, kPoseUploadEntryBytes, sizeof kPoseUploadEntryBytes},
    {"shadow caster-build entry 0", kShadowBuild0Rva, kShadowBuildEntryBytes, sizeof kShadowBuildEntryBytes},
    {"shadow caster-build entry 1", kShadowBuild1Rva, kShadowBuildEntryBytes, sizeof kShadowBuildEntryBytes},
};

std::string digestHex(const uint8_t (&digest)[32]) {
  std::string text;
  char pair[3];
  for (uint8_t byte : digest) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

void checkHostExecutable(const std::filesystem::path& path, const uint8_t (&expectedDigest)[32],
                         HostCheckResult& result) {
  std::memset(&result, 0, sizeof result);
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) {
    result.verdict = HostVerdict::fileMissing;
    return;
  }
  if (std::filesystem::is_directory(status)) {
    result.verdict = HostVerdict::fileUnreadable;
    return;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    result.verdict = HostVerdict::fileUnreadable;
    return;
  }

  // One pass over the file: the digest of all of it, the first MiB kept for the headers.
  // A hash the system cannot provide counts as a file that cannot be read.
  std::vector<uint8_t> head;
  std::vector<uint8_t> chunk(kReadChunk);
  SystemSha256* hash = systemSha256Begin();
  if (hash == nullptr) {
    result.verdict = HostVerdict::fileUnreadable;
    return;
  }
  for (;;) {
    file.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
    const size_t got = static_cast<size_t>(file.gcount());
    if (file.bad() || (got > 0 && !systemSha256Update(hash, chunk.data(), got))) {
      systemSha256Finish(hash, nullptr);
      result.verdict = HostVerdict::fileUnreadable;
      return;
    }
    if (got == 0) break;
    if (head.size() < kHeadLength) {
      const size_t keep = std::min(got, kHeadLength - head.size());
      head.insert(head.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(keep));
    }
    result.fileSize += got;
    if (got < chunk.size()) break;
  }
  if (!systemSha256Finish(hash, result.digest)) {
    result.verdict = HostVerdict::fileUnreadable;
    return;
  }
  result.digestComputed = true;
  result.digestMatches = std::memcmp(result.digest, expectedDigest, 32) == 0;

  parsePeLayout(head.data(), head.size(), result.fileSize, result.layout);
  if (peSectionsUsable(result.layout.problem)) checkSites(file, result);

  result.verdict = layoutVerdict(result.layout.problem);
  if (result.verdict != HostVerdict::supported) return;
  if (!result.digestMatches) {
    result.verdict = HostVerdict::otherBuild;
  } else if (!allSitesPresent(result)) {
    result.verdict = HostVerdict::sitesDiffer;
  }
}

int exitCodeFor(HostVerdict verdict) {
  switch (verdict) {
    case HostVerdict::supported: return kExitSupported;
    case HostVerdict::otherBuild:
    case HostVerdict::sitesDiffer: return kExitOtherBuild;
    case HostVerdict::fileMissing:
    case HostVerdict::fileUnreadable: return kExitCannotRead;
    case HostVerdict::notWindowsExecutable:
    case HostVerdict::not64BitX64:
    case HostVerdict::truncated: return kExitNotHostExecutable;
  }
  return kExitNotHostExecutable;
}

void writeHostReport(std::ostream& out, const std::string& shownPath, const HostCheckResult& result,
                     const uint8_t (&expectedDigest)[32]) {
  out << "File:     " << shownPath << "\n";
  if (result.verdict == HostVerdict::fileMissing) {
    out << "\nNOT FOUND. There is no file at that path.\n"
           "Run corvane-check in the game's folder (the one that holds Dishonored2.exe), drop\n"
           "Dishonored2.exe onto corvane-check.exe, or give the path, for example:\n"
           "  corvane-check \"C:\\GOG Games\\Dishonored 2\\Dishonored2.exe\"\n";
    return;
  }
  if (result.verdict == HostVerdict::fileUnreadable) {
    out << "\nCANNOT READ. The path is a folder, or the file cannot be opened or read.\n"
           "Give the path of Dishonored2.exe itself. If the game is running, close it and try again.\n";
    return;
  }
  out << "Size:     " << result.fileSize << " bytes\n";
  out << "SHA-256:  " << digestHex(result.digest) << "\n";
  out << "Expected: " << digestHex(expectedDigest) << " (Dishonored2.exe, GOG 1.77.9.0)\n";
  if (result.layout.problem == PeProblem::none) {
    out << "Format:   64-bit Windows program (PE32+, x86-64), " << result.layout.sectionCount << " sections\n";
  } else {
    out << "Format:   " << peProblemText(result.layout.problem);
    if (result.layout.problem == PeProblem::notAmd64) {
      char machine[16];
      std::snprintf(machine, sizeof machine, "0x%04X", result.layout.machine);
      out << " (machine " << machine << ")";
    }
    out << "\n";
  }
  if (result.sitesChecked) {
    out << "Patch sites:\n";
    for (size_t i = 0; i < kHostPatchSiteCount; ++i) {
      const HostPatchSite& site = kHostPatchSites[i];
      const SiteFinding& finding = result.sites[i];
      char line[160];
      std::snprintf(line, sizeof line, "  %-28s RVA %-9s", site.name, hex64(site.rva).c_str());
      out << line;
      if (finding.state != SiteState::outsideFile) out << " file offset " << hex64(finding.fileOffset);
      out << "  " << siteStateText(finding) << "\n";
      if (finding.state == SiteState::differs) {
        out << "      expected " << hexBytes(site.expected, site.length) << "\n";
        out << "      found    " << hexBytes(finding.found, site.length) << "\n";
      }
    }
  }
  out << "\n";

  switch (result.verdict) {
    case HostVerdict::supported:
      out << "SUPPORTED. This is Dishonored2.exe of GOG 1.77.9.0, the build Corvane patches.\n"
             "Put corvane.dll and corvane.ini beside it and load corvane.dll with your DLL loader\n"
             "(see README-player.txt).\n";
      return;
    case HostVerdict::otherBuild:
      out << "NOT SUPPORTED. This file is not Dishonored2.exe of GOG 1.77.9.0: its SHA-256 differs.\n"
             "With this file corvane.dll writes \"Dishonored2.exe SHA-256 does not match GOG 1.77.9.0;\n"
             "patch not installed.\" to corvane.log and leaves the game untouched.\n";
      if (result.sitesChecked && allSitesPresent(result)) {
        out << "All five patch sites hold the expected bytes, so this may be a modified copy of that\n"
               "build; Corvane still refuses it, because only the exact file is known to be safe.\n";
      } else if (result.sitesChecked) {
        out << "The sites marked \"differs\" or \"outside the file\" show that this build's code is laid\n"
               "out differently: patching it would break the game.\n";
      }
      out << "What to do: Corvane supports only the GOG release 1.77.9.0. If that is the release you\n"
             "own, let GOG Galaxy verify/repair the game (or reinstall it) to restore the original\n"
             "Dishonored2.exe, then check again. Steam, Epic, Microsoft Store and other versions are\n"
             "not supported.\n";
      return;
    case HostVerdict::sitesDiffer:
      out << "NOT SUPPORTED. The file's SHA-256 is the expected one, but the patch sites marked\n"
             "\"differs\" or \"outside the file\" do not hold the expected bytes, so this checker does\n"
             "not match the corvane.dll it describes. corvane.dll refuses the feature behind each such\n"
             "site (the view-copy call: everything). Please report this output.\n";
      return;
    case HostVerdict::notWindowsExecutable:
      out << "NOT A WINDOWS PROGRAM. This file is not a Windows executable (" << peProblemText(result.layout.problem)
          << ").\nGive the path of Dishonored2.exe itself, not of a shortcut, a launcher or another file.\n";
      return;
    case HostVerdict::not64BitX64:
      out << "NOT DISHONORED 2. This file is "
          << (result.layout.problem == PeProblem::notPe32Plus ? "a 32-bit Windows program"
                                                              : "a 64-bit Windows program for another processor")
          << ";\nDishonored2.exe is a 64-bit x86-64 (PE32+) program. Give the path of the game's own\n"
             "Dishonored2.exe, not of a launcher or another game.\n";
      return;
    case HostVerdict::truncated:
      out << "DAMAGED. The file is cut off (" << peProblemText(result.layout.problem)
          << "):\nit was cut short while downloading or copying.\n"
             "Let GOG Galaxy verify/repair the game, or reinstall it, then check again.\n";
      return;
    case HostVerdict::fileMissing:
    case HostVerdict::fileUnreadable: return;
  }
}

int runHostCheck(const std::filesystem::path& path, const std::string& shownPath, const uint8_t (&expectedDigest)[32],
                 std::ostream& out) {
  HostCheckResult result;
  checkHostExecutable(path, expectedDigest, result);
  writeHostReport(out, shownPath, result, expectedDigest);
  return exitCodeFor(result.verdict);
}
