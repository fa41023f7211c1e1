// The stand-in game's renderer threads: the calling thread and `threads` - 1
// workers kept for the whole session. A phase runs one piece of work on every
// renderer thread at once and waits for all of them; each thread times its own
// calls, and the phase returns the time inside the hook bodies summed over the
// threads (the calls' time minus the time inside the stand-in functions), and
// the part of it spent in address probes and how many probes were made.
#pragma once
#include <cstdint>

// Work for one renderer thread: its share of the calls, returning the ticks
// spent inside those calls (ticksNow() around each).
using RendererWork = uint64_t (*)(uint32_t thread, uint32_t threads);

struct PhaseCost {
  double hookNs;
  double probeNs;
  uint64_t probeCalls;
};

void startRendererThreads(uint32_t threads);
void stopRendererThreads();
PhaseCost runRendererPhase(RendererWork work);
