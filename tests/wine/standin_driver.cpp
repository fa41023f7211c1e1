// The stand-in game's DLL for the stand-in executable.
//
//   corvaneStandInBuild: writes the stand-in image at the real RVAs of the
//     executable's image section; "--corrupt-site NAME" (repeatable) changes one
//     byte of that place afterwards, as another tool or another build would.
//   corvaneStandInDrive: with "--expect-patched LIST" (comma-separated place
//     names, or "none"), checks the bytes at every place (the patch, pointing
//     into corvane.dll, where expected; the stand-in's own bytes elsewhere),
//     then makes the game's calls through every place that was not corrupted,
//     and prints a PASS or FAIL summary. Returns 0 on PASS.
//     With "--scene N" it plays the scripted camera scene through the view-copy
//     call site afterwards (standin_scene.h); "--console A,B,C" sets the
//     console-variable values the image starts with.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "tests/standin/standin_host.h"
#include "tests/wine/standin_driver.h"
#include "tests/wine/standin_models_scene.h"
#include "tests/wine/standin_scene.h"

namespace {

struct Place {
  const char* name;
  uint64_t rva;
  uint32_t length;
};

const Place kPlaces[kPlaceCount] = {
    {"view", kStandInViewCopyCallRva, 5},       {"gpu", kStandInGpuCopyRva, 19},
    {"pose", kStandInPoseUploadRva, 17},        {"shadow0", kStandInShadowBuildRva[0], 15},
    {"shadow1", kStandInShadowBuildRva[1], 15},
};

// Bytes compared at and after each place: the patch and what follows it.
constexpr size_t kSnapshotBytes = 48;

uint8_t* imageBase = nullptr;
uint8_t snapshot[kPlaceCount][kSnapshotBytes];
DWORD protectionBefore[kPlaceCount];
bool corrupted[kPlaceCount];
int checks = 0;
int failures = 0;
const char* currentPlace = "nothing";

int placeIndex(const wchar_t* name) {
  for (size_t i = 0; i < kPlaceCount; ++i) {
    wchar_t wide[16];
    std::swprintf(wide, 16, L"%hs", kPlaces[i].name);
    if (std::wcscmp(wide, name) == 0) return static_cast<int>(i);
  }
  return -1;
}

uint64_t read64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// True when `address` lies in an executable section of corvane.dll.
bool inCorvaneCode(uint64_t address) {
  const auto* module = reinterpret_cast<const uint8_t*>(GetModuleHandleW(L"corvane.dll"));
  if (module == nullptr) return false;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(module + dos->e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    const uint64_t start = reinterpret_cast<uint64_t>(module) + section->VirtualAddress;
    if ((section->Characteristics & IMAGE_SCN_MEM_EXECUTE) && address >= start &&
        address < start + section->Misc.VirtualSize)
      return true;
  }
  return false;
}

DWORD protectionAt(const uint8_t* at) {
  MEMORY_BASIC_INFORMATION info{};
  return VirtualQuery(at, &info, sizeof info) == sizeof info ? info.Protect : 0;
}

bool restUnchanged(size_t place, const uint8_t* at) {
  const size_t from = kPlaces[place].length;
  return std::memcmp(at + from, snapshot[place] + from, kSnapshotBytes - from) == 0;
}

// The call site: E8 and a displacement to a Relay page that jumps into corvane.dll.
uint64_t checkCallSitePatch(const uint8_t* at) {
  if (at[0] != 0xE8) {
    check(false, "view: the call site holds a call (E8), found %02X", at[0]);
    return 0;
  }
  int32_t displacement;
  std::memcpy(&displacement, at + 1, 4);
  const uint8_t* relay = at + 5 + displacement;
  MEMORY_BASIC_INFORMATION info{};
  const bool queried = VirtualQuery(relay, &info, sizeof info) == sizeof info;
  check(queried && info.State == MEM_COMMIT && info.Protect == PAGE_EXECUTE_READWRITE &&
            (reinterpret_cast<uintptr_t>(relay) & 0xFFF) == 0,
        "view: the call leads to the start of a committed read-write-execute page");
  if (!queried || info.State != MEM_COMMIT) return 0;
  const uint64_t target = read64(relay + 2);
  check(relay[0] == 0x48 && relay[1] == 0xB8 && relay[10] == 0xFF && relay[11] == 0xE0,
        "view: the relay is mov rax, imm64; jmp rax");
  check(inCorvaneCode(target), "view: the relay jumps into corvane.dll's code (0x%llX)",
        static_cast<unsigned long long>(target));
  return target;
}

// A function entry: jmp [rip+0], the hook body's address in corvane.dll, nops.
uint64_t checkEntryPatch(size_t place, const uint8_t* at) {
  static const uint8_t kJump[6] = {0xFF, 0x25, 0, 0, 0, 0};
  const uint64_t target = read64(at + 6);
  bool nops = true;
  for (size_t i = 14; i < kPlaces[place].length; ++i) nops = nops && at[i] == 0x90;
  check(std::memcmp(at, kJump, 6) == 0, "%s: the entry starts with jmp [rip+0]", kPlaces[place].name);
  check(inCorvaneCode(target), "%s: the entry jumps into corvane.dll's code (0x%llX)", kPlaces[place].name,
        static_cast<unsigned long long>(target));
  check(nops, "%s: the rest of the entry's %u bytes are nops", kPlaces[place].name, kPlaces[place].length);
  return target;
}

void checkPlaces(const bool expectPatched[kPlaceCount]) {
  uint64_t targets[kPlaceCount] = {};
  for (size_t place = 0; place < kPlaceCount; ++place) {
    const uint8_t* at = imageBase + kPlaces[place].rva;
    const char* name = kPlaces[place].name;
    check(protectionBefore[place] == PAGE_EXECUTE_READ && protectionAt(at) == protectionBefore[place],
          "%s: the page is execute-read before and after the install (0x%lX, then 0x%lX)", name,
          static_cast<unsigned long>(protectionBefore[place]), static_cast<unsigned long>(protectionAt(at)));
    if (!expectPatched[place]) {
      check(std::memcmp(at, snapshot[place], kSnapshotBytes) == 0, "%s: left as the host wrote it", name);
      continue;
    }
    targets[place] = place == kPlaceViewCopy ? checkCallSitePatch(at) : checkEntryPatch(place, at);
    check(restUnchanged(place, at), "%s: the host's bytes after the patch are unchanged", name);
  }
  for (size_t a = 0; a < kPlaceCount; ++a)
    for (size_t b = a + 1; b < kPlaceCount; ++b)
      if (targets[a] != 0 && targets[b] != 0)
        check(targets[a] != targets[b], "%s and %s lead to different hook bodies", kPlaces[a].name, kPlaces[b].name);
}

LONG WINAPI reportFault(EXCEPTION_POINTERS* info) {
  std::printf("FAIL: exception 0x%08lX at %p while calling %s\n",
              static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode), info->ExceptionRecord->ExceptionAddress,
              currentPlace);
  std::printf("stand-in drive: FAIL\n");
  std::fflush(stdout);
  return EXCEPTION_EXECUTE_HANDLER;
}

