#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <fstream>

#include "bootstrap/host_interface.h"
#include "bootstrap/install.h"
#include "bootstrap/settings.h"
#include "camera/telemetry.h"
#include "platform/platform.h"
#include "tests/support/library_dir.h"

using namespace corvane::bootstrap;
using namespace corvane::os;

namespace {

// A host image big enough for the view-copy call site.
uint8_t* fakeImage() {
  static uint8_t* image = [] {
    void* p = mmap(nullptr, kViewCopyCallSiteRva + 0x1000, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return static_cast<uint8_t*>(p);
  }();
  return image;
}

uint8_t* imageForWorker = nullptr;
int hashCalls = 0;
int mappingCalls = 0;
int closedMappings = 0;
uint32_t hashResult = 1;  // 0: fails, 1: expected digest, 2: another digest

bool fakeHash(const wchar_t*, uint8_t digest[32]) {
  ++hashCalls;
  if (hashResult == 0) return false;
  std::memcpy(digest, expectedHostDigest, 32);
  if (hashResult == 2) digest[31] ^= 1;
  return true;
}

class InstallWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetPlatform();
    useFreshLibraryDirectory();
    settings = Settings{};
    telemetryView = nullptr;
    telemetryMapping = nullptr;
    hashCalls = mappingCalls = closedMappings = 0;
    hashResult = 1;
    imageForWorker = fakeImage();
    std::memcpy(imageForWorker + kViewCopyCallSiteRva, kViewCopyCallSiteBytes, 5);
    platform.mainModule = [] { return static_cast<void*>(imageForWorker); };
    platform.hashFileSha256 = fakeHash;
  }
  void TearDown() override {
    resetPlatform();
    hostBase = nullptr;
  }
  std::vector<std::string> run() {
    installWorker(nullptr);
    return readLogLines();
  }
};

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

TEST_F(InstallWorkerTest, MissingHostBaseEndsSilently) {
  platform.mainModule = [] { return static_cast<void*>(nullptr); };
  EXPECT_TRUE(run().empty());
  EXPECT_EQ(hashCalls, 0);
}

PlatformOps withLibraryDirectory;

TEST_F(InstallWorkerTest, ExecutablePathFailureLogsOnlyItsLine) {
  withLibraryDirectory = platform;
  platform.moduleFileName = [](void* module, wchar_t* buffer, uint32_t capacity) -> uint32_t {
    return module == nullptr ? 0 : withLibraryDirectory.moduleFileName(module, buffer, capacity);
  };
  EXPECT_EQ(run(), std::vector<std::string>{"Unable to obtain the executable path; patch not installed."});
  EXPECT_EQ(hashCalls, 0);
}

TEST_F(InstallWorkerTest, HashFailureStopsBeforeSettings) {
  hashResult = 0;
  EXPECT_EQ(run(), std::vector<std::string>{"Unable to hash Dishonored2.exe; patch not installed."});
}

TEST_F(InstallWorkerTest, DigestMismatchIsRefused) {
  hashResult = 2;
  EXPECT_EQ(run(),
            std::vector<std::string>{"Dishonored2.exe SHA-256 does not match GOG 1.77.9.0; patch not installed."});
  EXPECT_EQ(settings.stabilizeMouseSensitivity, 0);  // settings never read
}

TEST_F(InstallWorkerTest, CallSitePatchedBySomethingElseIsRefused) {
  imageForWorker[kViewCopyCallSiteRva + 2] = 0x90;
  EXPECT_EQ(run(), std::vector<std::string>{"View-copy call-site bytes do not match; patch not installed."});
}

TEST_F(InstallWorkerTest, VerifiedHostReadsSettingsThenInstalls) {
  std::vector<std::string> lines = run();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_TRUE(startsWith(lines[0], "Configuration: UnlockAbove120=0, StabilizeMouseSensitivity=1,")) << lines[0];
  EXPECT_EQ(hostBase, imageForWorker);
  EXPECT_EQ(telemetryView, nullptr);  // Telemetry off: no block
}

