// Just enough of the Portable Executable format to find where an RVA of a
// 64-bit Windows executable lies in its file: the DOS stub's pointer, the PE
// signature, the file header, the optional header's magic and the section table.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kOptionalMagicPe32 = 0x10B;
constexpr uint16_t kOptionalMagicPe32Plus = 0x20B;
constexpr uint32_t kMaxPeSections = 96;  // the loader's own limit

enum class PeProblem {
  none,
  empty,              // zero bytes
  noDosHeader,        // does not start with "MZ"
  noPeSignature,      // "MZ" but no "PE\0\0" where the stub points (a DOS program or other data)
  notPe32Plus,        // a PE32 (32-bit) optional header
  notAmd64,           // a PE32+ for another processor
  malformed,          // impossible header values (section count, header sizes)
  truncatedHeaders,   // the file ends inside its headers
  truncatedSections,  // a section's raw data runs past the end of the file
};

struct PeSection {
  char name[9];  // NUL-terminated
  uint32_t virtualAddress;
  uint32_t virtualSize;
  uint32_t rawOffset;
  uint32_t rawSize;
};

struct PeLayout {
  PeProblem problem;
  uint16_t machine;        // valid once the file header was read
  uint16_t optionalMagic;  // valid once the optional header was read
  uint32_t headersSize;    // SizeOfHeaders: RVAs below it map to the same file offset
  uint32_t sectionCount;
  PeSection sections[kMaxPeSections];
};

// Parses the headers from the first `headLength` bytes of a file of `fileSize`
// bytes. `head` must hold the whole file when it is shorter than the headers.
void parsePeLayout(const uint8_t* head, size_t headLength, uint64_t fileSize, PeLayout& out);

// True for problems after which sections can still be located.
inline bool peSectionsUsable(PeProblem problem) {
  return problem == PeProblem::none || problem == PeProblem::truncatedSections;
}

enum class RvaPlacement {
  inFile,        // every byte of the range is stored in the file at fileOffset
  noSection,     // no section (nor the headers) covers the whole range
  notStored,     // a section covers it, but in its zero-filled tail that the file does not store
  pastEndOfFile  // the section says where, but the file ends before the range does
};

struct RvaMapping {
  RvaPlacement placement;
  uint64_t fileOffset;       // where the range starts in the file (also for pastEndOfFile)
  const PeSection* section;  // null for the headers or when no section covers it
};

RvaMapping mapRvaRange(const PeLayout& layout, uint64_t rva, uint64_t length, uint64_t fileSize);