// Parses "--expect-patched LIST"; false when the option is absent.
bool expectedPatches(int argc, wchar_t** argv, bool expectPatched[kPlaceCount], bool* valid) {
  *valid = true;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::wcscmp(argv[i], L"--expect-patched") != 0) continue;
    wchar_t list[256];
    std::wcsncpy(list, argv[i + 1], 255);
    list[255] = 0;
    if (std::wcscmp(list, L"none") == 0) return true;
    for (wchar_t* name = list; name != nullptr && *name != 0;) {
      wchar_t* comma = std::wcschr(name, L',');
      if (comma != nullptr) *comma = 0;
      const int place = placeIndex(name);
      if (place < 0) {
        std::printf("unknown place %ls\n", name);
        *valid = false;
      } else {
        expectPatched[place] = true;
      }
      name = comma != nullptr ? comma + 1 : nullptr;
    }
    return true;
  }
  return false;
}

}  // namespace

void check(bool ok, const char* format, ...) {
  ++checks;
  if (ok) return;
  ++failures;
  std::va_list args;
  va_start(args, format);
  std::printf("FAIL: ");
  std::vprintf(format, args);
  std::printf("\n");
  va_end(args);
  std::fflush(stdout);
}

void enterPlace(const char* what) { currentPlace = what; }

