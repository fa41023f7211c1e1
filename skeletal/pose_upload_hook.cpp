#include "patch/hooks.h"

uint64_t CORVANE_HOSTCALL PoseUploadHook(uint8_t* record, uint64_t value) {
  return poseUploadTrampoline.load(std::memory_order_acquire)(record, value);
}
