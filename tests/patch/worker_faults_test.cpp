// The whole install sequence against operating-system faults injected through
// the platform seam: which sites end up patched, which installers still run,
// and where the lines go when the library's folder is lost.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "bootstrap/host_interface.h"
#include "bootstrap/install.h"
#include "bootstrap/log.h"
#include "patch/hooks.h"
#include "tests/patch/standin_fixture.h"

namespace {

using Lines = std::vector<std::string>;

bool expectedDigest(const wchar_t*, uint8_t digest[32]) {
  std::memcpy(digest, expectedHostDigest, 32);
  return true;
}

constexpr const char* kEverySwitchOn =
    "[Fix]\nStabilizeFirstPersonHands=1\n[Interpolation]\nWorldTransforms=1\nShadowTransforms=1\n"
    "WorldSkeletons=1\n";

int allocationsSeen = 0;
int refusedAllocation = 0;  // 1-based number of the refused allocation; 0: none
void* countedAllocate(void* address, size_t size) {
  if (++allocationsSeen == refusedAllocation) return nullptr;
  return defaultPlatform().allocatePages(address, size);
}

size_t refusedProtectionSize = 0;
bool selectiveProtect(void* address, size_t size, uint32_t protection, uint32_t* previous) {
  if (size == refusedProtectionSize) return false;
  return defaultPlatform().protectPages(address, size, protection, previous);
}

// Two other threads through the seam. At the n-th hold (1: the GPU copy, 2: the
// pose upload, 3: the shadow entries) thread 1 stands 5 bytes into that entry
// (entry 1 for the shadows), thread 2 at its first byte; thread 2 cannot be
// suspended at hold number `refusedHold`.
uint8_t* heldEntries[4];
int holds = 0, refusedHold = 0, threadsSuspended = 0, threadsOpen = 0;
std::vector<uintptr_t> moves;
void useFakeThreads(uint8_t* base) {
  heldEntries[1] = base + patchSites[kGpuCopySite].rva;
  heldEntries[2] = base + patchSites[kPoseUploadSite].rva;
  heldEntries[3] = base + patchSites[kShadowBuild1Site].rva;
  holds = refusedHold = threadsSuspended = threadsOpen = 0;
  moves.clear();
  platform.openOtherThreads = [](void** threads, uint32_t, uint32_t* count) {
    ++holds;
    threads[0] = reinterpret_cast<void*>(1);
    threads[1] = reinterpret_cast<void*>(2);
    threadsOpen += * count = 2;
    return true;
  };
  platform.suspendThread = [](void* thread) {
    if (thread == reinterpret_cast<void*>(2) && holds == refusedHold) return false;
    return ++threadsSuspended, true;
  };
  platform.resumeThread = [](void*) { --threadsSuspended; };
  platform.closeThread = [](void*) { --threadsOpen; };
  platform.threadInstructionPointer = [](void* thread, uintptr_t* address) {
    *address = reinterpret_cast<uintptr_t>(heldEntries[holds]) + (thread == reinterpret_cast<void*>(1) ? 5 : 0);
    return true;
  };
  platform.setThreadInstructionPointer = [](void*, uintptr_t address) { return moves.push_back(address), true; };
}

Lines debuggerLines;
std::string debuggerPending;
void recordDebugger(const char* text) {
  if (std::strcmp(text, "\n") == 0) {
    debuggerLines.push_back(debuggerPending);
    debuggerPending.clear();
  } else {
    debuggerPending += text;
  }
}

class WorkerFaults : public StandInHostTest {
 protected:
  void SetUp() override {
    StandInHostTest::SetUp();
    settings = Settings{};  // the worker reads them from corvane.ini
    writeIni(kEverySwitchOn);
    platform.hashFileSha256 = expectedDigest;
    platform.allocatePages = countedAllocate;
    platform.protectPages = selectiveProtect;
    allocationsSeen = refusedAllocation = 0;
    refusedProtectionSize = 0;
    debuggerLines.clear();
    debuggerPending.clear();
    platform.debugOutput = recordDebugger;
    before = snapshot();
  }
  // Which of the five sites differ from the host's original bytes.
  std::array<bool, kPatchSiteCount> patched() const {
    const SiteSnapshot now = snapshot();
    std::array<bool, kPatchSiteCount> result{};
    for (size_t i = 0; i < kPatchSiteCount; ++i) result[i] = now[i] != before[i];
    return result;
  }
  static std::string configurationLine(const Lines& lines) { return lines.empty() ? "" : lines[0]; }
  SiteSnapshot before;
};

using Patched = std::array<bool, kPatchSiteCount>;

TEST_F(WorkerFaults, CameraRelayRefusedLeavesEverySiteAndRunsNoLaterInstaller) {
  platform.queryRegion = [](const void*, MemoryRegion*) { return false; };
  installWorker(nullptr);
  const Lines lines = log();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "Unable to allocate a relay within rel32 range; patch not installed.");
  EXPECT_EQ(patched(), (Patched{false, false, false, false, false}));
  EXPECT_EQ(gpuCopyTrampoline.load(), nullptr);
  EXPECT_EQ(poseUploadTrampoline.load(), nullptr);
  EXPECT_EQ(shadowTrampolines[0].load(), nullptr);
}

