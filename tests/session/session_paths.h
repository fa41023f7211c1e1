// Closed-form paths of everything the session moves, so that the true pose at
// any clock value is known exactly. Poses are 4x4 matrices, row-major, acting
// on column vectors, translation in elements 3, 7 and 11 (as the game stores
// world transforms); the camera's axis vectors are the columns of its 3x3 part.
#pragma once
#include <cstdint>

struct PathPose {
  double m[16];
};

// What moves, and how.
enum PathKind : uint32_t {
  kPathCamera = 0,  // strafes 2 s, turns 180 degrees in 2 s, stands 1 s; then again the other way
  kPathHands,       // first-person hands: a fixed offset in the camera's frame
  kPathLine,        // constant velocity, fixed orientation
  kPathArc,         // circles at a constant angular speed, facing along the circle
  kPathDoor,        // swings about a vertical hinge 90 degrees open and back, once a second each way
  kPathMirrored,    // constant velocity with a mirrored (negative determinant) transform
  kPathScaled,      // constant velocity with a non-uniformly scaled transform
  kPathTeleport,    // constant velocity, and every second it jumps 400 units aside
  kPathSheared,     // constant velocity with a sheared transform (its y axis leans on its x axis)
  kPathJoint,       // a skeleton joint: constant velocity within its character
  kPathStill,       // stands still, placed and turned by its index
  kPathKindCount,
};

const char* pathKindName(PathKind kind);

// The kinds that world models cycle through, in order.
constexpr PathKind kWorldModelKinds[] = {kPathLine,   kPathArc,      kPathDoor,   kPathMirrored,
                                         kPathScaled, kPathTeleport, kPathSheared};
constexpr uint32_t kWorldModelKindCount = sizeof kWorldModelKinds / sizeof kWorldModelKinds[0];

// Pose of item `index` of `kind` at `elapsed` seconds since the session began.
// `index` spreads the items over the level and varies their speeds a little.
PathPose pathPose(PathKind kind, uint32_t index, double elapsed);

// The piece of the path that `elapsed` falls in. Inside one piece the motion
// is of one kind (constant velocity, constant turn, standing still); a pose
// pair from two pieces straddles a change of motion or a jump.
int64_t pathPiece(PathKind kind, uint32_t index, double elapsed);

// The camera's piece as a motion: 0 strafe, 1 turn, 2 stand.
int cameraMotion(double elapsed);

// Translation, speed at `elapsed` (units per second, by central difference of
// the closed form over a very short interval inside the piece).
void poseTranslation(const PathPose& pose, double out[3]);
double pathSpeed(PathKind kind, uint32_t index, double elapsed);

// Rotation angle between the 3x3 parts of two poses, in degrees, after
// removing each one's scale (column lengths); mirrored poses compare as they are.
double rotationDegreesBetween(const PathPose& a, const PathPose& b);
