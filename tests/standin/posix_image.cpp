#include "tests/standin/posix_image.h"

#include <sys/mman.h>

#include "tests/standin/standin_host.h"

uint8_t* mapStandInImage() {
  void* p = mmap(nullptr, kStandInImageSize, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
}

void unmapStandInImage(uint8_t* base) { munmap(base, kStandInImageSize); }
