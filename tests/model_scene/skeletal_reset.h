// The skeletal side's test resets, kept apart: its headers and the world's
// both name the staleness constant, so no one file includes both.
#pragma once

void resetSkeletalStateForSceneTests();
