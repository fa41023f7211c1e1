// Everything Corvane uses of the host, Dishonored2.exe of the GOG 1.77.9.0
// build: RVAs from its load address and offsets into its records.
#pragma once
#include <cstdint>
#include <cstring>

namespace corvane::bootstrap {

// Load address of the host's main module; every RVA is added to it. Written once
// by the install worker before any hook exists.
extern uint8_t* hostBase;

// A field of one of the host's records, already probed readable. Host records
// carry no alignment promise, so every field goes through memcpy.
template <typename T>
inline T readField(const uint8_t* record, uint64_t offset) {
  T value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

template <typename T>
inline void writeField(uint8_t* record, uint64_t offset, T value) {
  std::memcpy(record + offset, &value, sizeof value);
}

template <typename T = uint8_t>
inline T* hostAddress(uint64_t rva) {
  return reinterpret_cast<T*>(hostBase + rva);
}

// View-copy call site and the function it calls.
constexpr uint64_t kViewCopyCallSiteRva = 0xA395A6;
constexpr uint8_t kViewCopyCallSiteBytes[5] = {0xE8, 0xE5, 0xB4, 0x62, 0xFF};
constexpr uint64_t kViewCopyFunctionRva = 0x64A90;

// View record.
constexpr uint64_t kViewOriginOffset = 0xA8;
constexpr uint64_t kViewOriginCopyOffset = 0xC0;
constexpr uint64_t kViewAxesOffset = 0xCC;

// Clock record, behind a pointer; present when its first 8 bytes are this class.
constexpr uint64_t kClockPointerRva = 0x288D608;
constexpr uint64_t kClockClassRva = 0x1F02138;
constexpr uint64_t kClockPresentationTimeOffset = 0x2E7490;
constexpr uint64_t kClockSampleTimeOffset = 0x2E74E0;

// Console-variable values (32-bit integers).
constexpr uint64_t kDisableFrameSpinningRva = 0x288E958;
constexpr uint64_t kTripleBufferingRva = 0x359E228;
constexpr uint64_t kFixMouseSensibilityRva = 0x3BF2FA8;

// Function entries patched with trampolines, and the bytes each must hold.
constexpr uint64_t kGpuCopyRva = 0x3ACD00;
constexpr uint64_t kPoseUploadRva = 0x2D0C80;
constexpr uint64_t kShadowBuild0Rva = 0x3CA3B0;
constexpr uint64_t kShadowBuild1Rva = 0x3CACE0;
// mov [rsp+8],rbx; movss [rsp+18h],xmm2; push rdi; sub rsp,0C0h
constexpr uint8_t kGpuCopyEntryBytes[19] = {0x48, 0x89, 0x5C, 0x24, 0x08, 0xF3, 0x0F, 0x11, 0x54, 0x24,
                                            0x18, 0x57, 0x48, 0x81, 0xEC, 0xC0, 0x00, 0x00, 0x00};
// mov [rsp+20h],rsi; push rdi; sub rsp,40h; cmp byte [rcx+1FB1h],0
// (the compare's flags are consumed by the host instruction right after it)
constexpr uint8_t kPoseUploadEntryBytes[17] = {0x48, 0x89, 0x74, 0x24, 0x20, 0x57, 0x48, 0x83, 0xEC,
                                               0x40, 0x80, 0xB9, 0xB1, 0x1F, 0x00, 0x00, 0x00};
// mov [rsp+18h],r8; mov [rsp+10h],rdx; mov [rsp+8],rcx (both shadow builds)
constexpr uint8_t kShadowBuildEntryBytes[15] = {0x4C, 0x89, 0x44, 0x24, 0x18, 0x48, 0x89, 0x54,
                                                0x24, 0x10, 0x48, 0x89, 0x4C, 0x24, 0x08};

// Model records.
constexpr uint64_t kStaticModelClassRva = 0x1E55208;
constexpr uint64_t kSkinnedModelClassRva = 0x1E55008;
constexpr uint64_t kModelRecordLength = 0x1CD0;
constexpr uint64_t kSkinnedModelRecordLength = 0x2130;
constexpr uint64_t kModelCurrentWorldOffset = 0x020;
constexpr uint64_t kModelPreviousWorldOffset = 0x060;
constexpr uint64_t kModelCurrentInverseOffset = 0x0A0;
constexpr uint64_t kModelPreviousInverseOffset = 0x0E0;
constexpr uint64_t kModelCurrentDerived1Offset = 0x120;
constexpr uint64_t kModelPreviousDerived1Offset = 0x160;
constexpr uint64_t kModelCurrentDerived2Offset = 0x1A0;
constexpr uint64_t kModelPreviousDerived2Offset = 0x1E0;
constexpr uint64_t kModelDepthValueOffset = 0x18B8;
constexpr uint64_t kModelOwnerOffset = 0x1C50;
constexpr uint64_t kModelPaletteFlagsOffset = 0x1FB0;
constexpr uint64_t kModelUploadPendingOffset = 0x1FB1;
constexpr uint64_t kModelJointsOffset = 0x1FE0;
constexpr uint64_t kModelAssetOffset = 0x1FE8;
constexpr uint64_t kModelPaletteOffset = 0x1FF8;
constexpr uint64_t kModelPaddedJointsOffset = 0x2000;
// The padded joint count occupies the low 24 bits of its 32-bit field.
constexpr uint32_t kPaddedJointsMask = 0x00FFFFFFu;

// Shadow caster lists.
constexpr uint64_t kCasterEntrySize = 48;
constexpr uint64_t kCasterTransformOffset = 0x8;
constexpr uint64_t kCasterListCountOffset = 0x8;

// The SHA-256 of the host executable this build accepts.
extern const uint8_t expectedHostDigest[32];

}  // namespace corvane::bootstrap
