// The GPU-parameter hook body itself is declared with the other hook bodies in
// patch/hooks.h; this is what else its file offers.
#pragma once

// Lets the once-only "Applied" lines of both paths be written again. Tests only.
void resetGpuCopyLogFlagsForTests();
