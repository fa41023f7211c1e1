// Timing inside the stand-in game under Wine: processor ticks calibrated
// against the performance counter, the stand-in functions wrapped so that the
// time spent inside them can be taken out of a hooked call, and corvane.dll's
// import of VirtualQuery (its address probe) timed the same way.
#pragma once
#include <cstddef>
#include <cstdint>

// Ticks now (the processor's time-stamp counter).
uint64_t ticksNow();
// Measures the tick rate against QueryPerformanceCounter over `milliseconds`.
void calibrateTicks(unsigned milliseconds);
double ticksToNs(uint64_t ticks);

// Time spent inside the stand-in game's functions and inside VirtualQuery
// calls made by corvane.dll, summed per thread since the last take.
struct ThreadTicks {
  uint64_t standIn;
  uint64_t probe;
  uint64_t probeCalls;
};
ThreadTicks takeThreadTicks();

// Points the stand-in function that the code at `entry` jumps to (mov rax,
// imm64; jmp rax within the first `searchBytes` bytes) at `wrapper`, and
// returns the old target in `*original`. False when no such jump is there.
bool redirectStandIn(uint8_t* entry, size_t searchBytes, const void* wrapper, void** original);

// Wrappers for the five stand-in functions; they call the original, adding
// its time to the thread's standIn ticks. Install with wrapStandIns after the
// stand-in image is written and before corvane.dll is loaded.
bool wrapStandIns(uint8_t* base);

// Replaces corvane.dll's import of KERNEL32!VirtualQuery by a timed one.
bool timeAddressProbes();
