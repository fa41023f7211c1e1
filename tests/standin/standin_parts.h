// The parts of the stand-in image, one per host function it stands for.
#pragma once
#include <cstdint>

void writeViewCopyStandIn(uint8_t* base);
void writeGpuCopyStandIn(uint8_t* base);
void writePoseUploadStandIn(uint8_t* base);
void writeShadowBuildStandIns(uint8_t* base);
