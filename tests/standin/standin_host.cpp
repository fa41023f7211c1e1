#include "tests/standin/standin_host.h"

#include "tests/standin/standin_clock.h"
#include "tests/standin/standin_parts.h"

StandInHost standInHost;

void buildStandInHost(uint8_t* base) {
  standInHost.base = base;
  standInHost.viewCopy.clear();
  standInHost.gpuCopy.clear();
  standInHost.poseUpload.clear();
  standInHost.shadowBuild[0].clear();
  standInHost.shadowBuild[1].clear();
  standInHost.gpuCopyBehaviour = nullptr;
  standInHost.poseUploadBehaviour = nullptr;
  standInHost.shadowBuildBehaviour = nullptr;
  writeViewCopyStandIn(base);
  writeGpuCopyStandIn(base);
  writePoseUploadStandIn(base);
  writeShadowBuildStandIns(base);
  // No clock until a scene starts one; every console variable at 0.
  stopStandInClock();
  setStandInConsoleValues({0, 0, 0});
}

bool protectStandInImage(uint8_t* base, bool (*protect)(void* address, size_t size, uint32_t protection)) {
  constexpr uint64_t kPage = 4096;
  constexpr uint64_t kCodeAfterEntry = 64;
  const uint64_t code[] = {kStandInViewCopyRva,   kStandInViewCopyCallerRva, kStandInGpuCopyRva,
                           kStandInPoseUploadRva, kStandInShadowBuildRva[0], kStandInShadowBuildRva[1]};
  // From the page of the lowest RVA the game's image is used at: below it lie
  // the executable's own sections.
  const uint64_t lowest = kStandInViewCopyRva & ~(kPage - 1);
  bool ok = protect(base + lowest, kStandInImageSize - lowest, corvane::os::kPageReadWrite);
  for (const uint64_t rva : code) {
    const uint64_t first = rva & ~(kPage - 1);
    const uint64_t end = (rva + kCodeAfterEntry + kPage - 1) & ~(kPage - 1);
    ok = protect(base + first, end - first, corvane::os::kPageExecuteRead) && ok;
  }
  return ok;
}
