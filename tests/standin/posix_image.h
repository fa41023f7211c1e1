// Native only: memory for the stand-in image.
#pragma once
#include <cstdint>

// A fresh kStandInImageSize region, readable, writable and executable, zero
// filled and page aligned; null on failure.
uint8_t* mapStandInImage();
void unmapStandInImage(uint8_t* base);
