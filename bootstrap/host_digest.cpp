#include "bootstrap/host_interface.h"
#include "host_digest.h"

namespace corvane::bootstrap {

const uint8_t expectedHostDigest[32] = CORVANE_HOST_DIGEST_INITIALIZER;

}  // namespace corvane::bootstrap
