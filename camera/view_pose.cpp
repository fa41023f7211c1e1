#include "camera/view_pose.h"

#include <cstring>

#include "bootstrap/host_interface.h"

namespace corvane::camera {

using math::RigidTransform;

void readViewOrigin(const void* view, float origin[3]) {
  std::memcpy(origin, static_cast<const uint8_t*>(view) + bootstrap::kViewOriginOffset, 3 * sizeof(float));
}

void readViewAxes(const void* view, float axes[9]) {
  std::memcpy(axes, static_cast<const uint8_t*>(view) + bootstrap::kViewAxesOffset, 9 * sizeof(float));
}

RigidTransform captureViewPose(const void* view) {
  RigidTransform pose;
  float origin[3];
  readViewOrigin(view, origin);
  for (int i = 0; i < 3; ++i) pose.translation[i] = origin[i];
  readViewAxes(view, pose.rotation);
  return pose;
}

void writeViewPose(void* view, const RigidTransform& pose) {
  float origin[3];
  for (int i = 0; i < 3; ++i) origin[i] = static_cast<float>(pose.translation[i]);
  uint8_t* bytes = static_cast<uint8_t*>(view);
  std::memcpy(bytes + bootstrap::kViewOriginOffset, origin, sizeof origin);
  std::memcpy(bytes + bootstrap::kViewOriginCopyOffset, origin, sizeof origin);
  std::memcpy(bytes + bootstrap::kViewAxesOffset, pose.rotation, sizeof pose.rotation);
}

}  // namespace corvane::camera
