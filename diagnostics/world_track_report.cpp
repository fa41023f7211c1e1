// World, non-rigid world and observed-vtables report lines.
#include <cmath>
#include <cstdio>

#include "bootstrap/host_interface.h"
#include "bootstrap/log.h"
#include "diagnostics/track_reports.h"
#include "world/identify_model.h"
#include "world/world_tracks.h"

namespace corvane::diagnostics {

using bootstrap::LogMessage;
using os::ExclusiveGuard;
using world::WorldTrack;

namespace {

constexpr size_t kWorldTrackLines = 16;
constexpr size_t kNonRigidTrackLines = 8;

using ull = unsigned long long;

struct WorldTrackLine {
  const void* model;
  const void* owner;
  const void* asset;
  uint64_t vtableRva;
  uint64_t id;
  uint64_t firstSerial, firstMotionSerial, lastMotionSerial, lastCorrectionSerial;
  uint64_t motionDelta, correctedDelta;
  uint64_t motionCount, correctedCount;
  uint64_t discontinuities;
  float origin[3];
  bool reflected;
};

struct NonRigidTrackLine {
  const void* model;
  const void* owner;
  uint64_t id;
  uint64_t changeDelta, changeCount;
  bool currentRigid, previousRigid;
  uint64_t firstSerial, firstChangeSerial, lastChangeSerial;
  math::Matrix4x4 matrix;
};

bool changed(const WorldTrack& t) {
  return t.model != nullptr && (t.motionCount != t.reportedMotion || t.correctedCount != t.reportedCorrected);
}

// Which of the three selection passes lists a changed track.
int selectionPass(const WorldTrack& t) {
  const bool moved = t.motionCount != t.reportedMotion;
  const bool corrected = t.correctedCount != t.reportedCorrected;
  if (moved && !corrected) return 1;
  if (t.reflected && moved && corrected) return 2;
  return 3;
}

uint64_t vtableRvaOf(const void* classIdentity) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(classIdentity);
  const uintptr_t base = reinterpret_cast<uintptr_t>(bootstrap::hostBase);
  return value < base ? value : value - base;
}

WorldTrackLine takeWorldTrack(WorldTrack& t) {
  WorldTrackLine line;
  line.model = t.model;
  line.owner = t.ownerKey;
  line.asset = t.asset;
  line.vtableRva = vtableRvaOf(t.classIdentity);
  line.id = t.id;
  line.firstSerial = t.firstSerial;
  line.firstMotionSerial = t.firstMotionSerial;
  line.lastMotionSerial = t.lastMotionSerial;
  line.lastCorrectionSerial = t.lastCorrectionSerial;
  line.motionDelta = t.motionCount - t.reportedMotion;
  line.correctedDelta = t.correctedCount - t.reportedCorrected;
  line.motionCount = t.motionCount;
  line.correctedCount = t.correctedCount;
  line.discontinuities = t.discontinuities;
  line.origin[0] = t.currentMatrix.m[3];
  line.origin[1] = t.currentMatrix.m[7];
  line.origin[2] = t.currentMatrix.m[11];
  line.reflected = t.reflected;
  t.reportedMotion = t.motionCount;
  t.reportedCorrected = t.correctedCount;
  return line;
}

NonRigidTrackLine takeNonRigidTrack(world::NonRigidTrack& t) {
  NonRigidTrackLine line;
  line.model = t.model;
  line.owner = t.ownerKey;
  line.id = t.id;
  line.changeDelta = t.changeCount - t.reportedChanges;
  line.changeCount = t.changeCount;
  line.currentRigid = t.currentRigid;
  line.previousRigid = t.previousRigid;
  line.firstSerial = t.firstSerial;
  line.firstChangeSerial = t.firstChangeSerial;
  line.lastChangeSerial = t.lastChangeSerial;
  line.matrix = t.matrix;
  t.reportedChanges = t.changeCount;
  return line;
}

double length3(double x, double y, double z) { return std::sqrt(x * x + y * y + z * z); }
double dot3(const float* a, const float* b) {
  return static_cast<double>(a[0]) * b[0] + static_cast<double>(a[1]) * b[1] + static_cast<double>(a[2]) * b[2];
}

}  // namespace

void buildObservedVtablesText(char (&text)[kObservedVtablesTextCapacity + 1]) {
  size_t used = 0;
  text[0] = 0;
  for (const world::ObservedVtable& entry : world::observedVtables) {
    const uint64_t rva = entry.vtableRva.load(std::memory_order_acquire);
    const uint64_t count = entry.count.load(std::memory_order_relaxed);
    if (rva == 0 || count == 0) continue;
    if (used >= kObservedVtablesTextCapacity) break;
    const int n = std::snprintf(text + used, kObservedVtablesTextCapacity + 1 - used, "%s0x%llX:%llu",
                                used == 0 ? "" : ",", static_cast<ull>(rva), static_cast<ull>(count));
    if (n < 0) break;
    used += static_cast<size_t>(n);
    if (used > kObservedVtablesTextCapacity) used = kObservedVtablesTextCapacity;  // truncated
  }
}

