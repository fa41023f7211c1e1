// Shared fixture of the skeletal tests: a stand-in host, all three skeletal
// switches on, empty tables, and a hook call that checks what the host must
// find in its record afterwards.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bootstrap/host_interface.h"
#include "bootstrap/settings.h"
#include "camera/frame_state.h"
#include "diagnostics/counters.h"
#include "patch/hooks.h"
#include "skeletal/palette_interpolation.h"
#include "skeletal/pose_upload_hook.h"
#include "skeletal/skeletal_tracks.h"
#include "skeletal/test_seam.h"
#include "tests/support/reference.h"
#include "tests/support/library_dir.h"
#include "tests/support/skinned_host.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::diagnostics;
using namespace corvane::math;
using namespace corvane::os;
using namespace corvane::skeletal;

inline SkeletalCounters& sk() { return counters.skeletal; }

// A pose whose joints turn by `phase` degrees and move by phase / 10 units.
inline void writePose(Matrix3x4* palette, uint32_t count, double phase) {
  for (uint32_t j = 0; j < count; ++j)
    palette[j] = rigidJoint(1.0, 0.3 * j, 0.5, 7.0 * j + phase, j, 0.5 * j + phase / 10.0, -double(j));
}

struct HookOutcome {
  uint64_t result;
  bool substituted;  // the host read another palette than its own
};

class SkeletalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setUpSkinnedHost();
    useFreshLibraryDirectory();
    resetSkeletalTablesForTests();
    resetPoseUploadOnceFlagsForTests();
    settings = Settings{};
    settings.firstPersonSkeletons = 1;
    settings.worldSkeletons = 1;
    settings.cinematicSkeletons = 1;
    uploadLog().declineAll = false;
    clearUploadLog();
  }

  static PresentationFrame frame(double presentationTime, double sampleTime) {
    return publishPresentationFrame(presentationTime, sampleTime, true);
  }

  // Calls the hook and checks that the record holds what the host alone would
  // have left in it, and that the host's palette bytes were not written.
  static HookOutcome callHook(uint8_t* record, uint64_t value = 41) {
    Matrix3x4* hostPalette = recordPalette(record);
    std::vector<Matrix3x4> before(hostPalette, hostPalette + 256);
    std::vector<uint8_t> alone(record, record + kSkinnedModelRecordLength);
    simulateHostUpload(alone.data(), value);
    clearUploadLog();
    HookOutcome outcome;
    outcome.result = PoseUploadHook(record, value);
    EXPECT_EQ(recordPalette(record), hostPalette);
    EXPECT_EQ(recordPending(record), recordPending(alone.data()));
    EXPECT_EQ(recordFlags(record), recordFlags(alone.data()));
    EXPECT_EQ(std::memcmp(before.data(), hostPalette, before.size() * sizeof(Matrix3x4)), 0);
    EXPECT_EQ(uploadLog().valueSeen, value);
    outcome.substituted = uploadLog().calls > 0 && uploadLog().paletteSeen[0] != hostPalette;
    return outcome;
  }

  // The palette the host received equals the blend of `from` and `to` at
  // `alpha` on the first `joints` entries and the host's own entries after.
  static void expectReceivedBlend(const std::vector<Matrix3x4>& from, const std::vector<Matrix3x4>& to,
                                  const Matrix3x4* host, uint32_t joints, uint32_t padded, long double alpha) {
    const UploadLog& log = uploadLog();
    ASSERT_EQ(log.accepted, 1);
    ASSERT_EQ(log.receivedCount, padded);
    for (uint32_t j = 0; j < joints; ++j) {
      const Matrix3x4 expected = ref::blend(from[j], to[j], alpha);
      for (int e = 0; e < 12; ++e)
        ASSERT_NEAR(log.received[j].m[e], expected.m[e], 2e-5) << "joint " << j << " element " << e;
    }
    for (uint32_t j = joints; j < padded; ++j)
      EXPECT_EQ(std::memcmp(&log.received[j], &host[j], sizeof(Matrix3x4)), 0) << "padding entry " << j;
  }

  static SkeletalTrack* trackOf(const uint8_t* record, const void* ownerKey) {
    ExclusiveGuard guard(skeletalTableLock);
    return findSkeletalTrack(record, ownerKey, latestPresentationSerial.load(), false);
  }
};

inline const void* recordOwner(const uint8_t* record) {
  const void* owner;
  std::memcpy(&owner, record + kModelOwnerOffset, sizeof owner);
  return owner;
}
inline const void* recordAsset(const uint8_t* record) {
  const void* asset;
  std::memcpy(&asset, record + kModelAssetOffset, sizeof asset);
  return asset;
}
