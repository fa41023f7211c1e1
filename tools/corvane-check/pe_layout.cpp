#include "pe_layout.h"

#include <cstring>

namespace {

constexpr size_t kDosHeaderSize = 0x40;
constexpr size_t kPeOffsetField = 0x3C;
constexpr size_t kFileHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSizeOfHeadersField = 60;  // within the optional header, PE32 and PE32+ alike

uint16_t read16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t read32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// True when [offset, offset + length) lies inside the bytes we hold; sets the
// truncation problem when the file itself is shorter.
bool have(uint64_t offset, uint64_t length, size_t headLength, uint64_t fileSize, PeLayout& out) {
  if (offset + length <= headLength) return true;
  out.problem = offset + length > fileSize ? PeProblem::truncatedHeaders : PeProblem::malformed;
  return false;
}

}  // namespace

void parsePeLayout(const uint8_t* head, size_t headLength, uint64_t fileSize, PeLayout& out) {
  std::memset(&out, 0, sizeof out);
  if (fileSize == 0) {
    out.problem = PeProblem::empty;
    return;
  }
  if (headLength < 2 || head[0] != 'M' || head[1] != 'Z') {
    out.problem = PeProblem::noDosHeader;
    return;
  }
  if (!have(0, kDosHeaderSize, headLength, fileSize, out)) return;
  const uint64_t peOffset = read32(head + kPeOffsetField);
  if (peOffset + 4 > fileSize) {
    // A stub pointing past the end: a cut-off executable if "PE" could still
    // follow, otherwise simply not one.
    out.problem = peOffset < (uint64_t(1) << 20) ? PeProblem::truncatedHeaders : PeProblem::noPeSignature;
    return;
  }
  if (!have(peOffset, 4, headLength, fileSize, out)) return;
  if (std::memcmp(head + peOffset, "PE\0\0", 4) != 0) {
    out.problem = PeProblem::noPeSignature;
    return;
  }
  const uint64_t fileHeader = peOffset + 4;
  if (!have(fileHeader, kFileHeaderSize, headLength, fileSize, out)) return;
  out.machine = read16(head + fileHeader);
  const uint32_t sectionCount = read16(head + fileHeader + 2);
  const uint32_t optionalSize = read16(head + fileHeader + 16);
  const uint64_t optional = fileHeader + kFileHeaderSize;
  if (!have(optional, 2, headLength, fileSize, out)) return;
  out.optionalMagic = read16(head + optional);
  if (out.optionalMagic == kOptionalMagicPe32) {
    out.problem = PeProblem::notPe32Plus;
    return;
  }
  if (out.optionalMagic != kOptionalMagicPe32Plus) {
    out.problem = PeProblem::malformed;
    return;
  }
  if (out.machine != kMachineAmd64) {
    out.problem = PeProblem::notAmd64;
    return;
  }
  if (optionalSize < kSizeOfHeadersField + 4 || sectionCount == 0 || sectionCount > kMaxPeSections) {
    out.problem = PeProblem::malformed;
    return;
  }
  if (!have(optional, optionalSize, headLength, fileSize, out)) return;
  out.headersSize = read32(head + optional + kSizeOfHeadersField);
  const uint64_t table = optional + optionalSize;
  if (!have(table, uint64_t(sectionCount) * kSectionHeaderSize, headLength, fileSize, out)) return;
  out.sectionCount = sectionCount;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const uint8_t* entry = head + table + uint64_t(i) * kSectionHeaderSize;
    PeSection& s = out.sections[i];
    std::memcpy(s.name, entry, 8);
    s.name[8] = '\0';
    s.virtualSize = read32(entry + 8);
    s.virtualAddress = read32(entry + 12);
    s.rawSize = read32(entry + 16);
    s.rawOffset = read32(entry + 20);
    if (s.rawSize != 0 && uint64_t(s.rawOffset) + s.rawSize > fileSize) out.problem = PeProblem::truncatedSections;
  }
  if (out.headersSize > fileSize) out.problem = PeProblem::truncatedHeaders;
}

RvaMapping mapRvaRange(const PeLayout& layout, uint64_t rva, uint64_t length, uint64_t fileSize) {
  RvaMapping result{RvaPlacement::noSection, 0, nullptr};
  if (rva + length <= layout.headersSize) {
    result.placement = rva + length <= fileSize ? RvaPlacement::inFile : RvaPlacement::pastEndOfFile;
    result.fileOffset = rva;
    return result;
  }
  for (uint32_t i = 0; i < layout.sectionCount; ++i) {
    const PeSection& s = layout.sections[i];
    const uint64_t span = s.virtualSize != 0 ? s.virtualSize : s.rawSize;
    if (rva < s.virtualAddress || rva + length > uint64_t(s.virtualAddress) + span) continue;
    const uint64_t within = rva - s.virtualAddress;
    result.section = &s;
    result.fileOffset = uint64_t(s.rawOffset) + within;
    if (within + length > s.rawSize) {
      result.placement = RvaPlacement::notStored;
    } else if (result.fileOffset + length > fileSize) {
      result.placement = RvaPlacement::pastEndOfFile;
    } else {
      result.placement = RvaPlacement::inFile;
    }
    return result;
  }
  return result;
}