TEST_F(InstallWorkerTest, TelemetryBlockIsCreatedWithItsHeader) {
  writeIni("[Diagnostics]\nTelemetry=1\n");
  platform.currentProcessId = [] { return 4242u; };
  static std::wstring requestedName;
  platform.createSharedMapping = [](const wchar_t* name, uint32_t size, uint32_t* error) -> void* {
    requestedName = name;
    ++mappingCalls;
    return defaultPlatform().createSharedMapping(name, size, error);
  };
  run();
  EXPECT_EQ(requestedName, L"Local\\CorvaneTelemetry-4242");
  ASSERT_NE(telemetryView, nullptr);
  EXPECT_EQ(telemetryView->sequence, 0u);
  EXPECT_EQ(telemetryView->version, 1u);
  EXPECT_EQ(telemetryView->size, 144u);
  EXPECT_EQ(telemetryView->enabled, 0u);
  munmap(telemetryView, telemetryView->size);
  defaultPlatform().closeSharedMapping(telemetryMapping);
}

TEST_F(InstallWorkerTest, RefusedMappingIsLoggedAndInstallGoesOn) {
  writeIni("[Diagnostics]\nTelemetry=1\n");
  platform.createSharedMapping = [](const wchar_t*, uint32_t, uint32_t* error) -> void* {
    *error = 5;
    return nullptr;
  };
  std::vector<std::string> lines = run();
  ASSERT_GE(lines.size(), 3u);  // configuration, telemetry, and the camera installer's own line
  EXPECT_EQ(lines[1], "Unable to create the camera telemetry mapping (Win32 5).");
  EXPECT_EQ(telemetryView, nullptr);
  EXPECT_EQ(telemetryMapping, nullptr);
}

TEST_F(InstallWorkerTest, UnmappableViewClosesTheMapping) {
  writeIni("[Diagnostics]\nTelemetry=1\n");
  static int sentinel;
  platform.createSharedMapping = [](const wchar_t*, uint32_t, uint32_t*) -> void* { return &sentinel; };
  platform.mapSharedView = [](void*, uint32_t, uint32_t* error) -> void* {
    *error = 8;
    return nullptr;
  };
  platform.closeSharedMapping = [](void* mapping) { closedMappings += mapping == &sentinel; };
  std::vector<std::string> lines = run();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "Unable to map the camera telemetry block (Win32 8).");
  EXPECT_EQ(closedMappings, 1);
  EXPECT_EQ(telemetryMapping, nullptr);
}

TEST(MappingName, IsTheProcessIdInDecimal) {
  wchar_t name[kMappingNameCapacity];
  formatTelemetryMappingName(4242, name);
  EXPECT_STREQ(name, L"Local\\CorvaneTelemetry-4242");
  formatTelemetryMappingName(4294967295u, name);
  EXPECT_STREQ(name, L"Local\\CorvaneTelemetry-4294967295");
  formatTelemetryMappingName(0, name);
  EXPECT_STREQ(name, L"Local\\CorvaneTelemetry-0");
}

int threadsStarted = 0;

TEST(DllAttach, StartsOneWorkerAndIgnoresOtherReasons) {
  resetPlatform();
  platform.startThread = [](ThreadProc) {
    ++threadsStarted;
    return true;
  };
  workerStarted.store(0);
  int module = 0;
  for (uint32_t reason : {0u, 2u, 3u}) EXPECT_TRUE(dllAttach(&module, reason));
  EXPECT_EQ(threadsStarted, 0);
  EXPECT_EQ(ownModule == &module, false);
  EXPECT_TRUE(dllAttach(&module, kProcessAttach));
  EXPECT_TRUE(dllAttach(&module, kProcessAttach));
  EXPECT_EQ(threadsStarted, 1);
  EXPECT_EQ(ownModule, &module);
  resetPlatform();
}

}  // namespace
