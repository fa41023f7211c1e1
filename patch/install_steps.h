// Steps shared by the installers.
#pragma once
#include <cstdint>

#include "patch/patch_sites.h"

namespace corvane::patch {

uint8_t* siteAddress(const PatchSite& site);
// True when the host holds the site's expected bytes.
bool siteMatches(const PatchSite& site);
// Commits a page of its own anywhere, writes the site's trampoline into it and
// flushes it. Null when the page is refused.
void* allocateTrampoline(const PatchSite& site);
void releaseStub(void* stub);

}  // namespace corvane::patch
