// Native tests: the stand-in host in a mapped region of this process.
#pragma once
#include <cstdint>

// Maps the image once per test program, writes the stand-in host into it
// afresh (every patch site back to its original bytes), makes it the host
// (hostBase and platform.mainModule) and forgets every stub pointer of earlier
// installs. Returns the image base, or null when it cannot be mapped.
uint8_t* useNativeStandInHost();