extern "C" __declspec(dllexport) int corvaneStandInBuild(uint8_t* base, int argc, wchar_t** argv) {
  imageBase = base;
  buildStandInHost(base);
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::wcscmp(argv[i], L"--corrupt-site") != 0) continue;
    const int place = placeIndex(argv[i + 1]);
    if (place < 0) {
      std::printf("unknown place %ls\n", argv[i + 1]);
      return 2;
    }
    corrupted[place] = true;
    base[kPlaces[place].rva + kPlaces[place].length - 1] ^= 0x01;
  }
  if (!applyConsoleOption(argc, argv)) return 2;
  if (!protectStandInImage(base, [](void* address, size_t size, uint32_t protection) {
        DWORD old = 0;
        return VirtualProtect(address, size, protection, &old) != FALSE;
      })) {
    std::printf("cannot protect the image as the game's is\n");
    return 2;
  }
  for (size_t place = 0; place < kPlaceCount; ++place) {
    std::memcpy(snapshot[place], base + kPlaces[place].rva, kSnapshotBytes);
    protectionBefore[place] = protectionAt(base + kPlaces[place].rva);
  }
  if (!startThreadsAtTheEntries(argc, argv)) return 2;
  return 0;
}

extern "C" __declspec(dllexport) int corvaneStandInDrive(uint8_t* base, int argc, wchar_t** argv) {
  bool expectPatched[kPlaceCount] = {};
  bool valid = true;
  const bool places = expectedPatches(argc, argv, expectPatched, &valid);
  SceneOptions scene;
  if (!parseSceneOptions(argc, argv, &scene)) return 2;
  static ModelSceneOptions models;
  if (!parseModelSceneOptions(argc, argv, &models)) return 2;
  if (!places && scene.frames == 0 && models.frames == 0) return 0;
  if (!valid || base != imageBase) return 2;
  SetUnhandledExceptionFilter(reportFault);

  finishThreadsAtTheEntries();
  char driven[64] = "";
  char patched[64] = "";
  if (places) {
    checkPlaces(expectPatched);
    for (size_t place = 0; place < kPlaceCount; ++place) {
      if (corrupted[place]) continue;  // the host's own code there is broken; nobody can call it
      switch (place) {
        case kPlaceViewCopy: driveViewCopy(); break;
        case kPlaceGpuCopy: driveGpuCopy(); break;
        case kPlacePoseUpload: drivePoseUpload(); break;
        default: driveShadowBuild(place == kPlaceShadow0 ? 0 : 1); break;
      }
      std::strcat(driven, " ");
      std::strcat(driven, kPlaces[place].name);
    }
    enterPlace("nothing");
    for (size_t place = 0; place < kPlaceCount; ++place) {
      if (!expectPatched[place]) continue;
      std::strcat(patched, " ");
      std::strcat(patched, kPlaces[place].name);
    }
  }
  char sceneSummary[128] = "";
  if (scene.frames != 0) {
    if (corrupted[kPlaceViewCopy]) return 2;  // nobody can call a broken call site
    driveScene(scene, sceneSummary, sizeof sceneSummary);
  }
  char modelsSummary[256] = "";
  if (models.frames != 0) {
    if (corrupted[kPlaceViewCopy]) return 2;
    driveModelScene(models, modelsSummary, sizeof modelsSummary);
  }

  std::printf("stand-in drive: %s, %d checks, %d failed", failures == 0 ? "PASS" : "FAIL", checks, failures);
  if (places) std::printf(" (patched:%s; driven:%s)", patched[0] ? patched : " none", driven[0] ? driven : " none");
  if (scene.frames != 0) std::printf(" (%s)", sceneSummary);
  if (models.frames != 0) std::printf(" (%s)", modelsSummary);
  std::printf("\n");
  std::fflush(stdout);
  return failures == 0 ? 0 : 1;
}
