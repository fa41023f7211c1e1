#include "world/rewrite.h"

#include <cstring>

#include "math/transform.h"

namespace corvane::world {

using math::notFiniteLanes;
using math::rewriteSlotForms;
using math::SlotForms;

namespace {

bool isFinite(const SlotForms& forms) {
  const __m128i notFinite = _mm_or_si128(_mm_or_si128(notFiniteLanes(forms.world), notFiniteLanes(forms.inverse)),
                                         _mm_or_si128(notFiniteLanes(forms.derived1), notFiniteLanes(forms.derived2)));
  return _mm_movemask_epi8(notFinite) == 0;
}

}  // namespace

bool rewriteSlotGroup(uint8_t* recordCopy, uint64_t worldOffset, uint64_t inverseOffset, uint64_t derived1Offset,
                      uint64_t derived2Offset, const Matrix4x4& forward, const Matrix4x4& inverse) {
  SlotForms forms;
  std::memcpy(&forms.world, recordCopy + worldOffset, sizeof forms.world);
  std::memcpy(&forms.inverse, recordCopy + inverseOffset, sizeof forms.inverse);
  std::memcpy(&forms.derived1, recordCopy + derived1Offset, sizeof forms.derived1);
  std::memcpy(&forms.derived2, recordCopy + derived2Offset, sizeof forms.derived2);
  // W' = F*W, V' = V*G, and the step from the host's world matrix to the
  // corrected one, V*W', on the model side of each derived form.
  rewriteSlotForms(forward, inverse, forms, &forms);
  // One test covers the host's forms too: every entry of W, V and a derived
  // form is a term of some sum of W', V' or the derived form's rewrite, and a
  // sum with an infinite or NaN term is itself infinite or NaN.
  if (!isFinite(forms)) return false;
  std::memcpy(recordCopy + worldOffset, &forms.world, sizeof forms.world);
  std::memcpy(recordCopy + inverseOffset, &forms.inverse, sizeof forms.inverse);
  std::memcpy(recordCopy + derived1Offset, &forms.derived1, sizeof forms.derived1);
  std::memcpy(recordCopy + derived2Offset, &forms.derived2, sizeof forms.derived2);
  return true;
}

}  // namespace corvane::world