void reportWorldTrackLines(const camera::PresentationFrame& frame) {
  WorldTrackLine lines[kWorldTrackLines];
  size_t listed = 0;
  uint64_t changedCount = 0;
  {
    ExclusiveGuard guard(world::worldTrackLock);
    listed = takeChangedLines(
        world::worldTrackTable, 3, [](const WorldTrack& t) { return changed(t) ? selectionPass(t) : 0; },
        takeWorldTrack, lines, &changedCount);
  }
  const ull serial = frame.presentationSerial;
  for (size_t i = 0; i < listed; ++i) {
    const WorldTrackLine& l = lines[i];
    LogMessage(
        "World track frame=%llu id=%llu model=%p owner=%p asset=%p vtableRva=0x%llX reflected=%u "
        "delta[motion=%llu corrected=%llu] total[motion=%llu corrected=%llu] serial[first=%llu firstMotion=%llu "
        "lastMotion=%llu lastCorrection=%llu] discontinuities=%llu origin=(%.3f,%.3f,%.3f).",
        serial, static_cast<ull>(l.id), l.model, l.owner, l.asset, static_cast<ull>(l.vtableRva), l.reflected ? 1u : 0u,
        static_cast<ull>(l.motionDelta), static_cast<ull>(l.correctedDelta), static_cast<ull>(l.motionCount),
        static_cast<ull>(l.correctedCount), static_cast<ull>(l.firstSerial), static_cast<ull>(l.firstMotionSerial),
        static_cast<ull>(l.lastMotionSerial), static_cast<ull>(l.lastCorrectionSerial),
        static_cast<ull>(l.discontinuities), l.origin[0], l.origin[1], l.origin[2]);
  }
  if (listed < changedCount) {
    LogMessage(
        "World track frame=%llu: reported %llu of %llu changed tracks; remaining tracks carry forward to the next "
        "diagnostic window.",
        serial, static_cast<ull>(listed), static_cast<ull>(changedCount));
  }
}

void reportNonRigidTrackLines(const camera::PresentationFrame& frame) {
  NonRigidTrackLine lines[kNonRigidTrackLines];
  size_t listed = 0;
  uint64_t changedCount = 0;
  {
    ExclusiveGuard guard(world::nonRigidTrackLock);
    const auto passOf = [](const world::NonRigidTrack& t) {
      return t.model != nullptr && t.changeCount != t.reportedChanges ? 1 : 0;
    };
    listed = takeChangedLines(world::nonRigidTable, 1, passOf, takeNonRigidTrack, lines, &changedCount);
  }
  const ull serial = frame.presentationSerial;
  for (size_t i = 0; i < listed; ++i) {
    const NonRigidTrackLine& l = lines[i];
    const float* m = l.matrix.m;
    const double rowLength[3] = {length3(m[0], m[1], m[2]), length3(m[4], m[5], m[6]), length3(m[8], m[9], m[10])};
    const double maxRowDot =
        std::fmax(std::fabs(dot3(m, m + 4)), std::fmax(std::fabs(dot3(m, m + 8)), std::fabs(dot3(m + 4, m + 8))));
    const float determinant =
        m[0] * (m[5] * m[10] - m[6] * m[9]) - m[1] * (m[4] * m[10] - m[6] * m[8]) + m[2] * (m[4] * m[9] - m[5] * m[8]);
    const double bottomError = std::fmax(std::fmax(std::fabs(static_cast<double>(m[12])), std::fabs(m[13])),
                                         std::fmax(std::fabs(m[14]), std::fabs(static_cast<double>(m[15]) - 1.0)));
    LogMessage(
        "Non-rigid world track frame=%llu id=%llu model=%p owner=%p deltaChanges=%llu totalChanges=%llu "
        "rigid[current=%u previous=%u] serial[first=%llu firstChange=%llu lastChange=%llu] origin=(%.3f,%.3f,%.3f) "
        "rowLength=(%.5f,%.5f,%.5f) maxRowDot=%.6f determinant=%.6f bottomError=%.6f.",
        serial, static_cast<ull>(l.id), l.model, l.owner, static_cast<ull>(l.changeDelta),
        static_cast<ull>(l.changeCount), l.currentRigid ? 1u : 0u, l.previousRigid ? 1u : 0u,
        static_cast<ull>(l.firstSerial), static_cast<ull>(l.firstChangeSerial), static_cast<ull>(l.lastChangeSerial),
        m[3], m[7], m[11], rowLength[0], rowLength[1], rowLength[2], maxRowDot, static_cast<double>(determinant),
        bottomError);
  }
  if (listed < changedCount) {
    LogMessage(
        "Non-rigid world track frame=%llu: reported %llu of %llu changed tracks; remaining tracks carry forward.",
        serial, static_cast<ull>(listed), static_cast<ull>(changedCount));
  }
}

}  // namespace corvane::diagnostics
