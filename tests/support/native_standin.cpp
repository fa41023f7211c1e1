#include "tests/support/native_standin.h"

#include "bootstrap/host_interface.h"
#include "patch/test_seam.h"
#include "platform/platform.h"
#include "tests/standin/posix_image.h"
#include "tests/standin/standin_host.h"

using namespace corvane::bootstrap;
using namespace corvane::os;
using namespace corvane::patch;

namespace {
uint8_t* image = nullptr;
void* standInMainModule() { return image; }
}  // namespace

uint8_t* useNativeStandInHost() {
  if (image == nullptr) image = mapStandInImage();
  if (image == nullptr) return nullptr;
  buildStandInHost(image);
  hostBase = image;
  platform.mainModule = standInMainModule;
  resetHookPointersForTests();
  return image;
}