TEST_F(WorkerFaults, CameraSiteProtectionRefusedLeavesEverySite) {
  refusedProtectionSize = 5;
  installWorker(nullptr);
  const Lines lines = log();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "VirtualProtect failed at the view-copy call site; patch not installed.");
  EXPECT_EQ(patched(), (Patched{false, false, false, false, false}));
}

TEST_F(WorkerFaults, GpuCopyTrampolineRefusedStillInstallsTheRest) {
  refusedAllocation = 2;  // the relay is the first page, the GPU-copy trampoline the second
  installWorker(nullptr);
  const Lines lines = log();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], "Unable to allocate the renderer GPU-copy trampoline; hands stabilization was not installed.");
  EXPECT_EQ(lines[3].rfind("Installed experimental skeletal hook at pose-upload RVA 0x2D0C80", 0), 0u) << lines[3];
  EXPECT_EQ(lines[4].rfind("Installed coherent renderer-only shadow caster-list proxies", 0), 0u) << lines[4];
  EXPECT_EQ(patched(), (Patched{true, false, true, true, true}));
  EXPECT_EQ(gpuCopyInstalled.load(), nullptr);
  EXPECT_NE(poseUploadInstalled.load(), nullptr);
}

TEST_F(WorkerFaults, PoseUploadProtectionRefusedStillInstallsShadows) {
  refusedProtectionSize = 17;
  installWorker(nullptr);
  const Lines lines = log();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3],
            "VirtualProtect failed at the skinned-pose upload boundary; skeletal interpolation was not "
            "installed.");
  EXPECT_EQ(patched(), (Patched{true, true, false, true, true}));
}

TEST_F(WorkerFaults, ShadowSpanProtectionRefusedKeepsTheEarlierPatches) {
  refusedProtectionSize = 2367;
  installWorker(nullptr);
  const Lines lines = log();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[4], "VirtualProtect failed for shadow caster-build entries; shadow transforms were not installed.");
  EXPECT_EQ(patched(), (Patched{true, true, true, false, false}));
  EXPECT_EQ(shadowTrampolines[0].load(), nullptr);
  EXPECT_EQ(shadowTrampolines[1].load(), nullptr);
}

TEST_F(WorkerFaults, ThreadsInsideAnEntryContinueInItsTrampoline) {
  useFakeThreads(base);
  installWorker(nullptr);
  EXPECT_EQ(patched(), (Patched{true, true, true, true, true}));
  const std::array<const void*, 3> trampolines = {reinterpret_cast<const void*>(gpuCopyTrampoline.load()),
                                                  reinterpret_cast<const void*>(poseUploadTrampoline.load()),
                                                  shadowTrampolines[1].load()};
  const size_t sites[3] = {kGpuCopySite, kPoseUploadSite, kShadowBuild1Site};
  ASSERT_EQ(moves.size(), 3u) << "only the thread past the first byte moves";
  for (size_t i = 0; i < 3; ++i) {
    const auto* trampoline = static_cast<const uint8_t*>(trampolines[i]);
    EXPECT_EQ(moves[i], reinterpret_cast<uintptr_t>(trampoline) + 5);
    // The same instructions stand there as stood at the entry.
    EXPECT_EQ(std::memcmp(trampoline + 5, before[sites[i]].data() + 5, patchSites[sites[i]].length - 5), 0);
  }
  EXPECT_EQ(threadsSuspended, 0);
  EXPECT_EQ(threadsOpen, 0);
}

