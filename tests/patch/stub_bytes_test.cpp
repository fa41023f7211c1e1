// The stubs and patches as bytes, against encodings written out by hand.
#include <gtest/gtest.h>

#include <vector>

#include "patch/hooks.h"
#include "patch/patch_sites.h"
#include "patch/stubs.h"

using namespace corvane::patch;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes littleEndian(uint64_t v) {
  Bytes out;
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes kGpuCopy = {0x48, 0x89, 0x5C, 0x24, 0x08, 0xF3, 0x0F, 0x11, 0x54, 0x24,
                        0x18, 0x57, 0x48, 0x81, 0xEC, 0xC0, 0x00, 0x00, 0x00};
const Bytes kPoseUpload = {0x48, 0x89, 0x74, 0x24, 0x20, 0x57, 0x48, 0x83, 0xEC,
                           0x40, 0x80, 0xB9, 0xB1, 0x1F, 0x00, 0x00, 0x00};
const Bytes kShadowBuild = {0x4C, 0x89, 0x44, 0x24, 0x18, 0x48, 0x89, 0x54, 0x24, 0x10, 0x48, 0x89, 0x4C, 0x24, 0x08};

struct Row {
  size_t index;
  uint64_t rva;
  Bytes expected;
  const void* hookBody;
};

std::vector<Row> entryRows() {
  return {{kGpuCopySite, 0x3ACD00, kGpuCopy, reinterpret_cast<const void*>(&GpuCopyHook)},
          {kPoseUploadSite, 0x2D0C80, kPoseUpload, reinterpret_cast<const void*>(&PoseUploadHook)},
          {kShadowBuild0Site, 0x3CA3B0, kShadowBuild, reinterpret_cast<const void*>(&shadowCasterProxy0)},
          {kShadowBuild1Site, 0x3CACE0, kShadowBuild, reinterpret_cast<const void*>(&shadowCasterProxy1)}};
}

TEST(PatchSites, TableRowsHoldTheHostBytesAndHookBodies) {
  const PatchSite& call = patchSites[kViewCopySite];
  EXPECT_EQ(call.rva, 0xA395A6u);
  EXPECT_EQ(Bytes(call.expected, call.expected + call.length), (Bytes{0xE8, 0xE5, 0xB4, 0x62, 0xFF}));
  EXPECT_EQ(call.stub, StubKind::relay);
  EXPECT_EQ(call.hookBody, reinterpret_cast<const void*>(&ViewCopyHook));
  for (const Row& row : entryRows()) {
    const PatchSite& site = patchSites[row.index];
    SCOPED_TRACE(row.rva);
    EXPECT_EQ(site.rva, row.rva);
    EXPECT_EQ(Bytes(site.expected, site.expected + site.length), row.expected);
    EXPECT_EQ(site.stub, StubKind::trampoline);
    EXPECT_EQ(site.hookBody, row.hookBody);
  }
}

TEST(StubBytes, RelayLoadsTheHookIntoRaxAndJumps) {
  uint8_t relay[kRelayLength];
  buildRelay(relay, 0x1122334455667788ull);
  EXPECT_EQ(Bytes(relay, relay + kRelayLength),
            (Bytes{0x48, 0xB8, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0xFF, 0xE0}));
}

TEST(StubBytes, TrampolinesRunTheDisplacedBytesThenJumpBackPastThem) {
  const uint64_t hostBase = 0x140000000ull;
  const size_t expectedLengths[] = {33, 31, 29, 29};
  size_t i = 0;
  for (const Row& row : entryRows()) {
    SCOPED_TRACE(row.rva);
    const uint64_t resume = hostBase + row.rva + row.expected.size();
    uint8_t out[64];
    ASSERT_EQ(trampolineLength(row.expected.size()), expectedLengths[i++]);
    buildTrampoline(out, row.expected.data(), row.expected.size(), resume);
    const Bytes want = concat({row.expected, {0xFF, 0x25, 0x00, 0x00, 0x00, 0x00}, littleEndian(resume)});
    EXPECT_EQ(Bytes(out, out + trampolineLength(row.expected.size())), want);
  }
}

TEST(StubBytes, EntryPatchesJumpToTheHookAndPadWithNops) {
  const uint64_t hook = 0x00007FF612345678ull;
  const size_t padding[] = {5, 3, 1, 1};
  size_t i = 0;
  for (const Row& row : entryRows()) {
    SCOPED_TRACE(row.rva);
    uint8_t out[32];
    std::fill(std::begin(out), std::end(out), 0xCC);
    buildEntryPatch(out, row.expected.size(), hook);
    const Bytes want = concat({{0xFF, 0x25, 0x00, 0x00, 0x00, 0x00}, littleEndian(hook), Bytes(padding[i++], 0x90)});
    EXPECT_EQ(Bytes(out, out + row.expected.size()), want);
    EXPECT_EQ(out[row.expected.size()], 0xCC) << "wrote past the site";
  }
}

TEST(StubBytes, CallPatchDisplacementIsMeasuredFromTheNextInstruction) {
  uint8_t out[kCallLength];
  buildCallPatch(out, 0x140A395A6ull, 0x140A395A6ull + 0x1000);
  EXPECT_EQ(Bytes(out, out + 5), (Bytes{0xE8, 0xFB, 0x0F, 0x00, 0x00}));
  buildCallPatch(out, 0x140A395A6ull, 0x140A395A6ull - 0x10000);
  EXPECT_EQ(Bytes(out, out + 5), (Bytes{0xE8, 0xFB, 0xFF, 0xFE, 0xFF}));
  // The site's original bytes are this very encoding of a call to RVA 0x64A90.
  buildCallPatch(out, 0xA395A6, 0x64A90);
  EXPECT_EQ(Bytes(out, out + 5), (Bytes{0xE8, 0xE5, 0xB4, 0x62, 0xFF}));
}

TEST(StubBytes, CallRangeEndsWhereTheDisplacementStopsFittingRel32) {
  const uintptr_t site = 0x100000000ull;
  EXPECT_TRUE(relayWithinCallRange(site, site + 0x80000004ull));
  EXPECT_FALSE(relayWithinCallRange(site, site + 0x80000005ull));
  EXPECT_TRUE(relayWithinCallRange(site, site - 0x7FFFFFFBull));
  EXPECT_FALSE(relayWithinCallRange(site, site - 0x7FFFFFFCull));
  uint8_t out[kCallLength];
  buildCallPatch(out, site, site + 0x80000004ull);
  EXPECT_EQ(Bytes(out, out + 5), (Bytes{0xE8, 0xFF, 0xFF, 0xFF, 0x7F}));
  buildCallPatch(out, site, site - 0x7FFFFFFBull);
  EXPECT_EQ(Bytes(out, out + 5), (Bytes{0xE8, 0x00, 0x00, 0x00, 0x80}));
}

}  // namespace
