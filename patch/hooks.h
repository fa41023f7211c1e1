// The five redirected places of the host, the stubs that reach the host's own
// code, and the hook bodies they lead to.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace corvane::patch {

// Host function types (Windows x64 convention on every build).
using ViewCopyFunction = uint64_t(CORVANE_HOSTCALL*)(void* destination, void* source, uint64_t a3, uint64_t a4);
using GpuCopyFunction = uint64_t(CORVANE_HOSTCALL*)(void** outSlot, uint64_t value, float f, const uint8_t* block);
using PoseUploadFunction = uint64_t(CORVANE_HOSTCALL*)(uint8_t* record, uint64_t value);
using ShadowBuild0Function = uint64_t(CORVANE_HOSTCALL*)(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5,
                                                         float a6);
using ShadowBuild1Function = uint64_t(CORVANE_HOSTCALL*)(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5,
                                                         float a6, int32_t a7, uint64_t a8);

// Written once by the installers, before the patch that leads to their readers.
extern std::atomic<ViewCopyFunction> hostViewCopy;
extern std::atomic<GpuCopyFunction> gpuCopyTrampoline;
extern std::atomic<void*> gpuCopyInstalled;
extern std::atomic<PoseUploadFunction> poseUploadTrampoline;
extern std::atomic<void*> poseUploadInstalled;
extern std::atomic<void*> shadowTrampolines[2];
// The view-copy Relay; used by installCameraHook only.
extern std::atomic<void*> viewCopyRelay;

// Installers, run by the install worker in this order; each logs one line.
bool installCameraHook();
bool installGpuCopyHook();
bool installPoseUploadHook();
bool installShadowProxies();

}  // namespace corvane::patch

// Hook bodies, each with the signature of the host function it stands for: the
// entry points the patches lead to, kept in the global namespace.
uint64_t CORVANE_HOSTCALL ViewCopyHook(void* destination, void* source, uint64_t a3, uint64_t a4);
uint64_t CORVANE_HOSTCALL GpuCopyHook(void** outSlot, uint64_t value, float f, const uint8_t* block);
uint64_t CORVANE_HOSTCALL PoseUploadHook(uint8_t* record, uint64_t value);
uint64_t CORVANE_HOSTCALL shadowCasterProxy0(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, float a6);
uint64_t CORVANE_HOSTCALL shadowCasterProxy1(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, float a6,
                                             int32_t a7, uint64_t a8);
