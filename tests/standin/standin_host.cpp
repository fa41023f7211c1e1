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
