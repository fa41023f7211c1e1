#include "tests/session/win_renderer.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/session/win_timing.h"

namespace {

constexpr uint32_t kMostThreads = 16;

struct Pool {
  std::mutex lock;
  std::condition_variable start, done;
  uint64_t generation = 0;
  uint32_t finished = 0;
  bool stopping = false;
  RendererWork work = nullptr;
  uint32_t threads = 1;
  uint64_t hookTicks[kMostThreads];
  uint64_t probeTicks[kMostThreads];
  uint64_t probeCalls[kMostThreads];
  std::vector<std::thread> workers;
};

Pool pool;

void runShare(uint32_t thread) {
  takeThreadTicks();
  const uint64_t inCalls = pool.work(thread, pool.threads);
  const ThreadTicks inside = takeThreadTicks();
  pool.hookTicks[thread] = inCalls > inside.standIn ? inCalls - inside.standIn : 0;
  pool.probeTicks[thread] = inside.probe;
  pool.probeCalls[thread] = inside.probeCalls;
}

void worker(uint32_t thread) {
  uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> guard(pool.lock);
      pool.start.wait(guard, [&] { return pool.stopping || pool.generation != seen; });
      if (pool.stopping) return;
      seen = pool.generation;
    }
    runShare(thread);
    std::lock_guard<std::mutex> guard(pool.lock);
    if (++pool.finished == pool.threads - 1) pool.done.notify_one();
  }
}

}  // namespace

void startRendererThreads(uint32_t threads) {
  pool.threads = threads < 1 ? 1 : threads > kMostThreads ? kMostThreads : threads;
  for (uint32_t t = 1; t < pool.threads; ++t) pool.workers.emplace_back(worker, t);
}

void stopRendererThreads() {
  {
    std::lock_guard<std::mutex> guard(pool.lock);
    pool.stopping = true;
  }
  pool.start.notify_all();
  for (std::thread& t : pool.workers) t.join();
  pool.workers.clear();
  pool.stopping = false;
}

PhaseCost runRendererPhase(RendererWork work) {
  {
    std::lock_guard<std::mutex> guard(pool.lock);
    pool.work = work;
    pool.finished = 0;
    ++pool.generation;
  }
  pool.start.notify_all();
  runShare(0);
  {
    std::unique_lock<std::mutex> guard(pool.lock);
    pool.done.wait(guard, [] { return pool.finished == pool.threads - 1; });
  }
  PhaseCost cost{0.0, 0.0, 0};
  for (uint32_t t = 0; t < pool.threads; ++t) {
    cost.hookNs += ticksToNs(pool.hookTicks[t]);
    cost.probeNs += ticksToNs(pool.probeTicks[t]);
    cost.probeCalls += pool.probeCalls[t];
  }
  return cost;
}