TEST_F(WorkerFaults, AThreadThatCannotBeSuspendedRefusesOnlyThatEntry) {
  const struct {
    int hold;
    size_t line;
    const char* text;
    Patched patched;
  } rows[] = {
      {1,
       2,
       "VirtualProtect failed at the renderer GPU-copy boundary; renderer model features were not installed.",
       {true, false, true, true, true}},
      {2,
       3,
       "VirtualProtect failed at the skinned-pose upload boundary; skeletal interpolation was not installed.",
       {true, true, false, true, true}},
      {3,
       4,
       "VirtualProtect failed for shadow caster-build entries; shadow transforms were not installed.",
       {true, true, true, false, false}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.hold);
    TearDown();
    SetUp();
    useFakeThreads(base);
    refusedHold = row.hold;
    installWorker(nullptr);
    const Lines lines = log();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[row.line], row.text);
    EXPECT_EQ(patched(), row.patched);
    EXPECT_EQ(threadsSuspended, 0);
    EXPECT_EQ(threadsOpen, 0);
  }
}

TEST_F(WorkerFaults, RefusedTelemetryMappingStillPatchesEverySite) {
  writeIni(std::string(kEverySwitchOn) + "[Diagnostics]\nTelemetry=1\n");
  platform.createSharedMapping = [](const wchar_t*, uint32_t, uint32_t* error) -> void* {
    *error = 1450;
    return nullptr;
  };
  installWorker(nullptr);
  const Lines lines = log();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[1], "Unable to create the camera telemetry mapping (Win32 1450).");
  EXPECT_EQ(patched(), (Patched{true, true, true, true, true}));
  EXPECT_EQ(telemetryView, nullptr);
}

// The folder is removed after the first line reached the file: later lines
// reach the debugger only, the install goes on, and once the folder is back
// the file takes lines again.
TEST_F(WorkerFaults, LogFolderVanishingBetweenLines) {
  static std::string folder;
  folder = libraryDirectory();
  static int appends;
  appends = 0;
  platform.appendToFile = [](const wchar_t* path, const char* data, size_t length) {
    const bool written = defaultPlatform().appendToFile(path, data, length);
    if (++appends == 1) {
      std::remove((folder + "/corvane.log").c_str());
      std::remove((folder + "/corvane.ini").c_str());
      rmdir(folder.c_str());
    }
    return written;
  };
  installWorker(nullptr);
  EXPECT_EQ(appends, 5);
  ASSERT_EQ(debuggerLines.size(), 5u);
  EXPECT_EQ(debuggerLines[1].rfind("Installed Dishonored 2 high-FPS camera hook", 0), 0u);
  EXPECT_EQ(patched(), (Patched{true, true, true, true, true}));
  struct stat info;
  EXPECT_NE(stat(folder.c_str(), &info), 0);  // nothing recreated the folder

  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  LogMessage("After the folder came back.");
  EXPECT_EQ(log(), Lines{"After the folder came back."});
}

// Without the library's own path neither the settings file nor the log can be
// found: defaults apply, the lines reach the debugger, and the install goes on.
TEST_F(WorkerFaults, OwnPathUnavailableUsesDefaultsAndTheDebuggerOnly) {
  static int iniReads;
  iniReads = 0;
  platform.readIniInt = [](const wchar_t* section, const wchar_t* key, int fallback, const wchar_t* path) {
    ++iniReads;
    return defaultPlatform().readIniInt(section, key, fallback, path);
  };
  writeIni("[Fix]\nStabilizeMouseSensitivity=0\n");
  platform.moduleFileName = [](void* module, wchar_t* buffer, uint32_t capacity) -> uint32_t {
    return module == nullptr ? defaultPlatform().moduleFileName(module, buffer, capacity) : 0;
  };
  installWorker(nullptr);
  EXPECT_EQ(iniReads, 0);
  EXPECT_EQ(settings.stabilizeMouseSensitivity, 1);  // the default, not the file's 0
  EXPECT_EQ(settings.worldTransforms, 0);
  EXPECT_TRUE(log().empty());
  ASSERT_EQ(debuggerLines.size(), 5u);
  EXPECT_EQ(debuggerLines[0].rfind("Configuration: ", 0), 0u) << debuggerLines[0];
  EXPECT_EQ(debuggerLines[2], "Renderer model GPU-copy features are disabled by configuration.");
  EXPECT_EQ(patched(), (Patched{true, false, false, false, false}));
}

}  // namespace
