#include "tests/model_scene/skeletal_reset.h"

#include "skeletal/pose_upload_hook.h"
#include "skeletal/skeletal_tracks.h"

void resetSkeletalStateForSceneTests() {
  resetSkeletalTablesForTests();
  resetPoseUploadOnceFlagsForTests();
}
