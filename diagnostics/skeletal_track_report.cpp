// Skeletal and ownerless skeletal track report lines.
#include "diagnostics/track_reports.h"

void reportSkeletalTrackLines(const PresentationFrame&) {}
void reportOwnerlessTrackLines(const PresentationFrame&) {}
